// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QProxyStyle>
#include <QStringList>
#include <QWidget>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#endif

namespace tovrin3 {

namespace {

constexpr qreal DialogFontPointSize = 8.25;

// Sans serif faces about as wide as the classic dialog font. The fixed layout has no room for a
// wider face such as DejaVu Sans, so any other face is condensed to about their width.
const QStringList NarrowSansFamilies{
    QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
    QStringLiteral("Arial"),         QStringLiteral("Liberation Sans"),
    QStringLiteral("Arimo"),         QStringLiteral("Helvetica"),
};
constexpr int WideFaceStretch = 85;

// An option button is 13 pixels high; its circle fits with a pixel to spare.
constexpr int OptionCircleSize = 12;

class ClassicStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        if (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight)
            return OptionCircleSize;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

#if QT_CONFIG(xcb)
// The window manager hints of the Motif standard, as Qt's X11 platform writes them.
constexpr std::uint32_t MotifAllFunctionsBut = 1U << 0;
constexpr std::uint32_t MotifFunctionResize = 1U << 1;
constexpr std::uint32_t MotifDecorationResizeHandles = 1U << 2;
constexpr std::size_t MotifHintsLength = 5;

xcb_atom_t internedAtom(xcb_connection_t *connection, const char *name, std::uint16_t length)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, length, name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}
#endif

} // namespace

QColor windowBackground()
{
    return {240, 240, 240};
}

QPalette windowPalette(const QColor &background)
{
    QPalette palette(background, background);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, background);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::PlaceholderText, Qt::darkGray);
    palette.setColor(QPalette::Highlight, QColor(0, 120, 215));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, Qt::blue);
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
    return palette;
}

QIcon applicationIcon()
{
    return QIcon(QStringLiteral(":/tovrin3.png"));
}

QFont dialogFont()
{
    return sansFont(QStringLiteral("MS Sans Serif"), DialogFontPointSize);
}

QFont sansFont(const QString &family, qreal pointSize, bool bold)
{
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setFamilies(QStringList{family} + NarrowSansFamilies);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    const bool narrowFace =
        NarrowSansFamilies.contains(QFontInfo(font).family(), Qt::CaseInsensitive);
    font.setStretch(narrowFace ? QFont::Unstretched : WideFaceStretch);
    return font;
}

QFont fixedPitchFont(qreal pointSize, bool bold)
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    font.setFixedPitch(true);
    // Courier New and its stand-ins are equally wide: never condensed like a wide sans serif.
    font.setStretch(QFont::Unstretched);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QStyle *createClassicStyle()
{
    return new ClassicStyle;
}

// Qt writes the Motif hints when it creates the native window, with resizing always allowed;
// this takes resizing out of what Qt wrote.
void advertiseFixedSize(QWidget *window)
{
#if QT_CONFIG(xcb)
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window->testAttribute(Qt::WA_WState_Created))
        return;
    const auto windowId = static_cast<xcb_window_t>(window->winId());
    static constexpr char HintsName[] = "_MOTIF_WM_HINTS";
    const xcb_atom_t hintsAtom = internedAtom(connection, HintsName, sizeof HintsName - 1);
    if (hintsAtom == XCB_ATOM_NONE)
        return;
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, windowId, hintsAtom, hintsAtom, 0, MotifHintsLength),
            nullptr),
        &std::free);
    if (!reply || reply->format != 32 ||
        static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) !=
            MotifHintsLength * sizeof(std::uint32_t))
        return;
    std::array<std::uint32_t, MotifHintsLength> hints{};
    std::memcpy(hints.data(), xcb_get_property_value(reply.get()), sizeof hints);
    if (hints[1] & MotifAllFunctionsBut)
        return;
    hints[1] &= ~MotifFunctionResize;
    hints[2] &= ~MotifDecorationResizeHandles;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, windowId, hintsAtom, hintsAtom, 32,
                        MotifHintsLength, hints.data());
    xcb_flush(connection);
#else
    Q_UNUSED(window);
#endif
}

} // namespace tovrin3
