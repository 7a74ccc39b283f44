// SPDX-License-Identifier: GPL-3.0-or-later
#include "capturebuffer.h"

#include <QPainter>

namespace tovrin3 {

CaptureBuffer::CaptureBuffer(QWidget *parent) : QWidget(parent) {}

void CaptureBuffer::setBufferGeometry(const QRect &geometry)
{
    setGeometry(geometry);
    fitImageToSize();
}

void CaptureBuffer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}

// A hidden widget gets no resize events, so the image is fitted whenever the geometry is set.
void CaptureBuffer::fitImageToSize()
{
    if (m_image.size() == size())
        return;
    QImage resized(size(), QImage::Format_RGB32);
    resized.fill(palette().color(QPalette::Window));
    if (!m_image.isNull()) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, m_image);
    }
    m_image = resized;
}

} // namespace tovrin3
