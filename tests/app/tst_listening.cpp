// SPDX-License-Identifier: GPL-3.0-or-later
// Listening for real: a private PulseAudio daemon with a null sink, a capture device made from
// the sink's monitor and set as the default input, started after the Listen window opened, a
// generated beacon pass played into the sink, and the Listen window's lines arriving in Text2.
// Without a sound server the test is skipped.
#include "cwtesting.h"
#include "listenwindow.h"
#include "livecopy.h"
#include "processtesting.h"
#include "waterfall.h"
#include "windowtesting.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <optional>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString SinkName = u"beacon"_s;
const QString SourceName = u"receiver"_s;
const QString SourceDescription = u"Receiver"_s;

// A PulseAudio daemon of this test's own: its socket, runtime folder and cookie in a temporary
// folder, set for this process before Qt Multimedia first asks for a server. It is stopped by
// its process id when the test ends.
class PrivateSoundServer
{
public:
    ~PrivateSoundServer() { stop(); }

    void stop()
    {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    // Points this process at the daemon to come; empty when it can run, otherwise why not.
    QString prepare()
    {
        if (QStandardPaths::findExecutable(u"pulseaudio"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"pactl"_s).isEmpty())
            return u"pulseaudio and pactl (pulseaudio-utils) are not installed"_s;
        if (!m_folder.isValid())
            return u"no temporary folder"_s;
        qputenv("XDG_RUNTIME_DIR", m_folder.path().toLocal8Bit());
        qputenv("PULSE_RUNTIME_PATH", m_folder.path().toLocal8Bit());
        qputenv("PULSE_SERVER", ("unix:" + socket()).toLocal8Bit());
        qputenv("PULSE_COOKIE", m_folder.filePath(u"cookie"_s).toLocal8Bit());
        return {};
    }

    // Empty when the daemon runs and answers; otherwise why not.
    QString start()
    {
        const QString pulseaudio = QStandardPaths::findExecutable(u"pulseaudio"_s);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_folder.path());
        m_daemon.setProcessEnvironment(environment);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(
            pulseaudio,
            {u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s,
             u"--disable-shm=yes"_s, u"--load=module-null-sink sink_name="_s + SinkName,
             u"--load=module-native-protocol-unix auth-anonymous=1 socket="_s + socket()});
        if (!m_daemon.waitForStarted(5000))
            return u"pulseaudio did not start: "_s + m_daemon.errorString();
        // A loaded machine may take long to start it: wait for its answer, not for a time.
        const QDeadlineTimer deadline(60'000);
        while (!deadline.hasExpired()) {
            if (m_daemon.state() != QProcess::Running)
                return u"pulseaudio ended: "_s +
                       QString::fromLocal8Bit(m_daemon.readAll()).trimmed();
            if (control({u"info"_s}))
                return {};
            QTest::qWait(50);
        }
        return u"pulseaudio never answered"_s;
    }

    // Whether pactl did what it was told.
    bool control(const QStringList &arguments) const
    {
        return runProgram(u"pactl"_s, arguments, QProcessEnvironment::systemEnvironment(), {},
                          30000)
                   .exitCode == 0;
    }

    // Plays a recording into the sink and returns without waiting for its end.
    bool play(const QString &path)
    {
        m_player.start(u"paplay"_s, {u"--device="_s + SinkName, path});
        return m_player.waitForStarted(5000);
    }

private:
    QString socket() const { return m_folder.filePath(u"native"_s); }

    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_player;
};

// The pitch a label shows ("Pitch: 700 Hz (held)"), 0 while it shows none.
int shownHz(const QLabel &label)
{
    return QRegularExpression(u"(\\d+) Hz"_s).match(label.text()).captured(1).toInt();
}

} // namespace

class TestListening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (const QString problem = m_server.prepare(); !problem.isEmpty())
            QSKIP(qPrintable(u"no sound server can run: "_s + problem));
    }

    // The first test, before any sound server runs: the window opens without one, Start says why it
    // cannot start, and the server's inputs appear in the list once it runs, the default one
    // chosen; "tovrin3 --listen" then starts on it.
    void inputsAppearWhenServerStartsLater()
    {
        auto shown = showWindow();
        ListenWindow *listen = shown->window.showListenWindow();
        auto *inputs = control<QComboBox>(*listen, "Combo1");
        auto *status = control<QLabel>(*listen, "LblStatus");
        QCOMPARE(inputs->count(), 0);
        control<QPushButton>(*listen, "CmdStart")->click();
        QVERIFY(!listen->isListening());
        QVERIFY2(status->text().startsWith(u"No sound server answers"_s),
                 qPrintable(status->text()));
        listen->startDefaultInput();
        QVERIFY(!listen->isListening());

        if (const QString problem = ensureServer(); !problem.isEmpty())
            QSKIP(qPrintable(u"no sound server could be started: "_s + problem));

        QTRY_VERIFY_WITH_TIMEOUT(listen->isListening(), 60000);
        QCOMPARE(inputs->currentText(), SourceDescription);
        control<QPushButton>(*listen, "CmdStop")->click();
        QVERIFY(!listen->isListening());
        control<QPushButton>(*listen, "CmdStart")->click();
        QVERIFY2(listen->isListening(), qPrintable(status->text()));

        // A window deleted while it listens, as when the program ends without closing it first,
        // ends the capture on its way out (one stopped first: copiesBeaconFromDefaultInput).
        const QPointer<ListenWindow> gone = listen;
        shown.reset();
        QVERIFY(gone.isNull());
    }

    // Three transmissions, the middle one at another pitch. Each is announced as a line of its own
    // once its break has been heard. Pitch and speed show while the first is being copied, the mark
    // on its trace; a click on the trace then holds the pitch there, and the transmission at the
    // other pitch moves neither the held value nor its mark, while the last one is copied on it.
    // Every step waits for the window's own signals, never for a time: under load the capture may
    // deliver seconds of sound at once.
    void copiesBeaconFromDefaultInput()
    {
        const double pitchHz = 700.0;
        const double otherPitchHz = 1100.0;
        if (const QString problem = ensureServer(); !problem.isEmpty())
            QSKIP(qPrintable(u"no sound server could be started: "_s + problem));
        const QStringList sent = beaconFrames(3, 11);
        cwgen::KeyingSettings settings = cwTestKeying(16000.0, 40.0);
        settings.snrDb = 20.0;
        settings.leadSeconds = 1.5;
        std::vector<float> pass;
        for (qsizetype line = 0; line < sent.size(); ++line) {
            settings.pitchHz = line == 1 ? otherPitchHz : pitchHz;
            const std::vector<float> samples = cwgen::keyTransmissions({sent[line]}, settings);
            pass.insert(pass.end(), samples.begin(), samples.end());
        }
        QTemporaryDir folder;
        const QString recording = folder.filePath(u"pass.wav"_s);
        QVERIFY(cwgen::writeWav(recording, pass, static_cast<int>(settings.sampleRate)));

        const auto shown = showWindow();
        ListenWindow *listen = shown->window.showListenWindow();
        listen->startDefaultInput();
        QVERIFY2(listen->isListening(), qPrintable(control<QLabel>(*listen, "LblStatus")->text()));
        const auto *pitch = control<QLabel>(*listen, "LblPitch");
        const auto *speed = control<QLabel>(*listen, "LblSpeed");
        auto *waterfall = control<Waterfall>(*listen, "Picture1");
        QSignalSpy lines(listen, &ListenWindow::lineCopied);
        QSignalSpy levels(control<QProgressBar>(*listen, "Level1"), &QProgressBar::valueChanged);
        // The lines announced when the window first showed a pitch: the window shows it from the
        // same report, before this connection's turn.
        auto *liveCopy = listen->findChild<LiveCopy *>();
        qsizetype linesWhenPitchShown = -1;
        const QObject firstPitch;
        connect(liveCopy, &LiveCopy::statusChanged, &firstPitch, [&] {
            if (linesWhenPitchShown < 0 && shownHz(*pitch) > 0)
                linesWhenPitchShown = lines.count();
        });

        QVERIFY(m_server.play(recording));

        QTRY_VERIFY_WITH_TIMEOUT(linesWhenPitchShown >= 0, 60000);
        QVERIFY2(linesWhenPitchShown == 0,
                 "the pitch showed only after the first transmission ended");
        QVERIFY2(std::abs(shownHz(*pitch) - pitchHz) <= 5.0, qPrintable(pitch->text()));
        QVERIFY2(speed->text().contains(u"WPM"_s), qPrintable(speed->text()));
        QCOMPARE_LT(std::abs(waterfall->markHz() - shownHz(*pitch)), 1.0);
        QCOMPARE_LE(std::abs(waterfall->traceHz() - waterfall->markHz()), 16.0);

        // A click a pixel beside the mark, as a user's hand puts it.
        const QPoint click(waterfall->positionOf(waterfall->markHz()) + 1, waterfall->height() / 2);
        const auto heldHz = static_cast<int>(std::lround(waterfall->frequencyAt(click.x())));
        const QString heldText = u"Pitch: %1 Hz (held)"_s.arg(heldHz);
        QTest::mouseClick(waterfall, Qt::LeftButton, {}, click);
        QCOMPARE(pitch->text(), heldText);

        // Every report of the demodulator from here on, as the window shows it.
        QStringList shownWhileHeld;
        bool otherTraceSeen = false;
        const QObject watching;
        connect(liveCopy, &LiveCopy::statusChanged, &watching, [&] {
            if (pitch->text() != heldText || std::lround(waterfall->markHz()) != heldHz)
                shownWhileHeld.append(pitch->text() + u", mark at "_s +
                                      QString::number(waterfall->markHz()));
            otherTraceSeen =
                otherTraceSeen || std::abs(waterfall->traceHz() - otherPitchHz) <= 16.0;
        });
        QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 2, 120000);
        // The key-down level of the pass is 6 dB below full scale.
        QVERIFY(std::any_of(levels.cbegin(), levels.cend(),
                            [](const QList<QVariant> &level) { return level[0].toInt() >= 50; }));
        QVERIFY(otherTraceSeen);
        QVERIFY2(shownWhileHeld.isEmpty(), qPrintable(shownWhileHeld.join(u"; "_s)));
        QCOMPARE(inputText(shown->window).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{sent[0], sent[2]}));
        QCOMPARE(shown->window.frameHistory().frameCount(), 2);
    }

    // The sound server gone while listening: the capture ends and the window says why, and says why
    // again when Start is pressed. The last test, as it stops the server.
    void serverThatGoesAwayIsReported()
    {
        if (const QString problem = ensureServer(); !problem.isEmpty())
            QSKIP(qPrintable(u"no sound server could be started: "_s + problem));
        const auto shown = showWindow();
        ListenWindow *listen = shown->window.showListenWindow();
        listen->startDefaultInput();
        QVERIFY(listen->isListening());

        m_server.stop();

        QTRY_VERIFY_WITH_TIMEOUT(!listen->isListening(), 30000);
        const QString status = control<QLabel>(*listen, "LblStatus")->text();
        QVERIFY2(status.contains(SourceDescription) && status.contains(u"cannot be used"_s),
                 qPrintable(status));
        QVERIFY(!control<QPushButton>(*listen, "CmdStop")->isEnabled());

        control<QPushButton>(*listen, "CmdStart")->click();
        QVERIFY(!listen->isListening());
        const QString again = control<QLabel>(*listen, "LblStatus")->text();
        QVERIFY2(again.contains(u"sound server does not answer"_s) ||
                     again.startsWith(u"No sound server answers"_s),
                 qPrintable(again));
    }

private:
    // Starts the server with the receiver as its default input, once; empty when it runs, otherwise
    // why not.
    QString ensureServer()
    {
        if (m_serverProblem)
            return *m_serverProblem;
        m_serverProblem = m_server.start();
        if (m_serverProblem->isEmpty() &&
            (!m_server.control({u"load-module"_s, u"module-remap-source"_s,
                                u"master="_s + SinkName + u".monitor"_s,
                                u"source_name="_s + SourceName,
                                u"source_properties=device.description="_s + SourceDescription}) ||
             !m_server.control({u"set-default-source"_s, SourceName})))
            m_serverProblem = u"pactl could not make the receiver input"_s;
        return *m_serverProblem;
    }

    PrivateSoundServer m_server;
    std::optional<QString> m_serverProblem;
};

QTEST_MAIN(TestListening)
#include "tst_listening.moc"
