// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include "appearance.h"
#include "beaconreader.h"
#include "capturebuffer.h"
#include "channelchart.h"
#include "configuration.h"
#include "decoder.h"
#include "fileopening.h"
#include "framebox.h"
#include "historywindow.h"
#include "infodialog.h"
#include "listenwindow.h"
#include "report.h"
#include "reportview.h"
#include "stationdialog.h"
#include "stationlink.h"
#include "twips.h"

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QTextCursor>

#include <algorithm>
#include <array>

namespace tovrin3 {

namespace {

const QString WindowCaption =
    QStringLiteral("KAMO TOVRIN-III CW beacon telemetry decoder (NOCALL)");

constexpr int ClientWidthTwips = 8250;
constexpr int ClientHeightTwips = 8475;

// Frames are counted from 1, so the scroll bar's lower bound is 1.
constexpr int FirstFrame = 1;
// The scroll bar's upper bound until the first decode sets it.
constexpr int InitialFrameMaximum = 32767;

struct ChannelButton
{
    const char16_t *caption;
    int topTwips;
    int widthTwips;
};

// One option button per channel, in channel order: a button's id is its channel number.
constexpr std::array<ChannelButton, 5> ChannelButtons{{
    {u"Batt Temperature", 120, 1575},
    {u"COM Temperature", 360, 1815},
    {u"Battery Voltage", 600, 1575},
    {u"Debug", 840, 1095},
    {u"Kill Switch", 1080, 1215},
}};
constexpr int ChannelButtonLeftTwips = 6600;
constexpr int ChannelButtonHeightTwips = 195;

template<typename Widget> Widget *namedChild(QWidget *parent, const QString &name)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(name);
    return widget;
}

// Tab and Shift+Tab move the focus on, as in the classic multi-line text boxes: a tab character
// in a frame line would keep it from decoding.
QPlainTextEdit *createTextBox(QWidget *parent, const QString &name, const QFont &font)
{
    auto *textBox = namedChild<QPlainTextEdit>(parent, name);
    textBox->setFont(font);
    textBox->setTabChangesFocus(true);
    textBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return textBox;
}

QLabel *createLabel(QWidget *parent, const QString &name, const QRect &geometry)
{
    auto *label = namedChild<QLabel>(parent, name);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    setBackground(label, windowBackground());
    return label;
}

// HScroll1, a scroll bar that the keyboard reaches. Left goes back and Right on, as on any
// horizontal scroll bar: Qt's scroll bars invert their controls so that Up goes back, and that
// swaps Left and Right too. Qt's styles draw no focus mark on a scroll bar, and this one has the
// focus when the window opens: its thumb carries the style's focus frame while it has the focus.
class FrameScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right) {
            QScrollBar::keyPressEvent(event);
            return;
        }
        const bool back = (event->key() == Qt::Key_Left) != isRightToLeft();
        triggerAction(back ? SliderSingleStepSub : SliderSingleStepAdd);
        event->accept();
    }

    void paintEvent(QPaintEvent *event) override
    {
        QScrollBar::paintEvent(event);
        if (!hasFocus())
            return;
        QStyleOptionSlider slider;
        initStyleOption(&slider);
        QRect thumb = style()->subControlRect(QStyle::CC_ScrollBar, &slider,
                                              QStyle::SC_ScrollBarSlider, this);
        if (thumb.isEmpty())
            thumb = rect();
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        // The mark shows however the focus came, by key or not.
        focus.state |= QStyle::State_KeyboardFocusChange;
        focus.rect =
            thumb.adjusted(FocusMarkInset, FocusMarkInset, -FocusMarkInset, -FocusMarkInset);
        focus.backgroundColor = palette().color(QPalette::Button);
        QPainter painter(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }

private:
    static constexpr int FocusMarkInset = 2;
};

// Counts the frames of a text as the decode finds them, up to one past the history.
class FrameCounter : public BeaconLineReceiver
{
public:
    int frames = 0;

    bool receiveLine(const BeaconLine &line) override
    {
        if (line.kind == BeaconLine::Kind::Frame)
            ++frames;
        return frames <= MaxFrames;
    }
};

bool holdsFramesPastHistory(QStringView text)
{
    FrameCounter counter;
    BeaconReader reader(counter, {.lineBreaks = LineBreaks::TextDocument});
    reader.readText(text);
    return counter.frames > MaxFrames;
}

const Clock &systemClock()
{
    static const SystemClock clock;
    return clock;
}

ProcessStarter &detachedProcessStarter()
{
    static DetachedProcessStarter starter;
    return starter;
}

} // namespace

Form1::Form1(const QString &programFolder, QWidget *parent)
    : Form1(programFolder, systemClock(), detachedProcessStarter(), parent)
{
}

Form1::Form1(const QString &programFolder, const Clock &clock, ProcessStarter &starter,
             QWidget *parent)
    : QMainWindow(parent), m_programFolder(programFolder), m_frameMaximum(InitialFrameMaximum),
      m_screenshotExport(clock, starter, programFolder, windowBackground())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(WindowCaption);
    setWindowIcon(applicationIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogFont());
    setPalette(windowPalette(windowBackground()));
    m_classicStyle = createClassicStyle();
    m_classicStyle->setParent(this);

    createMenus();
    createClientArea();
    createInputControls();
    createChannelChoice();
    createChart();
    createStatusLine();
    arrangeTabOrder();
    describeControls();
    connectEvents();

    // The window is exactly as large as the fixed client area and the menu bar above it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load();
}

// An Info window still open when the main window is destroyed goes with it. In a normal run
// this never happens: the program ends only once every window has closed.
Form1::~Form1()
{
    delete m_infoDialog;
}

void Form1::createMenus()
{
    QMenu *fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("MnuFile"));
    QAction *openAction = fileMenu->addAction(QStringLiteral("&Open..."), QKeySequence::Open, this,
                                              &Form1::MnuOpen_Click);
    openAction->setObjectName(QStringLiteral("MnuOpen"));
    QAction *listenAction =
        fileMenu->addAction(QStringLiteral("&Listen..."), QKeySequence(Qt::CTRL | Qt::Key_L), this,
                            &Form1::MnuListen_Click);
    listenAction->setObjectName(QStringLiteral("MnuListen"));
    QAction *stationAction =
        fileMenu->addAction(QStringLiteral("S&tation..."), this, &Form1::MnuStation_Click);
    stationAction->setObjectName(QStringLiteral("MnuStation"));
    QAction *historyAction =
        fileMenu->addAction(QStringLiteral("&History..."), QKeySequence(Qt::CTRL | Qt::Key_H), this,
                            &Form1::MnuHistory_Click);
    historyAction->setObjectName(QStringLiteral("MnuHistory"));
    fileMenu->addSeparator();
    QAction *exitAction = fileMenu->addAction(
        QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &Form1::MnuExit_Click);
    exitAction->setObjectName(QStringLiteral("MnuExit"));

    // Info is a command in the menu bar itself, without a drop-down.
    QAction *infoAction = menuBar()->addAction(QStringLiteral("&Info"));
    infoAction->setObjectName(QStringLiteral("MnuInfo"));
    connect(infoAction, &QAction::triggered, this, &Form1::MnuInfo_Click);
}

void Form1::createClientArea()
{
    m_clientArea = namedChild<QWidget>(this, QStringLiteral("clientArea"));
    m_clientArea->setFixedSize(pixelsFromTwips(ClientWidthTwips),
                               pixelsFromTwips(ClientHeightTwips));
    setBackground(m_clientArea, windowBackground());
    m_clientArea->installEventFilter(this);
    setCentralWidget(m_clientArea);

    m_captureBuffer = namedChild<CaptureBuffer>(m_clientArea, QStringLiteral("Picture2"));
    m_captureBuffer->setGeometry(rectFromTwips(12960, 600, 1335, 855));
}

void Form1::createInputControls()
{
    m_beaconInput =
        createTextBox(m_clientArea, QStringLiteral("Text2"), fixedPitchFont(8.25, true));
    m_beaconInput->setGeometry(rectFromTwips(120, 120, 6375, 1215));

    m_report = namedChild<ReportView>(m_clientArea, QStringLiteral("Text3"));
    m_report->setFont(fixedPitchFont(9.0));
    m_report->setGeometry(rectFromTwips(120, 1440, 8055, 2055));
}

void Form1::createChannelChoice()
{
    m_channelButtons = new QButtonGroup(this);
    m_channelButtons->setObjectName(QStringLiteral("Option1"));
    for (int channel = 0; channel < static_cast<int>(ChannelButtons.size()); ++channel) {
        const ChannelButton &button = ChannelButtons[static_cast<std::size_t>(channel)];
        auto *option =
            namedChild<QRadioButton>(m_clientArea, QStringLiteral("Option1_%1").arg(channel));
        option->setText(QString::fromUtf16(button.caption));
        option->setGeometry(rectFromTwips(ChannelButtonLeftTwips, button.topTwips,
                                          button.widthTwips, ChannelButtonHeightTwips));
        setBackground(option, windowBackground());
        option->setStyle(m_classicStyle);
        option->installEventFilter(this);
        option->setFocusPolicy(Qt::ClickFocus);
        m_channelButtons->addButton(option, channel);
    }
    connect(m_channelButtons, &QButtonGroup::idToggled, this, &Form1::keepSelectedChannelTabStop);
    m_channelButtons->button(BatteryTemperatureChannel)->setChecked(true);
}

void Form1::createChart()
{
    m_chartFrame = namedChild<FrameBox>(m_clientArea, QStringLiteral("Frame8"));
    m_chartFrame->setGeometry(rectFromTwips(120, 3600, 8055, 4335));
    m_chartFrame->setFont(sansFont(QStringLiteral("MS Sans Serif"), 8.25, true));
    setBackground(m_chartFrame, windowBackground());

    m_chart = namedChild<ChannelChart>(m_chartFrame, QStringLiteral("MSChart1"));
    m_chart->setFont(dialogFont());
    m_chart->setGeometry(rectFromTwips(120, 240, 7815, 3975));
}

void Form1::createStatusLine()
{
    m_screenshotButton = namedChild<QPushButton>(m_clientArea, QStringLiteral("Command1"));
    m_screenshotButton->setText(QStringLiteral("S"));
    m_screenshotButton->setGeometry(rectFromTwips(120, 8040, 495, 255));

    m_screenshotStatus =
        createLabel(m_clientArea, QStringLiteral("Label3"), rectFromTwips(720, 8040, 5055, 255));

    m_framePosition =
        createLabel(m_clientArea, QStringLiteral("Label2"), rectFromTwips(6360, 8040, 615, 255));
    m_framePosition->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_frameScrollBar = namedChild<FrameScrollBar>(m_clientArea, QStringLiteral("HScroll1"));
    m_frameScrollBar->setOrientation(Qt::Horizontal);
    m_frameScrollBar->setGeometry(rectFromTwips(7080, 8040, 1095, 255));
    m_frameScrollBar->setRange(FirstFrame, InitialFrameMaximum);
    m_frameScrollBar->setSingleStep(1);
    m_frameScrollBar->setPageStep(1);
    m_frameScrollBar->setValue(FirstFrame);
    // The position changes when the thumb is released, not while it is dragged.
    m_frameScrollBar->setTracking(false);
    // A tab stop like the text boxes: the arrow keys then step through the frames.
    m_frameScrollBar->setFocusPolicy(Qt::StrongFocus);
}

// The frame, the chart, the labels and the hidden buffer never take the focus; the controls that
// do follow each other in this order, and the first of them has the focus when the window opens.
void Form1::arrangeTabOrder()
{
    const std::array<QWidget *, 9> tabOrder{m_frameScrollBar,
                                            m_beaconInput,
                                            m_screenshotButton,
                                            m_report,
                                            m_channelButtons->button(0),
                                            m_channelButtons->button(1),
                                            m_channelButtons->button(2),
                                            m_channelButtons->button(3),
                                            m_channelButtons->button(4)};
    for (std::size_t index = 1; index < tabOrder.size(); ++index)
        QWidget::setTabOrder(tabOrder[index - 1], tabOrder[index]);
    tabOrder.front()->setFocus();
}

// What a screen reader speaks for each control, and the tips for those whose caption says little.
void Form1::describeControls()
{
    m_beaconInput->setAccessibleName(QStringLiteral("Beacon text, one frame per line"));
    m_report->setAccessibleName(QStringLiteral("Decoded report"));
    for (QAbstractButton *button : m_channelButtons->buttons())
        button->setAccessibleName(QStringLiteral("Chart ") + button->text());
    m_chartFrame->setAccessibleName(QStringLiteral("Chart of the chosen channel"));
    m_chart->setAccessibleName(QStringLiteral("Bars of the chosen channel, one per frame"));

    const QString screenshot = QStringLiteral("Save a screenshot of the window as PNG");
    m_screenshotButton->setToolTip(screenshot);
    m_screenshotButton->setAccessibleName(screenshot);
    // The labels' names are the text they show, so a screen reader speaks "1/12" or the saved
    // file, and what they are for is their description.
    m_screenshotStatus->setAccessibleDescription(QStringLiteral("Screenshot status"));

    const QString position = QStringLiteral("Frame position: the frame the scroll bar stands on, "
                                            "of the frames decoded");
    m_framePosition->setToolTip(position);
    m_framePosition->setAccessibleDescription(position);
    const QString stepping = QStringLiteral("Step through the decoded frames");
    m_frameScrollBar->setToolTip(stepping);
    m_frameScrollBar->setAccessibleName(stepping);
}

void Form1::connectEvents()
{
    connect(m_beaconInput, &QPlainTextEdit::textChanged, this, &Form1::Text2_Change);
    connect(m_channelButtons, &QButtonGroup::idClicked, this, &Form1::Option1_Click);
    connect(m_frameScrollBar, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    connect(m_screenshotButton, &QPushButton::clicked, this, &Form1::Command1_Click);

    m_fileOpener = new FileOpener(this, [this](const QString &text) { appendAsPaste(text); });
    m_fileOpener->acceptDropsOn({this, m_beaconInput->viewport(), m_report->viewport()});
    connect(m_fileOpener, &FileOpener::recordingCopied, this,
            [this](const QString &path, const std::vector<morse::CopiedLine> &lines) {
                stationLink()->takeRecording(path, lines);
            });
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_clientArea && event->type() == QEvent::Resize)
        Form_Resize();
    if (event->type() == QEvent::KeyPress &&
        selectNeighbourChannel(watched, static_cast<QKeyEvent *>(event)->key()))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// The arrow keys move through the option buttons as through a classic option group: down and
// right to the next channel, up and left to the one before, round at either end. The button moved
// to is selected and charted as if clicked.
bool Form1::selectNeighbourChannel(QObject *button, int key)
{
    const int channel = m_channelButtons->id(qobject_cast<QAbstractButton *>(button));
    if (channel < 0)
        return false;
    int step = 0;
    if (key == Qt::Key_Down || key == Qt::Key_Right)
        step = 1;
    else if (key == Qt::Key_Up || key == Qt::Key_Left)
        step = -1;
    else
        return false;
    const int channelCount = static_cast<int>(ChannelButtons.size());
    QAbstractButton *next =
        m_channelButtons->button((channel + step + channelCount) % channelCount);
    next->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    next->click();
    return true;
}

// Of the option buttons only the selected one is a tab stop, so Tab and Shift+Tab enter the group
// on it; a click still gives any of them the focus.
void Form1::keepSelectedChannelTabStop(int channel, bool selected)
{
    m_channelButtons->button(channel)->setFocusPolicy(selected ? Qt::StrongFocus : Qt::ClickFocus);
}

void Form1::showEvent(QShowEvent *event)
{
    advertiseFixedSize(this);
    QMainWindow::showEvent(event);
}

void Form1::Form_Load()
{
    const Configuration configuration = loadConfiguration(m_programFolder);
    m_imageFolder = configuration.imageFolder;
    if (configuration.screenshotButtonVisible)
        m_screenshotButton->setVisible(*configuration.screenshotButtonVisible);
    m_captureBuffer->hide();
}

// The capture buffer always covers the whole client area.
void Form1::Form_Resize()
{
    m_captureBuffer->setBufferGeometry(m_clientArea->rect());
}

// After every decode the chart shows the COM temperature, whichever option button is selected:
// the button stays as the user left it until the next click.
void Form1::Text2_Change()
{
    m_report->appendText(
        decodeBeaconText(beaconText(), m_frameHistory, LineBreaks::TextDocument, LfReport));
    m_frameScrollBar->setEnabled(true);
    setFrameMaximum(m_frameHistory.frameCount());
    HScroll1_Change();
    Draw_Chart(ComTemperatureChannel);
}

// The box holds its lines as paragraph or line separators, whichever line ends the pasted text
// used. The raw text keeps no-break spaces as they are.
QString Form1::beaconText() const
{
    return m_beaconInput->document()->toRawText();
}

// A decode without frames reads as maximum 0, but the scroll bar keeps its lower bound of 1 and
// a position of at least 1 for the next decode.
void Form1::setFrameMaximum(int frameCount)
{
    m_frameMaximum = frameCount;
    m_frameScrollBar->setRange(FirstFrame, std::max(FirstFrame, frameCount));
}

void Form1::Option1_Click(int Index)
{
    Draw_Chart(Index);
}

void Form1::HScroll1_Change()
{
    m_framePosition->setText(framePositionText(m_frameScrollBar->value(), m_frameMaximum));
}

// Redraws the chart from the history: one bar per frame, labelled with the frame number. Without
// frames the chart and its caption keep the previous result.
void Form1::Draw_Chart(int Index)
{
    const int frameCount = m_frameHistory.frameCount();
    if (frameCount < 1)
        return;
    Q_ASSERT(Index >= 0 && Index < static_cast<int>(ChannelButtons.size()));
    m_chartFrame->setTitle(m_channelButtons->button(Index)->text());

    QStringList rowLabels;
    QList<double> values;
    rowLabels.reserve(frameCount);
    values.reserve(frameCount);
    for (int row = 1; row <= frameCount; ++row) {
        rowLabels.append(QString::number(row));
        values.append(m_frameHistory.channel(row, Index));
    }
    m_chart->setRows(rowLabels, values);
}

// Captures the client area as drawn now into the hidden buffer, saves it as a bitmap and has the
// converter turn it into a PNG. A bitmap that cannot be written is reported and nothing is started.
void Form1::Command1_Click()
{
    m_captureBuffer->image() = m_clientArea->grab().toImage();
    const ExportResult result =
        m_screenshotExport.exportImage(m_captureBuffer->image(), m_imageFolder);
    if (result.outcome == ExportResult::BitmapNotWritten) {
        showMessage(QMessageBox::Warning,
                    QStringLiteral("The screenshot could not be saved as %1: %2")
                        .arg(result.bitmapPath, result.reason));
        return;
    }
    m_screenshotStatus->setText(result.bitmapPath + QStringLiteral(" saved"));
    if (result.outcome == ExportResult::ConverterNotStarted)
        showMessage(QMessageBox::Information, QStringLiteral("nconvert.exe not found"));
}

void Form1::showMessage(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox message(icon, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    message.exec();
}

// The user's caret and selection stay where they were, also at the end of the text, where the
// insertion would push them behind the new lines, into the middle of what they are typing.
void Form1::appendAsPaste(const QString &text)
{
    if (text.isEmpty())
        return;
    const QTextCursor user = m_beaconInput->textCursor();
    const int userAnchor = user.anchor();
    const int userPosition = user.position();
    QTextCursor end(m_beaconInput->document());
    end.movePosition(QTextCursor::End);
    end.insertText(end.atBlockStart() ? text : QLatin1Char('\n') + text);
    if (m_beaconInput->textCursor().anchor() != userAnchor ||
        m_beaconInput->textCursor().position() != userPosition) {
        QTextCursor kept = m_beaconInput->textCursor();
        kept.setPosition(userAnchor);
        kept.setPosition(userPosition, QTextCursor::KeepAnchor);
        m_beaconInput->setTextCursor(kept);
    }
    QScrollBar *lines = m_beaconInput->verticalScrollBar();
    lines->setValue(lines->maximum());
    noticeFramesPastHistory();
}

// Once per window, when Open or Listen has brought more frames than the history holds. Not a
// modal box: the Listen window must go on copying while the notice is on screen.
void Form1::noticeFramesPastHistory()
{
    if (m_framesPastHistoryNoticed || !m_frameHistory.isFull() ||
        !holdsFramesPastHistory(beaconText()))
        return;
    m_framesPastHistoryNoticed = true;
    auto *notice = new QMessageBox(
        QMessageBox::Information, QStringLiteral("More than %1 frames").arg(MaxFrames),
        QStringLiteral("The input holds more than %1 frames. This window reports and charts the "
                       "first %1; tovrin3-decode takes the whole pass, for example:\n\n"
                       "tovrin3-decode --format csv pass.txt > pass.csv")
            .arg(MaxFrames),
        QMessageBox::Ok, this);
    notice->setObjectName(QStringLiteral("framesPastHistoryNotice"));
    notice->setWindowModality(Qt::NonModal);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->show();
}

void Form1::MnuOpen_Click()
{
    m_fileOpener->chooseAndOpen();
}

void Form1::MnuListen_Click()
{
    showListenWindow();
}

// One Listen window beside the main window; it goes when the main window does.
ListenWindow *Form1::showListenWindow()
{
    if (!m_listenWindow) {
        m_listenWindow = new ListenWindow(this);
        connect(m_listenWindow, &ListenWindow::lineCopied, this, &Form1::appendAsPaste);
        m_listenWindow->setStationLink(stationLink());
    }
    m_listenWindow->show();
    m_listenWindow->raise();
    m_listenWindow->activateWindow();
    return m_listenWindow;
}

// The log is opened when a first frame could go to it, so that a window that only decodes
// pasted text never touches it. A problem with it is told once, without holding up the copying.
StationLink *Form1::stationLink()
{
    if (!m_stationLink) {
        m_stationLink = new StationLink(m_programFolder, this);
        connect(m_stationLink, &StationLink::problem, this, [this](const QString &message) {
            auto *notice = new QMessageBox(QMessageBox::Warning, QStringLiteral("Station"), message,
                                           QMessageBox::Ok, this);
            notice->setAttribute(Qt::WA_DeleteOnClose);
            notice->show();
        });
    }
    return m_stationLink;
}

void Form1::MnuStation_Click()
{
    StationDialog dialog(m_programFolder, this);
    if (dialog.exec() == QDialog::Accepted && m_stationLink)
        m_stationLink->reload();
}

void Form1::MnuHistory_Click()
{
    showHistoryWindow();
}

// One History window beside the main window, not modal; it goes when the main window does.
HistoryWindow *Form1::showHistoryWindow()
{
    if (!m_historyWindow)
        m_historyWindow =
            new HistoryWindow(m_programFolder, station::StationLog::defaultPath(), this);
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
    return m_historyWindow;
}

void Form1::MnuExit_Click()
{
    close();
}

// One shared Info window without an owner, so both windows can be used side by side and the
// program runs on while either is open.
void Form1::MnuInfo_Click()
{
    if (!m_infoDialog)
        m_infoDialog = new Form2;
    m_infoDialog->show();
    m_infoDialog->raise();
    m_infoDialog->activateWindow();
}

} // namespace tovrin3
