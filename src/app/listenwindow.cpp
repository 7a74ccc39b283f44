// SPDX-License-Identifier: GPL-3.0-or-later
#include "listenwindow.h"

#include "appearance.h"
#include "bandanalysis.h"
#include "livecopy.h"
#include "soundserver.h"
#include "stationlink.h"
#include "waterfall.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMediaDevices>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <exception>

namespace tovrin3 {

namespace {

// The level meter runs from this many dB below full scale to full scale.
constexpr int LevelRangeDb = 60;
// A click this close to the held mark lets the pitch go again.
constexpr int MarkGrabPixels = 6;
// The copied lines the window keeps in view; the main window keeps them all.
constexpr int KeptLines = 200;
// How often the window looks for a sound server while none answers.
constexpr int ServerWatchMilliseconds = 2000;

const QString NoServerText =
    QStringLiteral("No sound server answers (PulseAudio or PipeWire). Once one runs, its inputs "
                   "appear in the list.");
const QString NoInputText =
    QStringLiteral("No audio input found. Connect the receiver's audio output to a sound input of "
                   "this computer; it then appears in the list.");

template<typename Widget> Widget *named(QWidget *parent, const char *name)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1StringView(name));
    return widget;
}

int levelDb(std::span<const float> samples)
{
    float peak = 0.0F;
    for (const float sample : samples)
        peak = std::max(peak, std::abs(sample));
    if (peak <= 0.0F)
        return 0;
    const double db = 20.0 * std::log10(static_cast<double>(peak));
    return std::clamp(static_cast<int>(std::lround(db)) + LevelRangeDb, 0, LevelRangeDb);
}

} // namespace

ListenWindow::ListenWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Listen"));
    setWindowIcon(applicationIcon());

    m_liveCopy = new LiveCopy(this);
    createControls();
    m_serverWatch.setInterval(ServerWatchMilliseconds);
    connect(&m_serverWatch, &QTimer::timeout, this, &ListenWindow::findSoundServer);
    findSoundServer();
    updateButtons();

    connect(m_liveCopy, &LiveCopy::captured, this, &ListenWindow::showCaptured);
    connect(m_liveCopy, &LiveCopy::lineCopied, this, &ListenWindow::showLine);
    connect(m_liveCopy, &LiveCopy::copied, this, &ListenWindow::logLine);
    connect(m_liveCopy, &LiveCopy::failed, this, &ListenWindow::showFailure);
    connect(m_liveCopy, &LiveCopy::statusChanged, this, &ListenWindow::showPitch);
    connect(m_cmdStart, &QPushButton::clicked, this, &ListenWindow::CmdStart_Click);
    connect(m_cmdStop, &QPushButton::clicked, this, &ListenWindow::CmdStop_Click);
    connect(m_cmdAuto, &QPushButton::clicked, this, &ListenWindow::CmdAuto_Click);
    connect(m_picture1, &Waterfall::clicked, this, &ListenWindow::Picture1_Click);
    if (parent)
        parent->installEventFilter(this);
}

// A capture still running when the window goes ends without announcing its last lines: the
// window they would go to is going too. Closing the window first keeps them.
ListenWindow::~ListenWindow()
{
    m_liveCopy->disconnect(this);
    m_liveCopy->stop();
}

void ListenWindow::createControls()
{
    m_combo1 = named<QComboBox>(this, "Combo1");
    m_combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo1->setMinimumContentsLength(24);
    m_cmdStart = named<QPushButton>(this, "CmdStart");
    m_cmdStart->setText(QStringLiteral("&Start"));
    m_cmdStop = named<QPushButton>(this, "CmdStop");
    m_cmdStop->setText(QStringLiteral("S&top"));
    auto *inputRow = new QHBoxLayout;
    auto *inputLabel = new QLabel(QStringLiteral("&Input:"), this);
    inputLabel->setBuddy(m_combo1);
    inputRow->addWidget(inputLabel);
    inputRow->addWidget(m_combo1, 1);
    inputRow->addWidget(m_cmdStart);
    inputRow->addWidget(m_cmdStop);

    m_picture1 = named<Waterfall>(this, "Picture1");
    m_picture1->setToolTip(QStringLiteral("Click the trace to hold the pitch; click the held "
                                          "mark again or Auto to search again."));

    m_level1 = named<QProgressBar>(this, "Level1");
    m_level1->setRange(0, LevelRangeDb);
    m_level1->setValue(0);
    m_level1->setTextVisible(false);
    m_level1->setToolTip(
        QStringLiteral("Input level, %1 dB below full scale to full scale").arg(LevelRangeDb));
    m_lblPitch = named<QLabel>(this, "LblPitch");
    m_lblSpeed = named<QLabel>(this, "LblSpeed");
    m_cmdAuto = named<QPushButton>(this, "CmdAuto");
    m_cmdAuto->setText(QStringLiteral("&Auto"));
    m_cmdAuto->setToolTip(QStringLiteral("Let the demodulator find the pitch again"));
    auto *signalRow = new QHBoxLayout;
    signalRow->addWidget(new QLabel(QStringLiteral("Level:"), this));
    signalRow->addWidget(m_level1, 1);
    signalRow->addWidget(m_lblPitch);
    signalRow->addWidget(m_lblSpeed);
    signalRow->addWidget(m_cmdAuto);

    m_lblCopying = named<QLabel>(this, "LblCopying");
    m_lblCopying->setTextFormat(Qt::PlainText);
    m_lblCopying->setFont(fixedPitchFont(9.0));
    m_text1 = named<QPlainTextEdit>(this, "Text1");
    m_text1->setReadOnly(true);
    m_text1->setFont(fixedPitchFont(9.0));
    m_text1->setMaximumBlockCount(KeptLines);
    m_text1->setUndoRedoEnabled(false);
    m_lblStatus = named<QLabel>(this, "LblStatus");
    m_lblStatus->setTextFormat(Qt::PlainText);
    m_lblStatus->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(inputRow);
    layout->addWidget(m_picture1, 1);
    layout->addLayout(signalRow);
    layout->addWidget(m_lblCopying);
    layout->addWidget(m_text1);
    layout->addWidget(m_lblStatus);
    m_lblStation = named<QLabel>(this, "LblStation");
    m_lblStation->setTextFormat(Qt::PlainText);
    m_lblStation->setWordWrap(true);
    m_lblStation->hide();
    layout->addWidget(m_lblStation);
    showPitch();
}

// Qt Multimedia is first asked for inputs once a sound server answers, and then follows that
// server's inputs itself; until then the window asks again every few seconds.
void ListenWindow::findSoundServer()
{
    if (m_mediaDevices)
        return;
    if (!soundServerAnswers()) {
        m_serverWatch.start();
        showNoInput();
        return;
    }
    m_serverWatch.stop();
    m_mediaDevices = new QMediaDevices(this);
    connect(m_mediaDevices, &QMediaDevices::audioInputsChanged, this, &ListenWindow::listInputs);
    listInputs();
}

// Says why there is nothing to start on.
void ListenWindow::showNoInput()
{
    m_lblStatus->setText(m_mediaDevices && soundServerAnswers() ? NoInputText : NoServerText);
}

// Keeps the chosen input when the list changes, else the default one; a capturing input that is
// gone ends the capture.
void ListenWindow::listInputs()
{
    if (!m_mediaDevices)
        return;
    const bool hadInputs = m_combo1->count() > 0;
    const QByteArray chosen = m_combo1->currentData().value<QAudioDevice>().id();
    m_combo1->clear();
    for (const QAudioDevice &device : QMediaDevices::audioInputs())
        m_combo1->addItem(device.description(), QVariant::fromValue(device));
    const int chosenIndex = inputIndex(chosen);
    m_combo1->setCurrentIndex(
        chosenIndex >= 0 ? chosenIndex : inputIndex(QMediaDevices::defaultAudioInput().id()));
    if (isListening() && !QMediaDevices::audioInputs().contains(m_liveCopy->device())) {
        m_liveCopy->stop();
        showFailure(QStringLiteral("it was disconnected"));
    }
    if (m_combo1->count() == 0) {
        showNoInput();
    } else if (!hadInputs && !isListening()) {
        m_lblStatus->setText(QStringLiteral("Choose the input and press Start."));
        if (m_startWhenFound)
            startDefaultInput();
    }
    updateButtons();
}

int ListenWindow::inputIndex(const QByteArray &id) const
{
    for (int index = 0; index < m_combo1->count(); ++index) {
        if (!id.isEmpty() && m_combo1->itemData(index).value<QAudioDevice>().id() == id)
            return index;
    }
    return -1;
}

// Without an input yet (the sound server not running, the receiver not plugged in), the start
// waits for the first input that appears.
void ListenWindow::startDefaultInput()
{
    m_startWhenFound = false;
    findSoundServer();
    if (m_mediaDevices) {
        if (const int index = inputIndex(QMediaDevices::defaultAudioInput().id()); index >= 0)
            m_combo1->setCurrentIndex(index);
    }
    CmdStart_Click();
    m_startWhenFound = m_combo1->count() == 0;
}

bool ListenWindow::isListening() const
{
    return m_liveCopy->isRunning();
}

void ListenWindow::CmdStart_Click()
{
    if (m_combo1->count() == 0) {
        showNoInput();
        return;
    }
    const auto device = m_combo1->currentData().value<QAudioDevice>();
    if (!m_liveCopy->start(device)) {
        showFailure(soundServerAnswers() ? m_liveCopy->errorString()
                                         : QStringLiteral("the sound server does not answer"));
        return;
    }
    try {
        m_spectrum = std::make_unique<morse::WaterfallSpectrum>(m_liveCopy->sampleRate());
        m_picture1->setColumns(m_spectrum->frequencyOfColumn(0),
                               m_spectrum->frequencyOfColumn(1) - m_spectrum->frequencyOfColumn(0));
    } catch (const std::exception &failure) {
        m_liveCopy->stop();
        showFailure(QString::fromLocal8Bit(failure.what()));
        return;
    }
    m_lblStatus->setText(QStringLiteral("Listening to %1.").arg(device.description()));
    updateButtons();
}

void ListenWindow::CmdStop_Click()
{
    m_startWhenFound = false;
    if (!isListening())
        return;
    m_liveCopy->stop();
    m_level1->setValue(0);
    m_lblStatus->setText(QStringLiteral("Stopped."));
    updateButtons();
}

void ListenWindow::CmdAuto_Click()
{
    m_liveCopy->releasePitch();
}

// A click holds the pitch there, except a click on the held mark, which lets it go.
void ListenWindow::Picture1_Click(double hz)
{
    if (!isListening())
        return;
    const bool onHeldMark =
        m_liveCopy->status().pitchHeld &&
        std::abs(m_picture1->positionOf(hz) - m_picture1->positionOf(m_picture1->markHz())) <=
            MarkGrabPixels;
    if (onHeldMark)
        m_liveCopy->releasePitch();
    else
        m_liveCopy->lockPitch(hz);
}

void ListenWindow::showCaptured(std::span<const float> samples)
{
    m_level1->setValue(levelDb(samples));
    if (m_spectrum) {
        for (const std::vector<float> &row : m_spectrum->process(samples))
            m_picture1->addRow(row);
    }
}

void ListenWindow::showLine(const QString &text)
{
    m_text1->appendPlainText(text);
    emit lineCopied(text);
}

void ListenWindow::setStationLink(StationLink *link)
{
    if (m_stationLink)
        m_stationLink->disconnect(this);
    m_stationLink = link;
    if (link)
        connect(link, &StationLink::statusChanged, this, &ListenWindow::showStation);
    showStation();
}

void ListenWindow::logLine(const morse::CopiedLine &line)
{
    if (m_stationLink)
        m_stationLink->take({line}, m_liveCopy->startedAtMs(), QStringLiteral("listen"));
}

void ListenWindow::showStation()
{
    m_lblStation->setVisible(m_stationLink != nullptr);
    if (m_stationLink)
        m_lblStation->setText(m_stationLink->statusText());
}

void ListenWindow::showFailure(const QString &reason)
{
    const QString input = m_combo1->currentText();
    m_lblStatus->setText(QStringLiteral("The input \"%1\" cannot be used: %2.").arg(input, reason));
    m_level1->setValue(0);
    updateButtons();
}

void ListenWindow::showPitch()
{
    const LiveStatus &status = m_liveCopy->status();
    const double pitch = status.pitchHz;
    const bool held = status.pitchHeld;
    m_picture1->setMark(pitch, held);
    m_lblPitch->setText(pitch > 0.0 ? QStringLiteral("Pitch: %1 Hz%2")
                                          .arg(std::lround(pitch))
                                          .arg(held ? QStringLiteral(" (held)") : QString())
                                    : QStringLiteral("Pitch: -"));
    const double speed = status.wordsPerMinute;
    m_lblSpeed->setText(speed > 0.0 ? QStringLiteral("Speed: %1 WPM").arg(std::lround(speed))
                                    : QStringLiteral("Speed: -"));
    m_lblCopying->setText(status.pendingText);
    m_cmdAuto->setEnabled(held);
}

void ListenWindow::updateButtons()
{
    const bool listening = isListening();
    m_cmdStart->setEnabled(!listening);
    m_cmdStop->setEnabled(listening);
    m_combo1->setEnabled(!listening);
    showPitch();
}

void ListenWindow::closeEvent(QCloseEvent *event)
{
    CmdStop_Click();
    QWidget::closeEvent(event);
}

// The window belongs to the main window: when that closes, listening ends with it.
bool ListenWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Hide && !event->spontaneous() &&
        isVisible())
        close();
    return QWidget::eventFilter(watched, event);
}

} // namespace tovrin3
