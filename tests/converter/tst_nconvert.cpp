#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct ProgramRun
{
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs the built program without any display, as the export does on a headless machine.
ProgramRun runConverter(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BIN_DIR "/nconvert"), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// A screenshot stand-in: export grey with a red and a blue pixel, as BMP whatever the name.
void writeScreenshot(const QString &path)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(qRgb(240, 240, 240));
    image.setPixel(1, 1, qRgb(255, 0, 0));
    image.setPixel(2, 1, qRgb(0, 0, 255));
    QVERIFY(QImageWriter(path, "bmp").write(image));
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestNconvert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void exportCommandLineConvertsAndDeletes()
    {
        QTemporaryDir dir;
        const QString input = dir.filePath(QStringLiteral("tovrin3_05122026.b"));
        writeScreenshot(input);

        const ProgramRun run = runConverter({"-out", "png", "-transpcolor", "240", "240", "240",
                                             "-colors", "256", "-quiet", "-D", input});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.standardOutput.isEmpty());
        QVERIFY(!QFile::exists(input));
        const QImage png = QImage(dir.filePath(QStringLiteral("tovrin3_05122026.png")))
                               .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(png.size(), QSize(4, 3));
        QCOMPARE(qAlpha(png.pixel(0, 0)), 0);
        QCOMPARE(png.pixel(1, 1), qRgb(255, 0, 0));
        QCOMPARE(png.pixel(2, 1), qRgb(0, 0, 255));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"tovrin3_05122026.png"});
    }

    void listsEachConvertedFileUnlessQuiet()
    {
        QTemporaryDir dir;
        const QStringList inputs{dir.filePath(QStringLiteral("a.b")), dir.filePath("b")};
        for (const QString &input : inputs)
            writeScreenshot(input);
        const ProgramRun run = runConverter(QStringList{"-out", "png"} + inputs);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.standardOutput.count('\n'), 2);
        QVERIFY(QFile::exists(dir.filePath("a.png")) && QFile::exists(dir.filePath("b.png")));
        QVERIFY(QFile::exists(inputs[0]) && QFile::exists(inputs[1]));
    }

    void failedInputIsReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::newRow("not an image") << QByteArray("#1: 5A 3C\n") << true;
        QTest::newRow("empty file") << QByteArray() << true;
        QTest::newRow("truncated BMP") << QByteArray("BM\x36\x00\x00\x00", 6) << true;
        QTest::newRow("missing file") << QByteArray() << false;
    }

    void failedInputIsReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.b"));
        const QString bad = dir.filePath(QStringLiteral("bad.b"));
        writeScreenshot(good);
        if (exists)
            writeText(bad, content);

        const ProgramRun run = runConverter({"-out", "png", "-quiet", "-D", bad, good});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.standardError.contains("bad.b"));
        QCOMPARE(QFile::exists(bad), exists);
        QVERIFY(!QFile::exists(dir.filePath("bad.png")));
        QVERIFY(!QFile::exists(good)); // the next input was still converted
        QVERIFY(QFile::exists(dir.filePath("good.png")));
    }

    void pngInputReplacedNotDeleted()
    {
        QTemporaryDir dir;
        const QString input = dir.filePath(QStringLiteral("shot.png"));
        writeScreenshot(input);
        const ProgramRun run = runConverter({"-out", "png", "-colors", "2", "-D", input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QImage(input).colorCount(), 2);
    }

    void badCommandLineConvertsNothing_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("unknown option") << QStringList{"-out", "png", "-ratio", "2"};
        QTest::newRow("other output format") << QStringList{"-out", "jpg"};
        QTest::newRow("no output format") << QStringList{"-colors", "256"};
        QTest::newRow("colour above 255")
            << QStringList{"-out", "png", "-transpcolor", "240", "256", "240"};
        QTest::newRow("colour as hex")
            << QStringList{"-out", "png", "-transpcolor", "0xF0", "240", "240"};
        QTest::newRow("two colour values")
            << QStringList{"-out", "png", "-transpcolor", "240", "240"};
        QTest::newRow("no colours") << QStringList{"-out", "png", "-colors", "0"};
        QTest::newRow("too many colours") << QStringList{"-out", "png", "-colors", "257"};
        QTest::newRow("signed colours") << QStringList{"-out", "png", "-colors", "+8"};
        QTest::newRow("colours not a number") << QStringList{"-out", "png", "-colors", "many"};
    }

    void badCommandLineConvertsNothing()
    {
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        const QString input = dir.filePath(QStringLiteral("shot.b"));
        writeScreenshot(input);
        const ProgramRun run = runConverter(options + QStringList{"-D", input});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.standardError.contains("Usage"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"shot.b"});
    }

    void missingInputIsUsageError()
    {
        const ProgramRun run = runConverter({"-out", "png", "-quiet", "-D"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.standardError.contains("Usage"));
    }
};

QTEST_GUILESS_MAIN(TestNconvert)
#include "tst_nconvert.moc"
