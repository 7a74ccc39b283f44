// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetesting.h"
#include "processtesting.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace tovrin3::testing;

namespace {

// Runs the built program without any display, as the export does on a headless machine.
ProgramRun runConverter(const QString &workingFolder, const QStringList &arguments)
{
    return runIn(workingFolder, QStringLiteral(BIN_DIR "/nconvert"), arguments,
                 environmentWithoutDisplay());
}

// A screenshot stand-in as BMP data: export grey around a red, a blue and an almost grey pixel.
QByteArray screenshotBmp()
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(qRgb(240, 240, 240));
    image.setPixel(1, 1, qRgb(255, 0, 0));
    image.setPixel(2, 1, qRgb(0, 0, 255));
    image.setPixel(3, 2, qRgb(240, 240, 241));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

QStringList filesIn(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files);
}

} // namespace

class TestNconvert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void convertsBesideInput_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("read by content, not name") << QString("shot.jpg") << QString("shot.png");
        QTest::newRow("same name replaced, not deleted")
            << QString("shot.png") << QString("shot.png");
    }

    void convertsBesideInput()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(input), screenshotBmp()));

        const ProgramRun run =
            runConverter(dir.path(), {"-out", "png", "-transpcolor", "240", "240", "240", "-colors",
                                      "256", "-quiet", "-D", input});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.isEmpty() && run.errors.isEmpty());
        QCOMPARE(filesIn(dir), QStringList{output});
        const QImage written(dir.filePath(output));
        QCOMPARE(written.format(), QImage::Format_Indexed8); // a palette PNG
        QCOMPARE(written.size(), QSize(4, 3));
        QCOMPARE(qAlpha(written.pixel(0, 0)), 0);
        QCOMPARE(written.pixel(1, 1), qRgb(255, 0, 0));
        QCOMPARE(written.pixel(2, 1), qRgb(0, 0, 255));
        QCOMPARE(written.pixel(3, 2), qRgb(240, 240, 241));
    }

    void failedInputIsReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QByteArray hugeBmp = screenshotBmp();
        hugeBmp.replace(18, 8, QByteArray::fromHex("ffffff7fffffff7f"));
        QTest::newRow("not an image") << QByteArray("#1: 5A 3C\n") << true;
        QTest::newRow("BMP header only") << screenshotBmp().left(30) << true;
        QTest::newRow("BMP claiming a huge size") << hugeBmp << true;
        QTest::newRow("missing file") << QByteArray() << false;
    }

    void failedInputIsReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("good.b"), screenshotBmp()));
        if (exists)
            QVERIFY(writeFile(dir.filePath("bad.b"), content));

        const ProgramRun run = runConverter(dir.path(), {"-out", "png", "-D", "bad.b", "good.b"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errors.contains("bad.b"));
        const QStringList kept = exists ? QStringList{"bad.b"} : QStringList();
        QCOMPARE(filesIn(dir), kept + QStringList{"good.png"}); // the next input still converts
    }

    // Each run asks for -D, so a refused command line must not lose the input either.
    void badCommandLineConvertsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"-out", "png", "-ratio", "2", "a.b"};
        QTest::newRow("other output format") << QStringList{"-out", "jpg", "a.b"};
        QTest::newRow("no output format") << QStringList{"-colors", "256", "a.b"};
        QTest::newRow("no input file") << QStringList{"-out", "png"};
        QTest::newRow("colour above 255")
            << QStringList{"-out", "png", "-transpcolor", "240", "256", "240", "a.b"};
        QTest::newRow("colour as hex")
            << QStringList{"-out", "png", "-transpcolor", "0xF0", "240", "240", "a.b"};
        QTest::newRow("two colour values")
            << QStringList{"-out", "png", "a.b", "-transpcolor", "240", "240"};
        QTest::newRow("too many colours") << QStringList{"-out", "png", "-colors", "257", "a.b"};
    }

    void badCommandLineConvertsNothing()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.b"), screenshotBmp()));
        const ProgramRun run = runConverter(dir.path(), QStringList{"-D"} + arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.errors.contains("Usage"));
        QCOMPARE(filesIn(dir), QStringList{"a.b"});
    }
};

QTEST_GUILESS_MAIN(TestNconvert)
#include "tst_nconvert.moc"
