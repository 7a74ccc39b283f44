// SPDX-License-Identifier: GPL-3.0-or-later
// Beacon texts and recordings brought into the window: File > Open, drops and the command line
// all paste a file as one change of Text2; a recording is copied behind a progress dialog that can
// be cancelled; files that cannot be read are named and change nothing. Also the File menu and its
// keys.
#include "cwtesting.h"
#include "listenwindow.h"
#include "windowtesting.h"

#include <QMimeData>
#include <QProgressDialog>
#include <QUrl>

#include <algorithm>
#include <numeric>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

bool progressOnScreen(const QWidget &window)
{
    const QList<QProgressDialog *> dialogs = window.findChildren<QProgressDialog *>();
    return std::any_of(dialogs.cbegin(), dialogs.cend(),
                       [](const QProgressDialog *dialog) { return dialog->isVisible(); });
}

// Dialogs that answer from the test: no file chosen, and every failure written down with whether
// a progress dialog was on screen when it came.
struct AnsweredDialogs
{
    int choices = 0;
    QStringList failures;
    QList<bool> progressShown;

    void install(FileOpener &opener, const QWidget &window)
    {
        opener.setDialogs({[this] {
                               ++choices;
                               return QStringList();
                           },
                           [this, &window](const QString &message) {
                               failures.append(message);
                               progressShown.append(progressOnScreen(window));
                           }});
    }
};

// A recording of the frame lines keyed at a speed the demodulator copies without doubt.
QString writeRecording(const QTemporaryDir &folder, const QStringList &lines)
{
    const QString path = folder.filePath(u"pass.wav"_s);
    if (!cwgen::writeWav(path, cwTestSignal(8000.0, lines), 8000))
        qFatal("the test recording could not be written");
    return path;
}

QWidget *framesPastHistoryNotice(const QWidget &window)
{
    return window.findChild<QWidget *>(u"framesPastHistoryNotice"_s);
}

} // namespace

class TestFileOpening : public QObject
{
    Q_OBJECT

private slots:
    // The Listen window opened here finds no sound server, whatever runs on the machine.
    void initTestCase()
    {
        m_noServer = std::make_unique<QTemporaryDir>();
        qputenv("PULSE_SERVER", ("unix:" + m_noServer->filePath("none")).toLocal8Bit());
    }

    void init()
    {
        m_shown = showWindow();
        m_files = std::make_unique<QTemporaryDir>();
        m_dialogs = {};
        m_dialogs.install(opener(), m_shown->window);
    }

    void cleanup()
    {
        m_shown.reset();
        m_files.reset();
    }

    // A text file as one paste: any line end becomes a line feed; UTF-16 is read by its byte-order
    // mark, as tovrin3-decode reads it; anything else that is not UTF-8 is refused.
    void readsBeaconTexts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text"); // or the reason it is refused

        QTest::newRow("mixed line ends") << QByteArray("A\nB\r\nC\rD\r\n") << "A\nB\nC\nD\n";
        QTest::newRow("UTF-8 kept") << QByteArray("Gr\xC3\xBC\xC3\x9F\xE2\x80\xAF") << "Grüß\u202F";
        QTest::newRow("UTF-16, little-endian") << QByteArray("\xFF\xFEQ\0T\0\r\0\n\0"
                                                             "7\0",
                                                             12)
                                               << "QT\n7";
        QTest::newRow("UTF-16 with a NUL character")
            << QByteArray("\xFF\xFEQ\0\0\0", 6) << "neither UTF-8 text";
        QTest::newRow("empty file") << QByteArray() << "";
        QTest::newRow("Latin-1 text") << QByteArray("M\xFC") << "neither UTF-8 text";
    }

    void readsBeaconTexts()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QString error;
        const std::optional<QString> read = readBeaconText(writeText("beacon.txt", content), error);
        if (text.startsWith(u"neither"))
            QVERIFY2(!read && error.contains(text), qPrintable(error));
        else
            QCOMPARE(read.value_or(error), text);
    }

    // One paste: the box changes once and the report grows by one decode of all frames. A box
    // that does not end with a line end gets one first, so no frame is joined to the last line.
    // Files that cannot be read are named and add nothing to the paste.
    void pastesReadableFilesOnceAfterWhatIsThere()
    {
        const QStringList frames = frameLines(3);
        pasteInput(m_shown->window, frames[0]);
        const QString missing = m_files->filePath("missing.txt");
        const QString binary = writeText("noise.bin", QByteArray("\0\1\2\3", 4));
        const QString path =
            writeText("pass.txt", (frames[1] + "\r\n" + frames[2] + "\r\n").toUtf8());
        QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                           &QPlainTextEdit::textChanged);
        QSignalSpy opened(&opener(), &FileOpener::allOpened);

        opener().openFiles({missing, path, binary});

        QCOMPARE(opened.count(), 1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(inputText(m_shown->window), frames.join('\n') + '\n');
        QCOMPARE(m_shown->window.frameHistory().frameCount(), 3);
        QCOMPARE(m_dialogs.failures.size(), 2);
        QVERIFY2(m_dialogs.failures[0].contains(missing) &&
                     m_dialogs.failures[0].contains("No such file"),
                 qPrintable(m_dialogs.failures[0]));
        QVERIFY2(m_dialogs.failures[1].contains(binary), qPrintable(m_dialogs.failures[1]));
    }

    // A message under a finished progress dialog cannot be answered: the dialog, shown here as for
    // a long recording, must be gone when any message comes. A recording without Morse code says
    // so. A recorder that crashed during a pass leaves a file cut short: the lines before the cut
    // come in as one paste, and the damage is still named (a file cut before any sample:
    // tst_audiofile). The copy's result arrives through the event loop, so a cancel given before it
    // returns wins however fast the copy is; the files still waiting are dropped with it.
    void messagesComeOnlyOnceTheProgressIsGone_data()
    {
        QTest::addColumn<int>("keptPercent"); // of the recording's bytes; 0: silence
        QTest::addColumn<bool>("textAfter");
        QTest::addColumn<QString>("message"); // none: the copy is cancelled
        QTest::addColumn<int>("keptLines");

        QTest::newRow("a missing text after a recording")
            << 100 << true << "could not be opened" << 2;
        QTest::newRow("a recording without Morse code")
            << 0 << false << "No Morse code found in " << 0;
        QTest::newRow("cut short in the last transmission") << 75 << false << "cut short" << 1;
        QTest::newRow("cancelled, the missing text after it dropped") << 100 << true << "" << 0;
    }

    void messagesComeOnlyOnceTheProgressIsGone()
    {
        QFETCH(int, keptPercent);
        QFETCH(bool, textAfter);
        QFETCH(QString, message);
        QFETCH(int, keptLines);
        const QStringList lines = beaconFrames(2, 7);
        QString recording = m_files->filePath("silence.wav");
        if (keptPercent == 0) {
            QVERIFY(cwgen::writeWav(recording, std::vector<float>(16000, 0.0F), 8000));
        } else {
            recording = writeRecording(*m_files, lines);
            const QByteArray whole = fileContent(recording);
            QVERIFY(writeFile(recording, whole.first(whole.size() * keptPercent / 100)));
        }
        QStringList files{recording};
        if (textAfter)
            files.append(m_files->filePath("missing.txt"));
        QSignalSpy changes(control<QPlainTextEdit>(m_shown->window, "Text2"),
                           &QPlainTextEdit::textChanged);
        QSignalSpy opened(&opener(), &FileOpener::allOpened);

        opener().openFiles(files);
        auto *progress = m_shown->window.findChild<QProgressDialog *>("copyProgress");
        message.isEmpty() ? progress->cancel() : progress->show();

        QVERIFY(opened.wait(20000));
        QCOMPARE(m_dialogs.failures.size(), message.isEmpty() ? 0 : 1);
        QVERIFY2(message.isEmpty() || (m_dialogs.failures[0].contains(message) &&
                                       m_dialogs.failures[0].contains(files.last())),
                 qPrintable(m_dialogs.failures.join('\n')));
        QVERIFY(!m_dialogs.progressShown.contains(true));
        QVERIFY(!progressOnScreen(m_shown->window));
        QCOMPARE(changes.count(), keptLines > 0 ? 1 : 0);
        const QStringList pasted = inputText(m_shown->window).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(pasted.size() >= keptLines, qPrintable(pasted.join('\n')));
        QCOMPARE(pasted.first(keptLines), lines.first(keptLines));
    }

    // Open and Listen bring lines to the end of the box and show them there; the user's caret and
    // selection stay where they were, so typing goes on where it was, not behind the new lines.
    void appendedLinesComeIntoView_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");

        QTest::newRow("caret at the end, where the user types") << 7 << 7;
        QTest::newRow("a selection") << 2 << 5;
    }

    void appendedLinesComeIntoView()
    {
        QFETCH(int, anchor);
        QFETCH(int, position);
        auto *box = control<QPlainTextEdit>(m_shown->window, "Text2");
        box->setFocus();
        QTest::keyClicks(box, "QT7XMRK");
        QTextCursor user = box->textCursor();
        user.setPosition(anchor);
        user.setPosition(position, QTextCursor::KeepAnchor);
        box->setTextCursor(user);

        m_shown->window.appendAsPaste(frameLines(40).join('\n'));

        QVERIFY(box->verticalScrollBar()->maximum() > 0);
        QCOMPARE(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
        QCOMPARE(box->textCursor().anchor(), anchor);
        QCOMPARE(box->textCursor().position(), position);
        if (anchor == 7) {
            QTest::keyClicks(box, "T3");
            QCOMPARE(inputText(m_shown->window).section('\n', 0, 0), u"QT7XMRKT3"_s);
            QCOMPARE(inputText(m_shown->window).section('\n', 1), frameLines(40).join('\n'));
        }
    }

    // The window reports and charts the first 100 frames; the user hears of the rest once, in a
    // notice that blocks nothing (the Listen window goes on copying).
    void framesPastHistoryAreNoticedOnce_data()
    {
        QTest::addColumn<QList<int>>("pastes"); // frames in each paste
        QTest::addColumn<bool>("noticed");

        QTest::newRow("100 frames") << QList<int>{100} << false;
        QTest::newRow("crossed by a later paste") << QList<int>{60, 60} << true;
        QTest::newRow("more pastes past 100") << QList<int>{101, 1, 50} << true;
    }

    void framesPastHistoryAreNoticedOnce()
    {
        QFETCH(QList<int>, pastes);
        QFETCH(bool, noticed);

        for (const int frames : pastes) {
            m_shown->window.appendAsPaste(frameLines(frames).join('\n'));
            if (QWidget *notice = framesPastHistoryNotice(m_shown->window)) {
                QVERIFY(notice->isVisible());
                QVERIFY(!QApplication::activeModalWidget());
                const QString text = qobject_cast<QMessageBox *>(notice)->text();
                QVERIFY2(text.contains("first 100") && text.contains("tovrin3-decode"),
                         qPrintable(text));
                notice->close();
                QTRY_VERIFY(!framesPastHistoryNotice(m_shown->window));
                QVERIFY(noticed);
                noticed = false;
            }
        }
        QVERIFY2(!noticed, "no notice came");
        QCOMPARE(m_shown->window.frameHistory().frameCount(),
                 std::min(MaxFrames, std::accumulate(pastes.cbegin(), pastes.cend(), 0)));
    }

    void dropOpensFilesInsteadOfInsertingTheirNames()
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
        QCOMPARE(inputText(m_shown->window), frames.join('\n'));
    }

    // The names are opened by their bytes: one with byte 0xFF, which no text decodes to, opens too,
    // and a recording is told by its content whatever its name.
    void commandLineFilesOpenInOrder()
    {
        const QStringList frames = frameLines(2);
        const QStringList recorded = beaconFrames(1, 7);
        const QByteArray folder = QFile::encodeName(m_files->path());
        const ByteNamedFile second(folder + "/second\xFF.txt", frames[1].toUtf8());
        const ByteNamedFile recording(folder + "/pass\xFF",
                                      fileContent(writeRecording(*m_files, recorded)));
        QVERIFY(second.isWritten() && recording.isWritten());
        const StartOptions options = startOptionsFrom(
            {"tovrin3", QFile::encodeName(writeText("first.txt", frames[0].toUtf8())), "--",
             second.path(), recording.path()});
        QSignalSpy opened(&opener(), &FileOpener::allOpened);

        applyStartOptions(m_shown->window, options);

        QVERIFY(opened.wait(20000));
        QVERIFY2(m_dialogs.failures.isEmpty(), qPrintable(m_dialogs.failures.join('\n')));
        QCOMPARE(inputText(m_shown->window), (frames + recorded).join('\n'));
        QCOMPARE(m_shown->window.frameHistory().frameCount(), 3);
    }

    // The File menu's commands, each reached by its key.
    void keysReachTheCommands()
    {
        Form1 &window = m_shown->window;
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_dialogs.choices, 1);

        QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
        auto *listen = window.findChild<ListenWindow *>("Form3");
        QVERIFY(listen);
        QTRY_VERIFY(listen->isVisible());
        listen->close();
        QApplication::setActiveWindow(&window);

        auto *fileMenu = control<QMenu>(window, "MnuFile");
        QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(fileMenu->isVisible());
        fileMenu->close();

        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!window.isVisible());
    }

private:
    FileOpener &opener() { return *m_shown->window.fileOpener(); }

    QString writeText(const QString &name, const QByteArray &content)
    {
        const QString path = m_files->filePath(name);
        if (!writeFile(path, content))
            qFatal("the test file could not be written");
        return path;
    }

    std::unique_ptr<ShownWindow> m_shown;
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<QTemporaryDir> m_noServer;
    AnsweredDialogs m_dialogs;
};

QTEST_MAIN(TestFileOpening)
#include "tst_fileopening.moc"
