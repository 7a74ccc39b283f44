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

void placeConverter(const QString &folder)
{
    QFile file(folder + "/nconvert");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
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
        QFETCH(QString, expected);
        QCOMPARE(bitmapFileName(folder, "05122026.bmp)"), expected);
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

    void converterLookup_data()
    {
        QTest::addColumn<bool>("besideProgram");
        QTest::addColumn<bool>("onPath");
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<QString>("started"); // empty: nothing started
        QTest::addColumn<bool>("saved");
        QTest::newRow("beside the program first") << true << true << true << "program" << true;
        QTest::newRow("then on the PATH") << false << true << true << "path" << true;
        QTest::newRow("nowhere") << false << false << true << "" << false;
        QTest::newRow("found but not started") << true << false << false << "program" << false;
    }

    void converterLookup()
    {
        QFETCH(bool, besideProgram);
        QFETCH(bool, onPath);
        QFETCH(bool, startSucceeds);
        QFETCH(QString, started);
        QFETCH(bool, saved);
        if (besideProgram)
            placeConverter(m_programFolder.path());
        if (onPath)
            placeConverter(m_pathFolder.path());
        RecordingStarter starter;
        starter.startSucceeds = startSucceeds;
        ScreenshotExport exporter(m_clock, starter, m_programFolder.path(), Background);

        const ExportResult result = exporter.exportImage(windowImage(), imageFolder());

        QCOMPARE(result.outcome, saved ? ExportResult::Saved : ExportResult::ConverterNotStarted);
        QVERIFY(QFile::exists(result.bitmapPath));
        const QString expectedProgram = started == "program" ? m_programFolder.filePath("nconvert")
                                        : started == "path"  ? m_pathFolder.filePath("nconvert")
                                                             : QString();
        QCOMPARE(starter.programs(),
                 expectedProgram.isEmpty() ? QStringList() : QStringList{expectedProgram});
        if (!expectedProgram.isEmpty())
            QCOMPARE(starter.lastArguments(),
                     QStringList({"-out", "png", "-transpcolor", "240", "240", "240", "-colors",
                                  "256", "-quiet", "-D", result.bitmapPath}));
    }
};

QTEST_GUILESS_MAIN(ScreenshotExportTest)
#include "tst_screenshotexport.moc"
