// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>

QT_BEGIN_NAMESPACE
class QStyle;
class QWidget;
QT_END_NAMESPACE

namespace tovrin3 {

// The main window's grey, also the background of its option buttons, labels and frame. The
// screenshot converter makes exactly this colour transparent, so the background drops out of the
// PNG.
QColor windowBackground();

// The light palette of both windows on the given background: dark text on light faces and white
// text boxes, whatever colours the desktop gives. The windows paint their fixed light background
// themselves, so text drawn on it must never take a dark desktop's light text colour.
QPalette windowPalette(const QColor &background);

// The icon of both windows.
QIcon applicationIcon();

// The font of every control that names none: the classic 8.25 pt dialog font, or the nearest
// sans serif where it is missing.
QFont dialogFont();

// A sans serif face asked for by name, e.g. "Arial", with a sans serif fallback.
QFont sansFont(const QString &family, qreal pointSize, bool bold = false);

// Courier New at the given size, or the nearest fixed-pitch face where it is missing.
QFont fixedPitchFont(qreal pointSize, bool bold = false);

// Fills the widget's background with the colour, whatever the style's own choice.
void setBackground(QWidget *widget, const QColor &colour);

// The desktop's style with option-button circles that fit the classic 13-pixel button height.
// The caller owns it.
QStyle *createClassicStyle();

// Keeps the window manager from offering to resize a window of fixed size: Qt's X11 window
// hints always allow resizing. Call once the window is created and before it is mapped; does
// nothing on other platforms.
void advertiseFixedSize(QWidget *window);

} // namespace tovrin3
