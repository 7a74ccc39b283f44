// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

#include <memory>
#include <span>
#include <vector>

namespace tovrin3 {

// The spectrum of the audio between 200 and 2000 Hz, block after block, for the waterfall: each
// row holds the level in dB of one block (Hann window, FFTW) in each frequency bin of the band.
// Blocks do not overlap and follow each other wherever the stream is cut.
class SpectrumRows
{
public:
    static constexpr double LowestHz = 200.0;
    static constexpr double HighestHz = 2000.0;

    explicit SpectrumRows(double sampleRate);
    ~SpectrumRows();
    SpectrumRows(const SpectrumRows &) = delete;
    SpectrumRows &operator=(const SpectrumRows &) = delete;

    // The rows that the samples complete, oldest first.
    std::vector<std::vector<float>> process(std::span<const float> samples);

    // The frequency at the middle of bin `column` of a row.
    double frequencyOfColumn(int column) const;
    int columnCount() const { return m_columnCount; }

private:
    std::vector<float> finishBlock();

    double m_binHz;
    int m_firstBin;
    int m_columnCount;
    std::vector<float> m_window;
    std::size_t m_filled = 0;
    struct Fft;
    std::unique_ptr<Fft> m_fft;
};

// A scrolling waterfall of spectrum rows, the newest at the top, frequency from left to right
// (200 to 2000 Hz). A mark shows the pitch the demodulator follows, drawn differently when the
// user locked it. A click anywhere names the frequency under the pointer.
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
