// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framehistory.h"
#include "screenshotexport.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QString>

QT_BEGIN_NAMESPACE
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QStyle;
QT_END_NAMESPACE

namespace tovrin3 {

class CaptureBuffer;
class ChannelChart;
class FileOpener;
class Form2;
class HistoryWindow;
class ListenWindow;
class ReportView;
class StationLink;

// The decoder's main window. Every change of the beacon text in Text2 decodes the whole text
// again and appends the report to Text3; the chart plots one channel over the decoded frames and
// the scroll bar runs over the frame numbers. Controls carry their names as object names.
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    // programFolder is where conf.ini and the converter are looked for, and the default image
    // folder. The clock dates screenshots and the starter runs the converter.
    explicit Form1(const QString &programFolder, QWidget *parent = nullptr);
    Form1(const QString &programFolder, const Clock &clock, ProcessStarter &starter,
          QWidget *parent = nullptr);
    ~Form1() override;

    // The prefix that screenshot file names are appended to.
    const QString &imageFolder() const { return m_imageFolder; }

    // The hidden buffer, always the size of the client area, that a screenshot is drawn into.
    CaptureBuffer *captureBuffer() const { return m_captureBuffer; }

    const FrameHistory &frameHistory() const { return m_frameHistory; }

    // Opens beacon texts and recordings into Text2 (File > Open, drops, the command line).
    FileOpener *fileOpener() const { return m_fileOpener; }
    // Shows the one Listen window, creating it on first use.
    ListenWindow *showListenWindow();
    // Adds text after what Text2 holds, on a line of its own, as one paste: one change, one
    // decode. Text2 then shows the end of the text; the user's caret and selection stay.
    void appendAsPaste(const QString &text);
    // Where copied frames are logged and shared, made on first use.
    StationLink *stationLink();
    // Shows the one History window, creating it on first use.
    HistoryWindow *showHistoryWindow();

public slots:
    void Form_Load();
    void Form_Resize();
    void Text2_Change();
    void Option1_Click(int Index);
    void HScroll1_Change();
    void Draw_Chart(int Index);
    void Command1_Click();
    void MnuOpen_Click();
    void MnuListen_Click();
    void MnuStation_Click();
    void MnuHistory_Click();
    void MnuExit_Click();
    void MnuInfo_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createMenus();
    void createClientArea();
    void createInputControls();
    void createChannelChoice();
    void createChart();
    void createStatusLine();
    void arrangeTabOrder();
    void describeControls();
    void connectEvents();
    bool selectNeighbourChannel(QObject *button, int key);
    void keepSelectedChannelTabStop(int channel, bool selected);

    QString beaconText() const;
    void setFrameMaximum(int frameCount);
    void showMessage(QMessageBox::Icon icon, const QString &text);
    void noticeFramesPastHistory();

    QString m_programFolder;
    QString m_imageFolder;
    FrameHistory m_frameHistory;
    int m_frameMaximum;
    bool m_framesPastHistoryNoticed = false;

    // The controls, named by what they hold; their object names are the control names.
    QStyle *m_classicStyle = nullptr;
    QWidget *m_clientArea = nullptr;
    QPlainTextEdit *m_beaconInput = nullptr;   // Text2
    ReportView *m_report = nullptr;            // Text3
    QButtonGroup *m_channelButtons = nullptr;  // Option1
    QGroupBox *m_chartFrame = nullptr;         // Frame8
    ChannelChart *m_chart = nullptr;           // MSChart1
    QPushButton *m_screenshotButton = nullptr; // Command1
    QLabel *m_screenshotStatus = nullptr;      // Label3
    QLabel *m_framePosition = nullptr;         // Label2
    QScrollBar *m_frameScrollBar = nullptr;    // HScroll1
    CaptureBuffer *m_captureBuffer = nullptr;  // Picture2
    QPointer<Form2> m_infoDialog;
    FileOpener *m_fileOpener = nullptr;
    QPointer<ListenWindow> m_listenWindow;
    QPointer<HistoryWindow> m_historyWindow;
    StationLink *m_stationLink = nullptr;
    ScreenshotExport m_screenshotExport;
};

} // namespace tovrin3
