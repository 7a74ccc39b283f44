// SPDX-License-Identifier: GPL-3.0-or-later
// What the windows look like, sampled pixel by pixel: the window grey exactly where the window's
// background shows, light windows on a dark desktop, the frame drawn round the chart with its
// caption on the border line, round option circles and a white Info frame. That grey, and only
// it, is gone from the exported PNG: the window hands the converter the grey and the client area
// (tst_hostilefiles), which makes exactly that colour transparent (tst_nconvert).
#include "windowtesting.h"

#include <array>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QColor WindowGrey(240, 240, 240);

struct Sample
{
    const char *where;
    QPoint point; // in the client area
};

// Places where nothing but the window's background is painted once three frames are decoded.
const std::array BackgroundSamples{
    Sample{"window margin", {3, 3}},
    Sample{"option button right of its caption", {508, 62}},
    Sample{"empty status label", {200, 544}},
    Sample{"position label left of its text", {426, 538}},
    Sample{"frame above its border line", {400, 242}},
    Sample{"frame inside its border, left of the chart", {12, 400}},
};

// Places with something drawn on them.
const std::array DrawnSamples{
    Sample{"input box", {380, 50}},
    Sample{"chart plot area", {300, 300}},
};

QImage clientImage(const Form1 &window)
{
    return window.findChild<QWidget *>(u"clientArea"_s)->grab().toImage();
}

// The darkest pixel of the image within the rectangle, by lightness.
int darkestLightness(const QImage &image, const QRect &rect)
{
    int darkest = 255;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            darkest = std::min(darkest, image.pixelColor(x, y).lightness());
    }
    return darkest;
}

QPalette darkDesktopPalette()
{
    QPalette palette(QColor(53, 53, 53), QColor(45, 45, 45));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    return palette;
}

} // namespace

class TestAppearance : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QApplication::setPalette(QPalette()); }

    void windowGreyWhereBackgroundShows_data()
    {
        QTest::addColumn<bool>("darkDesktop");
        QTest::newRow("light desktop") << false;
        QTest::newRow("dark desktop") << true;
    }

    // On a dark desktop the window stays light and its text dark: a label and an option caption
    // have dark text, the text boxes stay white.
    void windowGreyWhereBackgroundShows()
    {
        QFETCH(bool, darkDesktop);
        if (darkDesktop)
            QApplication::setPalette(darkDesktopPalette());
        const auto shown = showWindow();
        decodeThreeFrames(shown->window);

        const QImage image = clientImage(shown->window);

        for (const Sample &sample : BackgroundSamples)
            QVERIFY2(image.pixelColor(sample.point) == WindowGrey, sample.where);
        for (const Sample &sample : DrawnSamples)
            QVERIFY2(image.pixelColor(sample.point) != WindowGrey, sample.where);
        QCOMPARE(image.pixelColor(500, 160), QColor(Qt::white)); // the report box
        const QWidget *position = control<QLabel>(shown->window, "Label2");
        QCOMPARE_LT(darkestLightness(image, position->geometry()), 100);
        const QWidget *option = control<QRadioButton>(shown->window, "Option1_2");
        QCOMPARE_LT(darkestLightness(image, option->geometry().adjusted(20, 0, 0, 0)), 100);
    }

    // The top border line runs through the middle of the caption, and the chart leaves the border
    // visible all round.
    void frameCaptionOnBorderAroundChart()
    {
        const auto shown = showWindow();
        decodeThreeFrames(shown->window);
        const QImage frame = control<QGroupBox>(shown->window, "Frame8")->grab().toImage();
        const int right = frame.width() - 1;
        const int bottom = frame.height() - 1;

        int borderTop = 0;
        while (borderTop < bottom && frame.pixelColor(right - 3, borderTop) == WindowGrey)
            ++borderTop;
        QCOMPARE_GT(borderTop, 0);
        const QRect captionAbove(0, 0, frame.width() / 2, borderTop);
        const QRect captionBelow(0, borderTop + 2, frame.width() / 2, borderTop);
        QCOMPARE_LT(darkestLightness(frame, captionAbove), 100);
        QCOMPARE_LT(darkestLightness(frame, captionBelow), 100);
        for (int y = borderTop + 2; y < bottom; ++y) {
            QVERIFY2(frame.pixelColor(0, y) != WindowGrey, qPrintable(QString::number(y)));
            QVERIFY2(frame.pixelColor(right, y) != WindowGrey, qPrintable(QString::number(y)));
        }
        for (int x = 1; x < right; ++x)
            QVERIFY2(frame.pixelColor(x, bottom) != WindowGrey, qPrintable(QString::number(x)));
    }

    // A circle cut off at the button's 13-pixel height would be wider than high.
    void optionCirclesAreRound()
    {
        const auto shown = showWindow();
        for (const char *name : {"Option1_0", "Option1_1"}) {
            const QImage button = control<QRadioButton>(shown->window, name)->grab().toImage();
            QCOMPARE(button.height(), 13);
            // What is drawn in the first run of columns with anything drawn: the circle.
            QRect circle;
            for (int x = 0; x < button.width(); ++x) {
                const QRect before = circle;
                for (int y = 0; y < button.height(); ++y) {
                    if (button.pixelColor(x, y) != WindowGrey)
                        circle |= QRect(x, y, 1, 1);
                }
                if (!before.isNull() && circle == before)
                    break;
            }
            QCOMPARE(circle.height(), circle.width());
        }
    }

    void infoFrameIsWhite()
    {
        QApplication::setPalette(darkDesktopPalette());
        Form2 info;
        const QImage image = showOnScreen(info).grab().toImage();
        const QRect frame = control<QGroupBox>(info, "Frame1")->geometry();

        QCOMPARE(image.pixelColor(frame.topLeft() + QPoint(4, 20)), QColor(Qt::white));
        QCOMPARE(image.pixelColor(frame.topLeft() + QPoint(120, 36)), QColor(Qt::white));
        QCOMPARE(image.pixelColor(300, 10), QColor(Qt::white));
        QVERIFY(image.pixelColor(frame.topLeft() + QPoint(0, 20)) != QColor(Qt::white));
        const QWidget *homepage = control<QLabel>(info, "Label6");
        QCOMPARE_LT(darkestLightness(image, homepage->geometry()), 100);
    }

private:
    static void decodeThreeFrames(Form1 &window)
    {
        pasteInput(window, crlfJoined(frameLines(3)));
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"
