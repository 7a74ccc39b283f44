// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers for driving the main window as a user would: frame lines to paste, controls found by
// their names, and pasting through the clipboard.
#include "channelchart.h"
#include "decoder.h"
#include "fileopening.h"
#include "filetesting.h"
#include "infodialog.h"
#include "mainwindow.h"
#include "reportview.h"
#include "startoptions.h"

// The widgets and tools the window tests share.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace tovrin3::testing {

using namespace Qt::StringLiterals;

// Every window test reads and writes numbers as the C locale does, whatever the tester's.
inline void useCLocale()
{
    QLocale::setDefault(QLocale::c());
}
Q_COREAPP_STARTUP_FUNCTION(useCLocale)

// One frame line behind the station header, as copied by ear: temperatures in whole degrees
// (0 to 127, sent as sixteenths, low byte first), the voltage word 0C6A, mission byte 00.
inline QString frameLine(int batteryDegrees, int comDegrees, int debug, int killSwitch)
{
    return QString::asprintf("QT7XMRKT3HKD %02X%02X%02X%02X 0C6A 00 %02X %02X",
                             (batteryDegrees * 16) & 0xFF, batteryDegrees >> 4,
                             (comDegrees * 16) & 0xFF, comDegrees >> 4, debug & 0xFF,
                             killSwitch & 0xFF);
}

// Frame n of `count` (from 1) has COM temperature n, battery temperature n % 50, debug byte n
// and kill-switch byte n % 4, so a decode charts 1, 2, 3... and the other channels differ.
inline QStringList frameLines(int count)
{
    QStringList lines;
    for (int frame = 1; frame <= count; ++frame)
        lines.append(frameLine(frame % 50, frame, frame, frame % 4));
    return lines;
}

inline QString crlfJoined(const QStringList &lines)
{
    return lines.join(u"\r\n"_s);
}

// The control of that name and kind; a missing control ends the test program.
template<typename Control> Control *control(const QWidget &window, const char *name)
{
    auto *found = window.findChild<Control *>(QLatin1StringView(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

// A paste of the text with Ctrl+V into the input box, replacing what it holds: one change.
inline void pasteInput(Form1 &window, const QString &text)
{
    auto *input = control<QPlainTextEdit>(window, "Text2");
    input->selectAll();
    QApplication::clipboard()->setText(text);
    QTest::keySequence(input, QKeySequence::Paste);
}

inline QString inputText(const Form1 &window)
{
    return control<QPlainTextEdit>(window, "Text2")->toPlainText();
}

// The option button of a chart channel, 0 (battery temperature) to 4 (kill switch).
inline QRadioButton *channelButton(const Form1 &window, int channel)
{
    const QByteArray name = "Option1_" + QByteArray::number(channel);
    return control<QRadioButton>(window, name.constData());
}

inline QString reportText(const Form1 &window)
{
    return control<ReportView>(window, "Text3")->toPlainText();
}

// The frame position label: "5/12".
inline QString positionText(const Form1 &window)
{
    return control<QLabel>(window, "Label2")->text();
}

// Shows the window and waits for it on screen; one never shown ends the test program.
template<typename Window> Window &showOnScreen(Window &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("a window was never shown");
    return window;
}

// The text as the input box holds it: CR+LF, a lone CR and a lone LF each end a paragraph.
inline QString asParagraphs(QString text)
{
    text.replace(u"\r\n"_s, QChar(QChar::ParagraphSeparator));
    text.replace(QLatin1Char('\r'), QChar(QChar::ParagraphSeparator));
    return text.replace(QLatin1Char('\n'), QChar(QChar::ParagraphSeparator));
}

// What the core reports for one decode run of the text, as the report box holds it: LF line
// ends, and U+FFFD for a surrogate without its partner. The report's own layout is the core's
// and tested there; the window tests check that the window shows it.
inline QString coreReport(const QString &text)
{
    FrameHistory history;
    const QString lines = asParagraphs(text).replace(QChar::ParagraphSeparator, u"\r\n"_s);
    const QString report = decodeBeaconText(lines, history).replace(u"\r\n"_s, u"\n"_s);
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    return QString::fromUtf8(toUtf8.encode(report));
}

// The windows of that kind on screen.
template<typename Window> QList<Window *> visibleWindows()
{
    QList<Window *> shown;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<Window *>(widget); window && window->isVisible())
            shown.append(window);
    }
    return shown;
}

// The start options of a command line given as bytes (the program's name first), as main()
// receives it: the arguments decoded as text and their bytes alike.
inline StartOptions startOptionsFrom(QByteArrayList received)
{
    QStringList decoded;
    std::vector<char *> argv;
    for (QByteArray &argument : received) {
        decoded.append(QString::fromLocal8Bit(argument));
        argv.push_back(argument.data());
    }
    return parseStartOptions(decoded, static_cast<int>(argv.size()), argv.data());
}

// Closes every message box that comes up while it lives, keeping its title, text and icon, so
// that no test blocks on one.
class MessageBoxWatch
{
public:
    MessageBoxWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shown.append({box->windowTitle(), box->text(), QString::number(box->icon())});
                box->reject();
            }
        });
        m_timer.start(10);
    }

    QList<QStringList> shown;

private:
    QTimer m_timer;
};

// Clicks "S" and answers the message box that the click may show. Returns the box's title, text
// and icon, or nothing without a box.
inline QStringList clickScreenshotButton(Form1 &window)
{
    const MessageBoxWatch watch;
    QTest::mouseClick(control<QPushButton>(window, "Command1"), Qt::LeftButton);
    QCoreApplication::processEvents();
    return watch.shown.value(0);
}

// The converter we build, and the stand-in that records its arguments.
inline const QString OurConverter = QStringLiteral(BIN_DIR "/nconvert");
inline const QString RecordingConverter = QStringLiteral(FAKES_DIR "/nconvert");

// A program folder for a window: conf.ini holding `configuration` unless that is empty, and a copy
// of `converter` beside the program unless that is empty.
inline bool prepareProgramFolder(const QString &folder, const QByteArray &configuration,
                                 const QString &converter = {})
{
    return (configuration.isEmpty() || writeFile(folder + u"/conf.ini"_s, configuration)) &&
           (converter.isEmpty() || QFile::copy(converter, folder + u"/nconvert"_s));
}

// A main window of its own, with an empty program folder (no conf.ini), shown on screen.
struct ShownWindow
{
    QTemporaryDir programFolder;
    Form1 window{programFolder.path()};
};

inline std::unique_ptr<ShownWindow> showWindow()
{
    auto shown = std::make_unique<ShownWindow>();
    showOnScreen(shown->window);
    return shown;
}

} // namespace tovrin3::testing
