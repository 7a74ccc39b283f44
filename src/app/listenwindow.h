// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <span>

QT_BEGIN_NAMESPACE
class QComboBox;
class QLabel;
class QMediaDevices;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
QT_END_NAMESPACE

namespace tovrin3 {

namespace morse {
struct CopiedLine;
class WaterfallSpectrum;
} // namespace morse

class LiveCopy;
class StationLink;
class Waterfall;

// The Listen window: copies the beacon from an audio input as the satellite sends it. It lists
// the inputs (the default one chosen), starts and stops the capture, shows the level, a
// waterfall of 200 to 2000 Hz with the pitch the demodulator follows, pitch and speed, and the
// text as it is copied. A click in the waterfall holds the demodulator on that pitch; a click on
// the held mark or Auto lets it search again. Every finished line is announced at once. Closing
// the window, or hiding the window it belongs to, ends the capture. The list follows the sound
// server's inputs, also when the server starts after the window; Start says why it cannot start.
class ListenWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ListenWindow(QWidget *parent = nullptr);
    ~ListenWindow() override;

    // Chooses the default input and starts on it; without any input yet, on the first one that
    // appears, unless Stop or closing the window ends the wait.
    void startDefaultInput();
    bool isListening() const;
    // Every line copied goes to the link, timed by the capture's clock; its counts show in the
    // status line.
    void setStationLink(StationLink *link);

public slots:
    void CmdStart_Click();
    void CmdStop_Click();
    void CmdAuto_Click();
    void Picture1_Click(double hz);

signals:
    void lineCopied(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void findSoundServer();
    void showNoInput();
    void listInputs();
    int inputIndex(const QByteArray &id) const;
    void showCaptured(std::span<const float> samples);
    void showLine(const QString &text);
    void showFailure(const QString &reason);
    void showPitch();
    void updateButtons();
    void showStation();
    void logLine(const morse::CopiedLine &line);

    // Made once a sound server answers.
    QMediaDevices *m_mediaDevices = nullptr;
    QTimer m_serverWatch;
    bool m_startWhenFound = false;
    LiveCopy *m_liveCopy = nullptr;
    std::unique_ptr<morse::WaterfallSpectrum> m_spectrum;

    QComboBox *m_combo1 = nullptr;
    QPushButton *m_cmdStart = nullptr;
    QPushButton *m_cmdStop = nullptr;
    QPushButton *m_cmdAuto = nullptr;
    Waterfall *m_picture1 = nullptr;
    QProgressBar *m_level1 = nullptr;
    QLabel *m_lblPitch = nullptr;
    QLabel *m_lblSpeed = nullptr;
    QLabel *m_lblCopying = nullptr;
    QPlainTextEdit *m_text1 = nullptr;
    QLabel *m_lblStatus = nullptr;
    QLabel *m_lblStation = nullptr;
    QPointer<StationLink> m_stationLink;
};

} // namespace tovrin3
