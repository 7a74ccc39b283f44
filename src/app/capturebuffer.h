// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

namespace tovrin3 {

// The hidden buffer that receives the window image for a screenshot. It keeps what is drawn
// into it in an image of its own size in pixels, which survives hiding and repainting.
class CaptureBuffer : public QWidget
{
    Q_OBJECT

public:
    explicit CaptureBuffer(QWidget *parent = nullptr);

    // Moves and sizes the buffer; the image follows the size and keeps what fits of its drawing.
    void setBufferGeometry(const QRect &geometry);

    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void fitImageToSize();

    QImage m_image;
};

} // namespace tovrin3
