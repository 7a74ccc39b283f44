// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

#include <deque>
#include <span>
#include <vector>

namespace tovrin3 {

// A scrolling waterfall of spectrum rows (morse::WaterfallSpectrum), the newest at the top,
// frequency from left to right (200 to 2000 Hz), each column drawn over its own frequency. A mark
// shows the pitch the demodulator follows, drawn differently when the user locked it. A click
// anywhere names the frequency under the pointer.
class Waterfall : public QWidget
{
    Q_OBJECT

public:
    explicit Waterfall(QWidget *parent = nullptr);

    // Where the rows' columns lie: the middle of the first one and the step between them [Hz].
    // Until told, the columns are taken to span the band evenly.
    void setColumns(double firstHz, double stepHz);
    void addRow(std::span<const float> decibels);
    // Pitch 0 means no mark.
    void setMark(double pitchHz, bool locked);
    double markHz() const { return m_markHz; }
    // The frequency of the trace in the newest rows, about the last second: the column that
    // stands out most over each row's median; 0 before any row.
    double traceHz() const;

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
    double columnHz(int column) const;
    double positionAt(double hz) const;

    QImage m_image;
    double m_firstColumnHz = 0.0;
    double m_columnStepHz = 0.0;
    // The newest rows over their medians [dB], the newest first.
    std::deque<std::vector<float>> m_recentRows;
    double m_markHz = 0.0;
    bool m_markLocked = false;
};

} // namespace tovrin3
