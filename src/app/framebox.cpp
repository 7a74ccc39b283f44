// SPDX-License-Identifier: GPL-3.0-or-later
#include "framebox.h"

#include <QPainter>
#include <qdrawutil.h>

namespace tovrin3 {

namespace {

// The caption starts this far right of the frame's left edge, with a gap either side of it in
// the border line.
constexpr int CaptionIndent = 6;
constexpr int CaptionGap = 2;

} // namespace

FrameBox::FrameBox(QWidget *parent) : QGroupBox(parent) {}

void FrameBox::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int borderTop = metrics.height() / 2;
    qDrawShadeRect(&painter, rect().adjusted(0, borderTop, 0, 0), palette(), true, 1);
    if (title().isEmpty())
        return;
    const QRect caption(CaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * CaptionGap,
                        metrics.height());
    painter.fillRect(caption, palette().window());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}

} // namespace tovrin3
