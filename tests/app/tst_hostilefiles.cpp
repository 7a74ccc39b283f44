// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever sits in the program folder under the name conf.ini, the window starts quietly with its
// defaults; an image folder full of characters that a shell would act on reaches the converter as
// one plain argument; and the user is told when the bitmap or the converter cannot be had. A
// folder named beyond ASCII is read as UTF-8 (tst_configurationsearch).
#include "configuration.h"
#include "fakes.h"
#include "windowtesting.h"

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

enum FileKind
{
    RegularFile,
    DanglingLink,
    Fifo
};

// A comment, then the line, of which the last `beyondLimit` bytes lie beyond the read limit.
QByteArray lineEndingNearReadLimit(const QByteArray &line, qsizetype beyondLimit)
{
    const qsizetype commentLength = MaxConfigurationBytes + beyondLimit - line.size();
    return '#' + QByteArray(commentLength - 3, '-') + "\r\n" + line + "\r\n";
}

// Puts conf.ini in place as that kind of file; false if the machine would not let it be made.
bool makeConfiguration(FileKind kind, const QByteArray &content, const QString &folder)
{
    const QString path = folder + u"/conf.ini"_s;
    switch (kind) {
    case RegularFile:
        return writeFile(path, content);
    case DanglingLink:
        return QFile::link(folder + u"/gone.ini"_s, path);
    case Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    }
    return false;
}

// Opens the FIFO for writing unless `startedUp` is set within 3 s, so that a start-up stuck
// opening it ends and the test can say so instead of hanging. True if start-up had to be freed.
std::future<bool> rescueFromFifo(const QString &path, std::future<void> startedUp)
{
    return std::async(
        std::launch::async, [name = QFile::encodeName(path), startedUp = std::move(startedUp)] {
            if (startedUp.wait_for(std::chrono::seconds(3)) == std::future_status::ready)
                return false;
            // Succeeds only while a reader waits in open().
            const int writer = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            return writer >= 0 && ::close(writer) == 0;
        });
}

const QString BitmapName = u"tovrin3_05122026.b"_s;

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_workingFolder;
    QTemporaryDir m_emptyFolder;
    FixedClock m_clock;

private slots:
    void initTestCase()
    {
        // A shell started by the screenshot export would run "touch pwned" here.
        QVERIFY(QDir::setCurrent(m_workingFolder.path()));
        // Only a converter beside the program is found.
        qputenv("PATH", QFile::encodeName(m_emptyFolder.path()));
    }

    void startsQuietlyWithDefaults_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("buttonShown");

        const QByteArray none;
        QTest::newRow("a program: binary bytes with NUL")
            << int(RegularFile) << fileContent(RecordingConverter) << true;
        QTest::newRow("50 MB, IMAGE_PATH beyond the read limit")
            << int(RegularFile)
            << QByteArray("COLOUR=RED\r\n").repeated(4'400'000) + "IMAGE_PATH=/beyond/\r\n"
            << true;
        QTest::newRow("IMAGE_PATH on one 10 MB line")
            << int(RegularFile) << "IMAGE_PATH=/" + QByteArray(10'000'000, 'x') << true;
        // Read in part, the line would say "SCREENSHOT=Y" and hide the button.
        QTest::newRow("SCREENSHOT=YES cut by the read limit")
            << int(RegularFile) << lineEndingNearReadLimit("SCREENSHOT=YES", 2) << true;
        QTest::newRow("line end as the first byte beyond the limit: applied")
            << int(RegularFile) << lineEndingNearReadLimit("SCREENSHOT=NO", 0) << false;
        QTest::newRow("dangling symbolic link") << int(DanglingLink) << none << true;
        QTest::newRow("FIFO without writer") << int(Fifo) << none << true;
    }

    void startsQuietlyWithDefaults()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, content);
        QFETCH(bool, buttonShown);
        QTemporaryDir programFolder;
        QVERIFY(makeConfiguration(FileKind(kind), content, programFolder.path()));

        const MessageBoxWatch messages;
        std::promise<void> startedUp;
        std::future<bool> rescued =
            rescueFromFifo(programFolder.filePath("conf.ini"), startedUp.get_future());
        Form1 window(programFolder.path());
        startedUp.set_value();
        QVERIFY2(!rescued.get(), "start-up waited for a writer to conf.ini");
        showOnScreen(window);

        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.value(0).join(u'\n')));
        QCOMPARE(window.imageFolder(), programFolder.path() + QLatin1Char('/'));
        QCOMPARE(control<QPushButton>(window, "Command1")->isVisible(), buttonShown);
    }

    // The screenshot through the window with the real starter, which runs the recording
    // stand-in placed beside the program: the window's client area lands at exactly the path
    // written in conf.ini, and that path reaches the converter unchanged, as one argument.
    void screenshotReachesConverterAsOneArgument()
    {
        QTemporaryDir programFolder;
        QTemporaryDir root;
        const QString imageFolder =
            root.path() + u"/Bilder f\u00FCr 'den' \"Pass\"; $(touch pwned) `id` /"_s;
        const QString record = root.filePath(u"converter-record"_s);
        QVERIFY(QDir().mkpath(imageFolder));
        // conf.ini is read as Latin-1.
        QVERIFY(prepareProgramFolder(programFolder.path(), "IMAGE_PATH=" + imageFolder.toLatin1(),
                                     RecordingConverter));
        qputenv("TOVRIN3_CONVERTER_RECORD", QFile::encodeName(record));

        DetachedProcessStarter starter;
        Form1 window(programFolder.path(), m_clock, starter);
        showOnScreen(window);
        const MessageBoxWatch messages;
        control<QPushButton>(window, "Command1")->click();

        // The stand-in records its argument count, then each argument ended by NUL.
        const QString bitmap = imageFolder + BitmapName;
        const QStringList arguments =
            converterArguments(QColor(240, 240, 240)) + QStringList{bitmap};
        QByteArray expectedRecord = QByteArray::number(arguments.size()) + '\n';
        for (const QString &argument : arguments)
            expectedRecord += QFile::encodeName(argument) + '\0';
        QTRY_COMPARE_WITH_TIMEOUT(fileContent(record), expectedRecord, 10000);
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.value(0).join(u'\n')));
        QCOMPARE(control<QLabel>(window, "Label3")->text(), bitmap + u" saved"_s);
        const QImage image(bitmap, "bmp");
        QCOMPARE(image.size(), QSize(550, 565));
        QCOMPARE(image.pixelColor(image.width() - 1, 0), QColor(240, 240, 240));
        const auto allEntries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir::current().entryList(allEntries), QStringList());
    }

    void missingConverterIsReportedAndBitmapKept()
    {
        QTemporaryDir programFolder;
        RecordingStarter starter;
        Form1 window(programFolder.path(), m_clock, starter);

        const QStringList message = clickScreenshotButton(window);

        QCOMPARE(message, QStringList({"Error", "nconvert.exe not found",
                                       QString::number(QMessageBox::Information)}));
        const QString bitmap = programFolder.filePath(BitmapName);
        QCOMPARE(control<QLabel>(window, "Label3")->text(), bitmap + " saved");
        QVERIFY(QFile::exists(bitmap));
    }

    void unwritableFolderIsReportedAndStartsNothing()
    {
        QTemporaryDir programFolder;
        QVERIFY(prepareProgramFolder(programFolder.path(),
                                     "IMAGE_PATH=" + programFolder.filePath("missing/").toUtf8(),
                                     OurConverter));
        RecordingStarter starter;
        Form1 window(programFolder.path(), m_clock, starter);

        const QStringList message = clickScreenshotButton(window);

        QCOMPARE(message.value(0), QString("Error"));
        QVERIFY2(message.value(1).contains(programFolder.filePath("missing/" + BitmapName)),
                 qPrintable(message.value(1)));
        QCOMPARE(starter.commandLines, QList<QStringList>());
        QCOMPARE(control<QLabel>(window, "Label3")->text(), QString());
    }
};

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
