#include "fileconversion.h"
#include "imagereading.h"
#include "paletteconversion.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>

using namespace tovrin3;

namespace {

constexpr QRgb ExportGrey = qRgb(240, 240, 240);

// A different colour for every pixel: 64 x 64 gives 4096 colours.
QImage gradientImage()
{
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 4, 255 - (x + y) * 2));
    }
    return image;
}

// The first colourCount of a set of clearly distinct colours, in stripes.
QImage stripesImage(int colourCount)
{
    QImage image(colourCount, 3, QImage::Format_RGB32);
    for (int x = 0; x < colourCount; ++x) {
        for (int y = 0; y < image.height(); ++y)
            image.setPixel(x, y, qRgb(x, 255 - x, (x * 7) % 256));
    }
    return image;
}

QByteArray bmpBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "bmp").write(image);
    return bytes;
}

int largestChannelError(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

} // namespace

class TestPaletteConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void exportGreyBecomesTransparentOthersExact()
    {
        QImage bmp(3, 2, QImage::Format_RGB32);
        const QList<QRgb> colours{ExportGrey,          qRgb(255, 0, 0), qRgb(0, 128, 255),
                                  qRgb(240, 240, 241), qRgb(0, 0, 0),   ExportGrey};
        for (int i = 0; i < colours.size(); ++i)
            bmp.setPixel(i % 3, i / 3, colours[i]);
        QTemporaryDir dir;
        const QString inputPath = dir.filePath(QStringLiteral("tovrin3_05122026.b"));
        QVERIFY(QImageWriter(inputPath, "bmp").write(bmp));

        const FileConversionResult result =
            convertImageFile(inputPath, {ExportGrey, MaxPaletteColours, false});
        QVERIFY2(result.succeeded(), qPrintable(result.error));
        QCOMPARE(result.outputPath, dir.filePath(QStringLiteral("tovrin3_05122026.png")));
        QFile png(result.outputPath);
        QVERIFY(png.open(QIODevice::ReadOnly));
        QCOMPARE(png.read(26).at(25), char(3)); // IHDR colour type 3: palette

        const QImage written = QImage(result.outputPath).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(written.size(), bmp.size());
        for (int i = 0; i < colours.size(); ++i) {
            const QRgb pixel = written.pixel(i % 3, i / 3);
            if (colours[i] == ExportGrey)
                QCOMPARE(qAlpha(pixel), 0);
            else
                QCOMPARE(pixel, colours[i]);
        }
    }

    void exactWhenColoursFit_data()
    {
        QTest::addColumn<int>("colourCount");
        QTest::addColumn<bool>("withTransparency");
        QTest::addColumn<int>("maxColours");
        QTest::newRow("16 colours into 16") << 16 << false << 16;
        QTest::newRow("15 colours and transparent into 16") << 15 << true << 16;
        QTest::newRow("256 colours into 256") << 256 << false << 256;
        QTest::newRow("255 colours and transparent into 256") << 255 << true << 256;
        QTest::newRow("one colour into 1") << 1 << false << 1;
    }

    void exactWhenColoursFit()
    {
        QFETCH(int, colourCount);
        QFETCH(bool, withTransparency);
        QFETCH(int, maxColours);
        QImage image = stripesImage(colourCount).convertToFormat(QImage::Format_ARGB32);
        if (withTransparency)
            image.setPixel(0, 1, qRgba(9, 9, 9, 0));

        const QImage reduced = reduceToPalette(image, maxColours);
        QCOMPARE(reduced.format(), QImage::Format_Indexed8);
        QVERIFY(reduced.colorCount() <= maxColours);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(reduced.pixel(x, y), image.pixel(x, y));
        }
    }

    void tooManyColoursReducedAndClose_data()
    {
        QTest::addColumn<int>("maxColours");
        QTest::addColumn<int>("largestAverageError");
        QTest::newRow("3072 colours and grey into 256") << 256 << 6;
        QTest::newRow("3072 colours and grey into 64") << 64 << 12;
        QTest::newRow("3072 colours and grey into 16") << 16 << 24;
    }

    void tooManyColoursReducedAndClose()
    {
        QFETCH(int, maxColours);
        QFETCH(int, largestAverageError);
        QImage image = gradientImage(); // the top rows keep 3072 colours, the rest is grey
        for (int y = 48; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, ExportGrey);
        }

        const QImage reduced = convertImage(image, {ExportGrey, maxColours, false});
        QVERIFY(reduced.colorCount() <= maxColours);
        QSet<uchar> used;
        qint64 errorSum = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                used.insert(reduced.constScanLine(y)[x]);
                const QRgb pixel = reduced.pixel(x, y);
                QCOMPARE(qAlpha(pixel), y < 48 ? 255 : 0);
                errorSum += y < 48 ? largestChannelError(pixel, image.pixel(x, y)) : 0;
            }
        }
        QCOMPARE(used.size(), maxColours); // the whole palette is put to use
        QVERIFY(errorSum / (48 * 64) <= largestAverageError);
    }

    void oneColourWithTransparencyKeepsTransparency()
    {
        const QImage image = makeColourTransparent(stripesImage(3), qRgb(0, 255, 0));
        const QImage reduced = reduceToPalette(image, 1);
        QCOMPARE(reduced.colorCount(), 1);
        QCOMPARE(qAlpha(reduced.pixel(0, 0)), 0);
    }

    void garbageFailsToRead_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray bmp = bmpBytes(gradientImage());
        QByteArray hugeBmp = bmp;
        hugeBmp.replace(18, 8, QByteArray::fromHex("ffffff7fffffff7f"));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("telemetry 12 34 56\n");
        QTest::newRow("PNG signature only") << QByteArray("\x89PNG\r\n\x1a\n", 8);
        QTest::newRow("BMP header only") << bmp.left(30);
        QTest::newRow("BMP claiming a huge size") << hugeBmp;
    }

    void garbageFailsToRead()
    {
        QFETCH(QByteArray, data);
        const ImageReadResult result = readImageData(data);
        QVERIFY(!result.succeeded());
        QVERIFY(!result.error.isEmpty());
    }

    void readsByContentWhateverTheName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("screen.jpg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bmpBytes(gradientImage()));
        file.close();
        const ImageReadResult result = readImageFile(path);
        QVERIFY2(result.succeeded(), qPrintable(result.error));
        QCOMPARE(result.image.pixel(5, 7), gradientImage().pixel(5, 7));
    }

    void pngNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("export name") << "/tmp/tovrin3_05122026.b"
                                     << "/tmp/tovrin3_05122026.png";
        QTest::newRow("last extension only") << "shot.tar.bmp"
                                             << "shot.tar.png";
        QTest::newRow("no extension") << "dir/shot"
                                      << "dir/shot.png";
        QTest::newRow("dot in folder only") << "/a.b/shot"
                                            << "/a.b/shot.png";
        QTest::newRow("hidden file") << "/tmp/.shot"
                                     << "/tmp/.shot.png";
        QTest::newRow("trailing dot") << "shot."
                                      << "shot.png";
        QTest::newRow("already png") << "shot.png"
                                     << "shot.png";
    }

    void pngNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QCOMPARE(pngPathFor(input), output);
    }
};

QTEST_GUILESS_MAIN(TestPaletteConversion)
#include "tst_paletteconversion.moc"
