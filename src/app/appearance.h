#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace tovrin3 {

// The main window's grey; the screenshot converter makes exactly this colour transparent.
QColor windowBackground();

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

} // namespace tovrin3
