// SPDX-License-Identifier: GPL-3.0-or-later
// Listening for real: a private PulseAudio daemon with a null sink, a capture device made from
// the sink's monitor and set as the default input, started after the Listen window opened, a
// generated beacon pass played into the sink, and the Listen window's lines arriving in Text2.
// Without a sound server the test is skipped.
#include "cwsignal.h"
#include "listenwindow.h"
#include "windowtesting.h"

#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>

#include <algorithm>
#include <optional>
#include <random>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString SinkName = QStringLiteral("beacon");
const QString SourceName = QStringLiteral("receiver");
const QString SourceDescription = QStringLiteral("Receiver");

// A PulseAudio daemon of this test's own: its socket, runtime folder and cookie in a temporary
// folder, set for this process before Qt Multimedia first asks for a server. It is stopped by
// its process id when the test ends.
class PrivateSoundServer
{
public:
    ~PrivateSoundServer() { stop(); }

    void stop()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    // Points this process at the daemon to come; empty when it can run, otherwise why not.
    QString prepare()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            return QStringLiteral("pulseaudio and pactl (pulseaudio-utils) are not installed");
        if (!m_folder.isValid())
            return QStringLiteral("no temporary folder");
        qputenv("XDG_RUNTIME_DIR", m_folder.path().toLocal8Bit());
        qputenv("PULSE_RUNTIME_PATH", m_folder.path().toLocal8Bit());
        qputenv("PULSE_SERVER", ("unix:" + socket()).toLocal8Bit());
        qputenv("PULSE_COOKIE", m_folder.filePath(QStringLiteral("cookie")).toLocal8Bit());
        return {};
    }

    // Empty when the daemon runs and answers; otherwise why not.
    QString start()
    {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_folder.path());
        m_daemon.setProcessEnvironment(environment);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(pulseaudio,
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=20"), QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("--disable-shm=yes"),
                        QStringLiteral("--load=module-null-sink sink_name=") + SinkName,
                        QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                       "socket=") +
                            socket()});
        if (!m_daemon.waitForStarted(5000))
            return QStringLiteral("pulseaudio did not start: ") + m_daemon.errorString();
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (m_daemon.state() != QProcess::Running)
                return QStringLiteral("pulseaudio ended: ") +
                       QString::fromLocal8Bit(m_daemon.readAll()).trimmed();
            if (control({QStringLiteral("info")}))
                return {};
            QTest::qWait(50);
        }
        return QStringLiteral("pulseaudio never answered");
    }

    // What pactl printed, or nothing when it failed.
    std::optional<QString> control(const QStringList &arguments) const
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), arguments);
        if (!pactl.waitForFinished(5000) || pactl.exitStatus() != QProcess::NormalExit ||
            pactl.exitCode() != 0)
            return std::nullopt;
        return QString::fromLocal8Bit(pactl.readAllStandardOutput()).trimmed();
    }

    // Plays a recording into the sink and returns without waiting for its end.
    bool play(const QString &path)
    {
        m_player.start(QStringLiteral("paplay"), {QStringLiteral("--device=") + SinkName, path});
        return m_player.waitForStarted(5000);
    }

private:
    QString socket() const { return m_folder.filePath(QStringLiteral("native")); }

    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_player;
};

QStringList nonEmptyLines(const QString &text)
{
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestListening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inputsAppearWhenServerStartsLater();
    void copiesBeaconFromDefaultInput();
    void serverThatGoesAwayIsReported();

private:
    QString ensureServer();

    PrivateSoundServer m_server;
    std::optional<QString> m_serverProblem;
};

void TestListening::initTestCase()
{
    if (const QString problem = m_server.prepare(); !problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server can run: ") + problem));
}

// The first test, before any sound server runs: the window opens without one, Start says why it
// cannot start, and the server's inputs appear in the list once it runs, the default one chosen;
// "tovrin3 --listen" then starts on it.
void TestListening::inputsAppearWhenServerStartsLater()
{
    const auto shown = showWindow();
    ListenWindow *listen = shown->window.showListenWindow();
    auto *inputs = control<QComboBox>(*listen, "Combo1");
    auto *status = control<QLabel>(*listen, "LblStatus");
    QCOMPARE(inputs->count(), 0);
    control<QPushButton>(*listen, "CmdStart")->click();
    QVERIFY(!listen->isListening());
    QVERIFY2(status->text().startsWith(QStringLiteral("No sound server answers")),
             qPrintable(status->text()));
    listen->startDefaultInput();
    QVERIFY(!listen->isListening());

    if (const QString problem = ensureServer(); !problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server could be started: ") + problem));

    QTRY_VERIFY_WITH_TIMEOUT(listen->isListening(), 15000);
    QCOMPARE(inputs->currentText(), SourceDescription);
    control<QPushButton>(*listen, "CmdStop")->click();
    QVERIFY(!listen->isListening());
    control<QPushButton>(*listen, "CmdStart")->click();
    QVERIFY2(listen->isListening(), qPrintable(status->text()));
    control<QPushButton>(*listen, "CmdStop")->click();
}

// Starts the server with the receiver as its default input, once; empty when it runs, otherwise
// why not.
QString TestListening::ensureServer()
{
    if (m_serverProblem)
        return *m_serverProblem;
    m_serverProblem = m_server.start();
    if (m_serverProblem->isEmpty() &&
        (!m_server.control(
             {QStringLiteral("load-module"), QStringLiteral("module-remap-source"),
              QStringLiteral("master=") + SinkName + QStringLiteral(".monitor"),
              QStringLiteral("source_name=") + SourceName,
              QStringLiteral("source_properties=device.description=") + SourceDescription}) ||
         !m_server.control({QStringLiteral("set-default-source"), SourceName})))
        m_serverProblem = QStringLiteral("pactl could not make the receiver input");
    return *m_serverProblem;
}

// Each transmission reaches Text2 as a line of its own once its break has been heard.
void TestListening::copiesBeaconFromDefaultInput()
{
    if (const QString problem = ensureServer(); !problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server could be started: ") + problem));
    std::mt19937 random(11);
    const QStringList sent{cwgen::randomBeaconLine(random), cwgen::randomBeaconLine(random)};
    cwgen::KeyingSettings settings;
    settings.sampleRate = 16000.0;
    settings.wordsPerMinute = 40.0;
    settings.snrDb = 20.0;
    settings.leadSeconds = 1.5;
    settings.gapSeconds = 2.0;
    QTemporaryDir folder;
    const QString recording = folder.filePath(QStringLiteral("pass.wav"));
    QVERIFY(cwgen::writeWav(recording, cwgen::keyTransmissions(sent, settings),
                            static_cast<int>(settings.sampleRate)));

    const auto shown = showWindow();
    ListenWindow *listen = shown->window.showListenWindow();
    listen->startDefaultInput();
    QCOMPARE(control<QComboBox>(*listen, "Combo1")->currentText(), SourceDescription);
    QVERIFY2(listen->isListening(), qPrintable(control<QLabel>(*listen, "LblStatus")->text()));
    QSignalSpy lines(listen, &ListenWindow::lineCopied);
    QSignalSpy levels(control<QProgressBar>(*listen, "Level1"), &QProgressBar::valueChanged);

    QVERIFY(m_server.play(recording));

    // The key-down level of the pass is 6 dB below full scale.
    QTRY_VERIFY(std::any_of(levels.cbegin(), levels.cend(),
                            [](const QList<QVariant> &level) { return level[0].toInt() >= 50; }));
    QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 2, 60000);
    QCOMPARE(nonEmptyLines(control<QPlainTextEdit>(shown->window, "Text2")->toPlainText()), sent);
    QCOMPARE(shown->window.frameHistory().frameCount(), 2);
    const QString pitch = control<QLabel>(*listen, "LblPitch")->text();
    const auto hz =
        QRegularExpression(QStringLiteral("(\\d+) Hz")).match(pitch).captured(1).toInt();
    QVERIFY2(hz > 650 && hz < 750, qPrintable(pitch));

    control<QPushButton>(*listen, "CmdStop")->click();
    QVERIFY(!listen->isListening());
}

// The sound server gone while listening: the capture ends and the window says why, and says why
// again when Start is pressed. The last test, as it stops the server.
void TestListening::serverThatGoesAwayIsReported()
{
    if (const QString problem = ensureServer(); !problem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no sound server could be started: ") + problem));
    const auto shown = showWindow();
    ListenWindow *listen = shown->window.showListenWindow();
    listen->startDefaultInput();
    QVERIFY(listen->isListening());

    m_server.stop();

    QTRY_VERIFY_WITH_TIMEOUT(!listen->isListening(), 10000);
    const QString status = control<QLabel>(*listen, "LblStatus")->text();
    QVERIFY2(status.contains(SourceDescription) &&
                 status.contains(QStringLiteral("cannot be used")),
             qPrintable(status));
    QVERIFY(!control<QPushButton>(*listen, "CmdStop")->isEnabled());

    control<QPushButton>(*listen, "CmdStart")->click();
    QVERIFY(!listen->isListening());
    const QString again = control<QLabel>(*listen, "LblStatus")->text();
    QVERIFY2(again.contains(QStringLiteral("sound server does not answer")) ||
                 again.startsWith(QStringLiteral("No sound server answers")),
             qPrintable(again));
}

QTEST_MAIN(TestListening)
#include "tst_listening.moc"
