// SPDX-License-Identifier: GPL-3.0-or-later
// What the window manager is told about the fixed-size windows on X11: no resizing offered, in
// the Motif hints and in the size hints alike. Needs an X server (CTest runs it under xvfb-run);
// on any other platform there is nothing to check.
#include "infodialog.h"
#include "windowtesting.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

constexpr std::uint32_t MotifFunctionsGiven = 1U << 0;
constexpr std::uint32_t MotifFunctionResize = 1U << 1;
constexpr std::uint32_t MotifDecorationResizeHandles = 1U << 2;

template<typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// The five words of the window's _MOTIF_WM_HINTS: flags, functions, decorations, input mode,
// status; all zero without the property.
std::array<std::uint32_t, 5> motifHints(const QWidget &window)
{
    xcb_connection_t *connection =
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const char name[] = "_MOTIF_WM_HINTS";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name),
                              nullptr),
        &std::free);
    std::array<std::uint32_t, 5> hints{};
    if (!atom)
        return hints;
    const XcbReply<xcb_get_property_reply_t> property(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0,
                                                static_cast<xcb_window_t>(window.winId()),
                                                atom->atom, atom->atom, 0, 5),
                               nullptr),
        &std::free);
    if (property && xcb_get_property_value_length(property.get()) == int(sizeof hints))
        std::memcpy(hints.data(), xcb_get_property_value(property.get()), sizeof hints);
    return hints;
}

} // namespace

class TestWindowHints : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1StringView("xcb"))
            QSKIP("window-manager hints are only written on X11");
    }

    void fixedWindowsOfferNoResizing()
    {
        const auto shown = showWindow();
        Form2 info;
        info.show();
        QVERIFY(QTest::qWaitForWindowExposed(&info));

        for (const QWidget *window :
             {static_cast<QWidget *>(&shown->window), static_cast<QWidget *>(&info)}) {
            const std::array<std::uint32_t, 5> hints = motifHints(*window);
            QVERIFY2(hints[0] & MotifFunctionsGiven, qPrintable(window->objectName()));
            QCOMPARE(hints[1] & MotifFunctionResize, 0U);
            QCOMPARE(hints[2] & MotifDecorationResizeHandles, 0U);
            QCOMPARE(window->minimumSize(), window->maximumSize());
        }
    }
};

QTEST_MAIN(TestWindowHints)
#include "tst_windowhints.moc"
