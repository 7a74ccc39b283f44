#include "screenshotexport.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

using namespace tovrin3;

namespace {

class FixedClock : public Clock
{
public:
    QDate date{2026, 12, 5};
    QDate currentDate() const override { return date; }
};

class RecordingStarter : public ProcessStarter
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        ++starts;
        lastProgram = program;
        lastArguments = arguments;
        return startSucceeds;
    }

    int starts = 0;
    bool startSucceeds = true;
    QString lastProgram;
    QStringList lastArguments;
};

QImage windowImage()
{
    QImage image(550, 565, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    image.setPixelColor(10, 10, Qt::black);
    return image;
}

void makeExecutable(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

} // namespace

class ScreenshotExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_programFolder;
    QTemporaryDir m_imageFolder;
    FixedClock m_clock;
    RecordingStarter m_starter;
    QByteArray m_savedPath;

    QString imageFolder() const { return m_imageFolder.path() + u'/'; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_programFolder.isValid() && m_imageFolder.isValid());
        makeExecutable(m_programFolder.filePath("nconvert"));
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", m_imageFolder.path().toLocal8Bit());
    }

    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void init() { m_starter = RecordingStarter(); }

    void fileName_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("stamp");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder with separator") << "/shots/"
                                               << "05122026.bmp)"
                                               << "/shots/tovrin3_05122026.b";
        QTest::newRow("folder glued without separator") << "/shots"
                                                        << "05122026.bmp)"
                                                        << "/shotstovrin3_05122026.b";
        QTest::newRow("empty folder") << ""
                                      << "01012027.bmp)"
                                      << "tovrin3_01012027.b";
    }

    void fileName()
    {
        QFETCH(QString, folder);
        QFETCH(QString, stamp);
        QFETCH(QString, expected);
        QCOMPARE(bitmapFileName(folder, stamp), expected);
    }

    void writesTheBitmapAndStartsTheConverterBesideTheProgram()
    {
        ScreenshotExport exporter(m_clock, m_starter, m_programFolder.path());
        const ExportResult result = exporter.exportImage(windowImage(), imageFolder());

        QCOMPARE(result.outcome, ExportResult::Saved);
        QCOMPARE(result.bitmapPath, imageFolder() + "tovrin3_05122026.b");
        QImageReader reader(result.bitmapPath);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        const QImage written = reader.read();
        QCOMPARE(written.size(), QSize(550, 565));
        QCOMPARE(written.pixelColor(0, 0), QColor(240, 240, 240));
        QCOMPARE(written.pixelColor(10, 10), QColor(Qt::black));

        QCOMPARE(m_starter.starts, 1);
        QCOMPARE(m_starter.lastProgram, m_programFolder.filePath("nconvert"));
        QCOMPARE(m_starter.lastArguments,
                 QStringList({"-out", "png", "-transpcolor", "240", "240", "240", "-colors", "256",
                              "-quiet", "-D", result.bitmapPath}));
    }

    void stampIsKeptForTheWholeRun()
    {
        ScreenshotExport exporter(m_clock, m_starter, m_programFolder.path());
        const QString first = exporter.exportImage(windowImage(), imageFolder()).bitmapPath;
        m_clock.date = m_clock.date.addDays(1);
        const QString second = exporter.exportImage(windowImage(), imageFolder()).bitmapPath;
        m_clock.date = m_clock.date.addDays(-1);
        QCOMPARE(second, first);
        QCOMPARE(exporter.ScreenshotStamp(), QString("05122026.bmp)"));
    }

    void pathWithBlanksIsOneArgument()
    {
        QTemporaryDir parent;
        const QString folder = parent.filePath("my shots; $(rm -rf x) `q` 'é'") + u'/';
        QVERIFY(QDir().mkpath(folder));
        ScreenshotExport exporter(m_clock, m_starter, m_programFolder.path());
        const ExportResult result = exporter.exportImage(windowImage(), folder);
        QCOMPARE(result.outcome, ExportResult::Saved);
        QVERIFY(QFile::exists(folder + "tovrin3_05122026.b"));
        QCOMPARE(m_starter.lastArguments.last(), folder + "tovrin3_05122026.b");
    }

    void converterMissingOrNotStartingKeepsTheBitmap_data()
    {
        QTest::addColumn<bool>("converterBesideProgram");
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<int>("starts");
        QTest::newRow("no converter anywhere") << false << true << 0;
        QTest::newRow("converter fails to start") << true << false << 1;
    }

    void converterMissingOrNotStartingKeepsTheBitmap()
    {
        QFETCH(bool, converterBesideProgram);
        QFETCH(bool, startSucceeds);
        QFETCH(int, starts);
        QTemporaryDir emptyFolder;
        m_starter.startSucceeds = startSucceeds;
        ScreenshotExport exporter(m_clock, m_starter,
                                  converterBesideProgram ? m_programFolder.path()
                                                         : emptyFolder.path());
        const ExportResult result = exporter.exportImage(windowImage(), imageFolder());
        QCOMPARE(result.outcome, ExportResult::ConverterNotStarted);
        QCOMPARE(m_starter.starts, starts);
        QVERIFY(QFile::exists(result.bitmapPath));
    }

    void converterFoundOnPath()
    {
        QTemporaryDir emptyFolder;
        QTemporaryDir pathFolder;
        makeExecutable(pathFolder.filePath("nconvert"));
        qputenv("PATH", pathFolder.path().toLocal8Bit());
        ScreenshotExport exporter(m_clock, m_starter, emptyFolder.path());
        const ExportResult result = exporter.exportImage(windowImage(), imageFolder());
        qputenv("PATH", m_imageFolder.path().toLocal8Bit());
        QCOMPARE(result.outcome, ExportResult::Saved);
        QCOMPARE(m_starter.lastProgram, pathFolder.filePath("nconvert"));
    }

    void unwritableFolderStartsNothing_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("missing folder") << "missing" << false;
        QTest::newRow("read-only folder") << "read-only" << true;
        QTest::newRow("a file where the folder should be") << "file" << false;
    }

    void unwritableFolderStartsNothing()
    {
        QFETCH(QString, folderName);
        QFETCH(bool, readOnly);
        if (readOnly && geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir parent;
        const QString folder = parent.filePath(folderName);
        if (folderName == "file") {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (readOnly) {
            QVERIFY(QDir().mkdir(folder));
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        ScreenshotExport exporter(m_clock, m_starter, m_programFolder.path());
        const ExportResult result = exporter.exportImage(windowImage(), folder + u'/');
        QCOMPARE(result.outcome, ExportResult::BitmapNotWritten);
        QVERIFY(!result.reason.isEmpty());
        QCOMPARE(m_starter.starts, 0);
        QVERIFY(!QFile::exists(result.bitmapPath));
    }
};

QTEST_GUILESS_MAIN(ScreenshotExportTest)
#include "tst_screenshotexport.moc"
