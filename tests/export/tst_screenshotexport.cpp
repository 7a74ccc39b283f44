// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "screenshotexport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tovrin3;
using namespace tovrin3::testing;
using namespace Qt::StringLiterals;

namespace {

const QColor Background(240, 240, 240);

QImage windowImage()
{
    QImage image(550, 565, QImage::Format_RGB32);
    image.fill(Background);
    return image;
}

bool placeConverter(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class ScreenshotExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_programFolder;
    QTemporaryDir m_pathFolder;
    QTemporaryDir m_imageFolder;
    FixedClock m_clock;
    QByteArray m_savedPath;

    QString imageFolder() const { return m_imageFolder.path() + u'/'; }

private slots:
    void initTestCase()
    {
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", m_pathFolder.path().toLocal8Bit());
    }

    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void cleanup()
    {
        QFile::remove(m_programFolder.filePath("nconvert"));
        QFile::remove(m_pathFolder.filePath("nconvert"));
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder with separator") << u"/shots/"_s << u"/shots/tovrin3_05122026.b"_s;
        QTest::newRow("folder glued without separator")
            << u"/shots"_s << u"/shotstovrin3_05122026.b"_s;
        QTest::newRow("empty folder") << QString() << u"tovrin3_05122026.b"_s;
    }

    void fileName()
    {
        QFETCH(QString, folder);
        QTEST(bitmapFileName(folder, "05122026.bmp)"), "expected");
    }

    void stampIsKeptForTheWholeRun()
    {
        RecordingStarter starter;
        ScreenshotExport exporter(m_clock, starter, m_programFolder.path(), Background);
        const QString first = exporter.exportImage(windowImage(), imageFolder()).bitmapPath;
        m_clock.date = m_clock.date.addDays(1);
        const QString second = exporter.exportImage(windowImage(), imageFolder()).bitmapPath;
        m_clock.date = m_clock.date.addDays(-1);
        QCOMPARE(second, first);
        QCOMPARE(first, imageFolder() + "tovrin3_05122026.b");
    }

    // The converter beside the program first, then on the PATH; the bitmap stays either way.
    void converterLookup_data()
    {
        QTest::addColumn<bool>("besideProgram");
        QTest::addColumn<bool>("onPath");
        QTest::addColumn<bool>("startSucceeds");
        QTest::newRow("beside the program first") << true << true << true;
        QTest::newRow("then on the PATH") << false << true << true;
        QTest::newRow("nowhere") << false << false << true;
        QTest::newRow("found but not started") << true << false << false;
    }

    void converterLookup()
    {
        QFETCH(bool, besideProgram);
        QFETCH(bool, onPath);
        QFETCH(bool, startSucceeds);
        const QString besideFile = m_programFolder.filePath("nconvert");
        const QString pathFile = m_pathFolder.filePath("nconvert");
        QVERIFY(!besideProgram || placeConverter(besideFile));
        QVERIFY(!onPath || placeConverter(pathFile));
        RecordingStarter starter;
        starter.startSucceeds = startSucceeds;
        ScreenshotExport exporter(m_clock, starter, m_programFolder.path(), Background);
        const ExportResult result = exporter.exportImage(windowImage(), imageFolder());
        const bool found = besideProgram || onPath;
        QCOMPARE(result.outcome,
                 found && startSucceeds ? ExportResult::Saved : ExportResult::ConverterNotStarted);
        QVERIFY(QFile::exists(result.bitmapPath));
        QCOMPARE(starter.programs(),
                 found ? QStringList{besideProgram ? besideFile : pathFile} : QStringList());
        if (found)
            QCOMPARE(starter.lastArguments(),
                     QStringList({"-out", "png", "-transpcolor", "240", "240", "240", "-colors",
                                  "256", "-quiet", "-D", result.bitmapPath}));
    }
};

QTEST_GUILESS_MAIN(ScreenshotExportTest)
#include "tst_screenshotexport.moc"
