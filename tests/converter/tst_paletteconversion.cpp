// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileconversion.h"

#include <QLocale>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <cstdlib>

using namespace tovrin3;

namespace {

constexpr QRgb ExportGrey = qRgb(240, 240, 240);

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

    // 64 colours a row and one grey pixel that turns transparent, as the export asks for.
    void coloursFitOrStayClose_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("maxColours");
        QTest::addColumn<int>("largestAverageError");
        QTest::newRow("255 colours and transparent kept exactly") << 4 << 256 << 0;
        QTest::newRow("3071 colours and transparent into 256") << 48 << 256 << 6;
    }

    void coloursFitOrStayClose()
    {
        QFETCH(int, rows);
        QFETCH(int, maxColours);
        QFETCH(int, largestAverageError);
        QImage image(64, rows, QImage::Format_RGB32);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 4, y * 4, 255 - (x + y) * 2));
        }
        image.setPixel(0, 0, ExportGrey);

        const QImage reduced = convertImage(image, {ExportGrey, maxColours, false});
        QCOMPARE(reduced.format(), QImage::Format_Indexed8);
        QVERIFY(reduced.colorCount() <= maxColours);
        QSet<uchar> used;
        qint64 errorSum = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                used.insert(reduced.constScanLine(y)[x]);
                QCOMPARE(qAlpha(reduced.pixel(x, y)), x + y == 0 ? 0 : 255);
                errorSum += largestChannelError(reduced.pixel(x, y), image.pixel(x, y));
            }
        }
        QCOMPARE(used.size(), maxColours); // the whole palette is put to use
        QCOMPARE_LE(errorSum, qint64{largestAverageError} * (image.width() * rows - 1));
    }

    void pngNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("last extension only") << QString("shot.tar.bmp") << QString("shot.tar.png");
        QTest::newRow("dot in folder only") << QString("/a.b/shot") << QString("/a.b/shot.png");
        QTest::newRow("hidden file") << QString("/tmp/.shot") << QString("/tmp/.shot.png");
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
