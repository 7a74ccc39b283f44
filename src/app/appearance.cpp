#include "appearance.h"

#include <QFontInfo>
#include <QPalette>
#include <QStringList>
#include <QWidget>

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

} // namespace

QColor windowBackground()
{
    return {240, 240, 240};
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

} // namespace tovrin3
