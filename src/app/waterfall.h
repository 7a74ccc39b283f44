// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

#include <span>

namespace tovrin3 {

// A scrolling waterfall of spectrum rows (morse::WaterfallSpectrum), the newest at the top,
// frequency from left to right (200 to 2000 Hz). A mark shows the pitch the demodulator follows,
// drawn differently when the user locked it. A click anywhere names the frequency under the
// pointer.
class Waterfall : public QWidget
{
    Q_OBJECT

public:
    explicit Waterfall(QWidget *parent = nullptr);

    void addRow(std::span<const float> decibels);
    // Pitch 0 means no mark.
    void setMark(double pitchHz, bool locked);
    double markHz() const { return m_markHz; }

    // The frequency at a horizontal position in the widget.
    double frequencyAt(int x) const;
    int positionOf(double hz) const;

    QSize sizeHint() const override;

signals:
    void clicked(double hz);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QImage m_image;
    double m_markHz = 0.0;
    bool m_markLocked = false;
};

} // namespace tovrin3
