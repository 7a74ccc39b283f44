#include "mainwindow.h"

#include "appearance.h"
#include "capturebuffer.h"
#include "channelchart.h"
#include "configuration.h"
#include "decoder.h"
#include "fileopening.h"
#include "infodialog.h"
#include "listenwindow.h"
#include "report.h"
#include "twips.h"

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

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

QPlainTextEdit *createTextBox(QWidget *parent, const QString &name, const QFont &font)
{
    auto *textBox = namedChild<QPlainTextEdit>(parent, name);
    textBox->setFont(font);
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
      m_screenshotExport(clock, starter, programFolder)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(WindowCaption);
    setWindowIcon(applicationIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogFont());

    createMenus();
    createClientArea();
    createInputControls();
    createChannelChoice();
    createChart();
    createStatusLine();
    arrangeTabOrder();
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

    m_picture2 = namedChild<CaptureBuffer>(m_clientArea, QStringLiteral("Picture2"));
    m_picture2->setGeometry(rectFromTwips(12960, 600, 1335, 855));
}

void Form1::createInputControls()
{
    m_text2 = createTextBox(m_clientArea, QStringLiteral("Text2"), fixedPitchFont(8.25, true));
    m_text2->setGeometry(rectFromTwips(120, 120, 6375, 1215));

    m_text3 = createTextBox(m_clientArea, QStringLiteral("Text3"), fixedPitchFont(9.0));
    m_text3->setGeometry(rectFromTwips(120, 1440, 8055, 2055));
    // The report only ever grows by appending; an undo history of it would grow without bound.
    m_text3->setUndoRedoEnabled(false);
}

void Form1::createChannelChoice()
{
    m_option1 = new QButtonGroup(this);
    m_option1->setObjectName(QStringLiteral("Option1"));
    for (int channel = 0; channel < static_cast<int>(ChannelButtons.size()); ++channel) {
        const ChannelButton &button = ChannelButtons[static_cast<std::size_t>(channel)];
        auto *option =
            namedChild<QRadioButton>(m_clientArea, QStringLiteral("Option1_%1").arg(channel));
        option->setText(QString::fromUtf16(button.caption));
        option->setGeometry(rectFromTwips(ChannelButtonLeftTwips, button.topTwips,
                                          button.widthTwips, ChannelButtonHeightTwips));
        setBackground(option, windowBackground());
        m_option1->addButton(option, channel);
    }
    m_option1->button(BatteryTemperatureChannel)->setChecked(true);
}

void Form1::createChart()
{
    m_frame8 = namedChild<QGroupBox>(m_clientArea, QStringLiteral("Frame8"));
    m_frame8->setGeometry(rectFromTwips(120, 3600, 8055, 4335));
    m_frame8->setFont(sansFont(QStringLiteral("MS Sans Serif"), 8.25, true));
    setBackground(m_frame8, windowBackground());
    QPalette titlePalette = m_frame8->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::black);
    m_frame8->setPalette(titlePalette);

    m_msChart1 = namedChild<ChannelChart>(m_frame8, QStringLiteral("MSChart1"));
    m_msChart1->setFont(dialogFont());
    m_msChart1->setGeometry(rectFromTwips(120, 240, 7815, 3975));
}

void Form1::createStatusLine()
{
    m_command1 = namedChild<QPushButton>(m_clientArea, QStringLiteral("Command1"));
    m_command1->setText(QStringLiteral("S"));
    m_command1->setGeometry(rectFromTwips(120, 8040, 495, 255));

    m_label3 =
        createLabel(m_clientArea, QStringLiteral("Label3"), rectFromTwips(720, 8040, 5055, 255));

    m_label2 =
        createLabel(m_clientArea, QStringLiteral("Label2"), rectFromTwips(6360, 8040, 615, 255));
    m_label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_hScroll1 = namedChild<QScrollBar>(m_clientArea, QStringLiteral("HScroll1"));
    m_hScroll1->setOrientation(Qt::Horizontal);
    m_hScroll1->setGeometry(rectFromTwips(7080, 8040, 1095, 255));
    m_hScroll1->setRange(FirstFrame, InitialFrameMaximum);
    m_hScroll1->setSingleStep(1);
    m_hScroll1->setPageStep(1);
    m_hScroll1->setValue(FirstFrame);
    // The position changes when the thumb is released, not while it is dragged.
    m_hScroll1->setTracking(false);
    // A tab stop like the text boxes: the arrow keys then step through the frames.
    m_hScroll1->setFocusPolicy(Qt::StrongFocus);
}

// The frame, the labels and the hidden buffer never take the focus; the controls that do follow
// each other in this order.
void Form1::arrangeTabOrder()
{
    const std::array<QWidget *, 9> tabOrder{m_hScroll1,           m_text2,
                                            m_command1,           m_text3,
                                            m_option1->button(0), m_option1->button(1),
                                            m_option1->button(2), m_option1->button(3),
                                            m_option1->button(4)};
    for (std::size_t index = 1; index < tabOrder.size(); ++index)
        QWidget::setTabOrder(tabOrder[index - 1], tabOrder[index]);
}

void Form1::connectEvents()
{
    connect(m_text2, &QPlainTextEdit::textChanged, this, &Form1::Text2_Change);
    connect(m_option1, &QButtonGroup::idClicked, this, &Form1::Option1_Click);
    connect(m_hScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    connect(m_command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    m_fileOpener = new FileOpener(this, [this](const QString &text) { appendAsPaste(text); });
    m_fileOpener->acceptDropsOn({this, m_text2->viewport(), m_text3->viewport()});
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_clientArea && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Form_Load()
{
    const Configuration configuration = loadConfiguration(m_programFolder);
    m_imageFolder = configuration.imageFolder;
    if (configuration.screenshotButtonVisible)
        m_command1->setVisible(*configuration.screenshotButtonVisible);
    m_picture2->hide();
}

// The capture buffer always covers the whole client area.
void Form1::Form_Resize()
{
    m_picture2->setBufferGeometry(m_clientArea->rect());
}

void Form1::Text2_Change()
{
    appendReport(
        decodeBeaconText(beaconText(), m_frameHistory, LineBreaks::TextDocument, TextBoxReport));
    m_hScroll1->setEnabled(true);
    setFrameMaximum(m_frameHistory.frameCount());
    HScroll1_Change();
    Draw_Chart(ComTemperatureChannel);
}

// The box holds its lines as paragraph or line separators, whichever line ends the pasted text
// used. The raw text keeps no-break spaces as they are.
QString Form1::beaconText() const
{
    return m_text2->document()->toRawText();
}

// Appends at the end of the document without reading or rewriting what is there. The user's cursor
// and selection stay put, and the first new line is scrolled to the top of the box.
void Form1::appendReport(const QString &report)
{
    if (report.isEmpty())
        return;
    QTextDocument *document = m_text3->document();
    const QTextCursor userCursor = m_text3->textCursor();
    const int userAnchor = userCursor.anchor();
    const int userPosition = userCursor.position();

    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    const int firstNewParagraph = end.blockNumber();
    end.insertText(report);

    if (m_text3->textCursor().anchor() != userAnchor ||
        m_text3->textCursor().position() != userPosition) {
        QTextCursor restored(document);
        restored.setPosition(userAnchor);
        restored.setPosition(userPosition, QTextCursor::KeepAnchor);
        m_text3->setTextCursor(restored);
    }
    const int firstNewLine = document->findBlockByNumber(firstNewParagraph).firstLineNumber();
    m_text3->verticalScrollBar()->setValue(firstNewLine);
}

// A decode without frames reads as maximum 0, but the scroll bar keeps its lower bound of 1 and
// a position of at least 1 for the next decode.
void Form1::setFrameMaximum(int frameCount)
{
    m_frameMaximum = frameCount;
    m_hScroll1->setRange(FirstFrame, std::max(FirstFrame, frameCount));
}

void Form1::Option1_Click(int Index)
{
    Draw_Chart(Index);
}

void Form1::HScroll1_Change()
{
    m_label2->setText(framePositionText(m_hScroll1->value(), m_frameMaximum));
}

// Redraws the chart from the history: one bar per frame, labelled with the frame number. Without
// frames the chart and its caption keep the previous result.
void Form1::Draw_Chart(int Index)
{
    const int frameCount = m_frameHistory.frameCount();
    if (frameCount < 1)
        return;
    Q_ASSERT(Index >= 0 && Index < static_cast<int>(ChannelButtons.size()));
    m_frame8->setTitle(m_option1->button(Index)->text());

    QStringList rowLabels;
    QList<double> values;
    rowLabels.reserve(frameCount);
    values.reserve(frameCount);
    for (int row = 1; row <= frameCount; ++row) {
        rowLabels.append(QString::number(row));
        values.append(m_frameHistory.channel(row, Index));
    }
    m_msChart1->setRows(rowLabels, values);
}

// Captures the client area as drawn now into the hidden buffer, saves it as a bitmap and has the
// converter turn it into a PNG. A bitmap that cannot be written is reported and nothing is started.
void Form1::Command1_Click()
{
    m_picture2->image() = m_clientArea->grab().toImage();
    const ExportResult result = m_screenshotExport.exportImage(m_picture2->image(), m_imageFolder);
    if (result.outcome == ExportResult::BitmapNotWritten) {
        showMessage(QMessageBox::Warning,
                    QStringLiteral("The screenshot could not be saved as %1: %2")
                        .arg(result.bitmapPath, result.reason));
        return;
    }
    m_label3->setText(result.bitmapPath + QStringLiteral(" saved"));
    if (result.outcome == ExportResult::ConverterNotStarted)
        showMessage(QMessageBox::Information, QStringLiteral("nconvert.exe not found"));
}

void Form1::showMessage(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox message(icon, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    message.exec();
}

void Form1::appendAsPaste(const QString &text)
{
    if (text.isEmpty())
        return;
    QTextCursor end(m_text2->document());
    end.movePosition(QTextCursor::End);
    end.insertText(end.atBlockStart() ? text : QLatin1Char('\n') + text);
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
    }
    m_listenWindow->show();
    m_listenWindow->raise();
    m_listenWindow->activateWindow();
    return m_listenWindow;
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
