// SPDX-License-Identifier: GPL-3.0-or-later
// Beacon texts and recordings brought into the window: File > Open, drops and the command line
// all paste a file as one change of Text2; a recording is copied behind a progress dialog that can
// be cancelled; files that cannot be read are named and change nothing. Also the File menu and its
// keys.
#include "cwsignal.h"
#include "fileopening.h"
#include "filetesting.h"
#include "listenwindow.h"
#include "startoptions.h"
#include "windowtesting.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QUrl>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

QString input(const Form1 &window)
{
    return control<QPlainTextEdit>(window, "Text2")->toPlainText();
}

// Dialogs that answer from the test: the files to choose, and every failure written down.
struct AnsweredDialogs
{
    QStringList chosenFiles;
    int choices = 0;
    QStringList failures;

    void install(FileOpener &opener)
    {
        opener.setDialogs({[this] {
                               ++choices;
                               return chosenFiles;
                           },
                           [this](const QString &message) { failures.append(message); }});
    }
};

// A recording of the frame lines keyed at a speed the demodulator copies without doubt.
QString writeRecording(const QTemporaryDir &folder, const QStringList &lines)
{
    cwgen::KeyingSettings settings;
    settings.wordsPerMinute = 30.0;
    settings.snrDb = 20.0;
    settings.leadSeconds = 0.5;
    settings.gapSeconds = 2.0;
    const std::vector<float> samples = cwgen::keyTransmissions(lines, settings);
    const QString path = folder.filePath(QStringLiteral("pass.wav"));
    if (!cwgen::writeWav(path, samples, static_cast<int>(settings.sampleRate)))
        qFatal("the test recording could not be written");
    return path;
}

QStringList spacedFrameLines(int count)
{
    std::mt19937 random(7);
    QStringList lines;
    for (int line = 0; line < count; ++line)
        lines.append(cwgen::randomBeaconLine(random));
    return lines;
}

} // namespace

class TestFileOpening : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readsBeaconTexts_data();
    void readsBeaconTexts();
    void refusesWhatIsNotABeaconText_data();
    void refusesWhatIsNotABeaconText();
    void pastesTextFileOnceAfterWhatIsThere();
    void namesFilesThatCannotBeReadAndKeepsText();
    void copiesRecordingAsOnePaste();
    void cancelledRecordingPastesNothing();
    void dropOpensFilesInsteadOfInsertingTheirNames();
    void commandLineFilesOpenInOrder();
    void fileMenuHoldsItsCommandsInOrder_data();
    void fileMenuHoldsItsCommandsInOrder();
    void keysReachTheCommands();

private:
    FileOpener &opener() { return *m_shown->window.fileOpener(); }
    QString writeText(const QString &name, const QByteArray &content);

    std::unique_ptr<ShownWindow> m_shown;
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<QTemporaryDir> m_noServer;
    AnsweredDialogs m_dialogs;
};

// The Listen window opened here finds no sound server, whatever runs on the machine.
void TestFileOpening::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    m_noServer = std::make_unique<QTemporaryDir>();
    qputenv("PULSE_SERVER", ("unix:" + m_noServer->filePath("none")).toLocal8Bit());
}

void TestFileOpening::init()
{
    m_shown = showWindow();
    m_files = std::make_unique<QTemporaryDir>();
    m_dialogs = {};
    m_dialogs.install(opener());
}

void TestFileOpening::cleanup()
{
    m_shown.reset();
    m_files.reset();
}

QString TestFileOpening::writeText(const QString &name, const QByteArray &content)
{
    const QString path = m_files->filePath(name);
    if (!writeFile(path, content))
        qFatal("the test file could not be written");
    return path;
}

void TestFileOpening::readsBeaconTexts_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text");

    QTest::newRow("CR+LF") << QByteArray("A\r\nB\r\n") << "A\nB\n";
    QTest::newRow("bare CR") << QByteArray("A\rB") << "A\nB";
    QTest::newRow("mixed line ends") << QByteArray("A\nB\r\nC\rD") << "A\nB\nC\nD";
    QTest::newRow("byte order mark dropped") << QByteArray("\xEF\xBB\xBFQT7") << "QT7";
    QTest::newRow("UTF-8 kept") << QByteArray("Gr\xC3\xBC\xC3\x9F\xE2\x80\xAF") << "Grüß\u202F";
    QTest::newRow("empty file") << QByteArray() << "";
}

void TestFileOpening::readsBeaconTexts()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, text);

    QString error;
    const std::optional<QString> read = readBeaconText(writeText("beacon.txt", content), error);

    QVERIFY2(read, qPrintable(error));
    QCOMPARE(*read, text);
}

void TestFileOpening::refusesWhatIsNotABeaconText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << "missing.txt" << QByteArray() << "No such file";
    QTest::newRow("binary with NUL bytes")
        << "picture.png" << QByteArray("\x89PNG\0\0\0\x0D", 8) << "neither UTF-8 text";
    QTest::newRow("Latin-1 text") << "latin1.txt" << QByteArray("M\xFC") << "neither UTF-8 text";
}

void TestFileOpening::refusesWhatIsNotABeaconText()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path =
        name == QLatin1String("missing.txt") ? m_files->filePath(name) : writeText(name, content);

    QString error;
    QVERIFY(!readBeaconText(path, error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

// One paste: the box changes once and the report grows by one decode of all frames. A box
// that does not end with a line end gets one first, so no frame is joined to the last line.
void TestFileOpening::pastesTextFileOnceAfterWhatIsThere()
{
    const QStringList frames = frameLines(3);
    pasteInput(m_shown->window, frames[0]);
    const QString path = writeText("pass.txt", (frames[1] + "\r\n" + frames[2] + "\r\n").toUtf8());
    QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                       &QPlainTextEdit::textChanged);
    QSignalSpy opened(&opener(), &FileOpener::allOpened);

    opener().openFiles({path});

    QCOMPARE(opened.count(), 1);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(input(m_shown->window), frames.join('\n') + '\n');
    QCOMPARE(m_shown->window.frameHistory().frameCount(), 3);
    QVERIFY(m_dialogs.failures.isEmpty());
}

void TestFileOpening::namesFilesThatCannotBeReadAndKeepsText()
{
    pasteInput(m_shown->window, frameLine(1, 2, 3, 0));
    const QString missing = m_files->filePath("missing.txt");
    const QString binary = writeText("noise.bin", QByteArray("\0\1\2\3", 4));
    QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                       &QPlainTextEdit::textChanged);

    opener().openFiles({missing, binary});

    QCOMPARE(m_dialogs.failures.size(), 2);
    QVERIFY2(m_dialogs.failures[0].contains(missing) &&
                 m_dialogs.failures[0].contains("No such file"),
             qPrintable(m_dialogs.failures[0]));
    QVERIFY2(m_dialogs.failures[1].contains(binary), qPrintable(m_dialogs.failures[1]));
    QCOMPARE(changes.count(), 0);
    QCOMPARE(input(m_shown->window), frameLine(1, 2, 3, 0));
}

void TestFileOpening::copiesRecordingAsOnePaste()
{
    const QStringList lines = spacedFrameLines(2);
    const QString path = writeRecording(*m_files, lines);
    QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                       &QPlainTextEdit::textChanged);
    QSignalSpy opened(&opener(), &FileOpener::allOpened);

    opener().openFiles({path});
    QVERIFY(opener().isBusy());
    QVERIFY(m_shown->window.findChild<QProgressDialog *>("copyProgress"));

    QVERIFY(opened.wait(20000));
    QVERIFY2(m_dialogs.failures.isEmpty(), qPrintable(m_dialogs.failures.join('\n')));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(input(m_shown->window), lines.join('\n'));
    QCOMPARE(m_shown->window.frameHistory().frameCount(), 2);
    QTRY_VERIFY(!m_shown->window.findChild<QProgressDialog *>("copyProgress"));
}

// The copy's result arrives through the event loop, so a cancel given before it returns wins
// however fast the copy is; the files still waiting are dropped with it.
void TestFileOpening::cancelledRecordingPastesNothing()
{
    const QString recording = writeRecording(*m_files, spacedFrameLines(1));
    const QString text = writeText("after.txt", frameLine(1, 1, 1, 1).toUtf8());
    QSignalSpy opened(&opener(), &FileOpener::allOpened);
    QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                       &QPlainTextEdit::textChanged);

    opener().openFiles({recording, text});
    m_shown->window.findChild<QProgressDialog *>("copyProgress")->cancel();

    QTRY_VERIFY(!opener().isBusy());
    QCOMPARE(changes.count(), 0);
    QVERIFY(input(m_shown->window).isEmpty());
    QVERIFY(m_dialogs.failures.isEmpty());
}

void TestFileOpening::dropOpensFilesInsteadOfInsertingTheirNames()
{
    const QStringList frames = frameLines(2);
    const QString first = writeText("first.txt", frames[0].toUtf8());
    const QString second = writeText("second.txt", frames[1].toUtf8());
    QWidget *target = control<QPlainTextEdit>(m_shown->window, "Text2")->viewport();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    const QPoint inside = target->rect().center();

    QDragEnterEvent enter(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);

    QVERIFY(drop.isAccepted());
    QCOMPARE(input(m_shown->window), frames.join('\n'));
}

void TestFileOpening::commandLineFilesOpenInOrder()
{
    const QStringList frames = frameLines(2);
    const QString first = writeText("first.txt", frames[0].toUtf8());
    const QString second = writeText("second.txt", frames[1].toUtf8());
    const StartOptions options =
        parseStartOptions({QStringLiteral("tovrin3"), first, QStringLiteral("--"), second});

    applyStartOptions(m_shown->window, options);

    QCOMPARE(input(m_shown->window), frames.join('\n'));
    QCOMPARE(reportHeadings(m_shown->window).size(), 1 + 2);
}

void TestFileOpening::fileMenuHoldsItsCommandsInOrder_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");

    QTest::newRow("Open") << 0 << "MnuOpen"
                          << "&Open..." << QKeySequence(QStringLiteral("Ctrl+O"));
    QTest::newRow("Listen") << 1 << "MnuListen"
                            << "&Listen..." << QKeySequence(QStringLiteral("Ctrl+L"));
    QTest::newRow("separator") << 2 << ""
                               << "" << QKeySequence();
    QTest::newRow("Exit") << 3 << "MnuExit"
                          << "E&xit" << QKeySequence(QStringLiteral("Ctrl+Q"));
}

void TestFileOpening::fileMenuHoldsItsCommandsInOrder()
{
    QFETCH(int, place);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);

    const auto *fileMenu = control<QMenu>(m_shown->window, "MnuFile");
    QCOMPARE(fileMenu->title(), QStringLiteral("&File"));
    const QList<QAction *> actions = fileMenu->actions();
    QCOMPARE(actions.size(), 4);
    const QAction *action = actions[place];
    QCOMPARE(action->isSeparator(), name.isEmpty());
    QCOMPARE(action->objectName(), name);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), shortcut);
}

void TestFileOpening::keysReachTheCommands()
{
    Form1 &window = m_shown->window;
    QCOMPARE(window.menuBar()->actions().last()->objectName(), QStringLiteral("MnuInfo"));
    QVERIFY(!window.menuBar()->actions().last()->menu());

    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(m_dialogs.choices, 1);

    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
    auto *listen = window.findChild<ListenWindow *>("Form3");
    QVERIFY(listen);
    QTRY_VERIFY(listen->isVisible());
    listen->startDefaultInput();
    QVERIFY(!listen->isListening());
    QVERIFY(control<QLabel>(*listen, "LblStatus")->text().startsWith("No audio input found"));
    listen->close();
    QApplication::setActiveWindow(&window);

    auto *fileMenu = control<QMenu>(window, "MnuFile");
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(fileMenu->isVisible());
    fileMenu->close();

    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!window.isVisible());
}

QTEST_MAIN(TestFileOpening)
#include "tst_fileopening.moc"
