// The main window as it opens: caption, fixed client area, controls in place, menus, the hidden
// capture buffer, and the settings of conf.ini beside the program.
#include "capturebuffer.h"
#include "channelchart.h"
#include "windowtesting.h"

#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

QRect fromTwips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensEmpty();
    void hasFixedClientAreaBelowMenu();
    void placesControls_data();
    void placesControls();
    void offersExitUnderFileAndInfoInMenuBar();
    void tabsThroughControlsInOrder();
    void captureBufferCoversClientArea();
    void appliesConfigurationFile_data();
    void appliesConfigurationFile();

private:
    std::unique_ptr<ShownWindow> m_shown;
};

void TestMainWindow::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestMainWindow::init()
{
    m_shown = showWindow();
}

void TestMainWindow::cleanup()
{
    m_shown.reset();
}

void TestMainWindow::opensEmpty()
{
    const Form1 &window = m_shown->window;
    QVERIFY(control<QPlainTextEdit>(window, "Text2")->document()->isEmpty());
    QVERIFY(control<QPlainTextEdit>(window, "Text3")->document()->isEmpty());
    QVERIFY(control<QRadioButton>(window, "Option1_0")->isChecked());
    QCOMPARE(control<QRadioButton>(window, "Option1_0")->text(),
             QStringLiteral("Batt Temperature"));
    QCOMPARE(control<QGroupBox>(window, "Frame8")->title(), QString());
    QCOMPARE(control<ChannelChart>(window, "MSChart1")->rowCount(), 0);
    QCOMPARE(control<QLabel>(window, "Label2")->text(), QString());
    QCOMPARE(control<QLabel>(window, "Label3")->text(), QString());
    QCOMPARE(control<QScrollBar>(window, "HScroll1")->value(), 1);
    QCOMPARE(control<QScrollBar>(window, "HScroll1")->minimum(), 1);
    QVERIFY(control<QPushButton>(window, "Command1")->isVisible());
    QCOMPARE(control<QPushButton>(window, "Command1")->text(), QStringLiteral("S"));
}

void TestMainWindow::hasFixedClientAreaBelowMenu()
{
    Form1 &window = m_shown->window;
    QCOMPARE(window.windowTitle(),
             QStringLiteral("KAMO TOVRIN-III CW beacon telemetry decoder (NOCALL)"));
    QWidget *clientArea = window.centralWidget();
    QCOMPARE(clientArea->size(), QSize(550, 565));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(window.menuBar()->geometry().bottom() < clientArea->geometry().top());
    QCOMPARE(clientArea->palette().color(QPalette::Window), QColor(240, 240, 240));

    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!window.windowIcon().pixmap(64, 64).isNull());
}

void TestMainWindow::placesControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("Text2") << "Text2" << fromTwips(120, 120, 6375, 1215);
    QTest::newRow("Option1_0") << "Option1_0" << fromTwips(6600, 120, 1575, 195);
    QTest::newRow("Option1_1") << "Option1_1" << fromTwips(6600, 360, 1815, 195);
    QTest::newRow("Option1_2") << "Option1_2" << fromTwips(6600, 600, 1575, 195);
    QTest::newRow("Option1_3") << "Option1_3" << fromTwips(6600, 840, 1095, 195);
    QTest::newRow("Option1_4") << "Option1_4" << fromTwips(6600, 1080, 1215, 195);
    QTest::newRow("Text3") << "Text3" << fromTwips(120, 1440, 8055, 2055);
    QTest::newRow("Frame8") << "Frame8" << fromTwips(120, 3600, 8055, 4335);
    QTest::newRow("MSChart1 inside Frame8") << "MSChart1" << fromTwips(120, 240, 7815, 3975);
    QTest::newRow("Command1") << "Command1" << fromTwips(120, 8040, 495, 255);
    QTest::newRow("Label3") << "Label3" << fromTwips(720, 8040, 5055, 255);
    QTest::newRow("Label2") << "Label2" << fromTwips(6360, 8040, 615, 255);
    QTest::newRow("HScroll1") << "HScroll1" << fromTwips(7080, 8040, 1095, 255);
}

void TestMainWindow::placesControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);

    const auto *widget = m_shown->window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
}

void TestMainWindow::offersExitUnderFileAndInfoInMenuBar()
{
    const QList<QAction *> menuBarEntries = m_shown->window.menuBar()->actions();
    QCOMPARE(menuBarEntries.size(), 2);

    QCOMPARE(menuBarEntries.at(0)->text(), QStringLiteral("File"));
    const QMenu *fileMenu = menuBarEntries.at(0)->menu();
    QVERIFY(fileMenu);
    QCOMPARE(fileMenu->actions().size(), 1);
    QCOMPARE(fileMenu->actions().at(0)->objectName(), QStringLiteral("MnuExit"));
    QCOMPARE(fileMenu->actions().at(0)->text(), QStringLiteral("Exit"));

    QCOMPARE(menuBarEntries.at(1)->objectName(), QStringLiteral("MnuInfo"));
    QCOMPARE(menuBarEntries.at(1)->text(), QStringLiteral("Info"));
    QVERIFY(!menuBarEntries.at(1)->menu());
}

void TestMainWindow::tabsThroughControlsInOrder()
{
    const QStringList tabOrder{"HScroll1",  "Text2",     "Command1",  "Text3",    "Option1_0",
                               "Option1_1", "Option1_2", "Option1_3", "Option1_4"};
    QWidget *first = control<QWidget>(m_shown->window, "HScroll1");
    QStringList visited;
    QWidget *widget = first;
    do {
        if (tabOrder.contains(widget->objectName()))
            visited.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    QCOMPARE(visited, tabOrder);
}

void TestMainWindow::captureBufferCoversClientArea()
{
    const auto *buffer = control<CaptureBuffer>(m_shown->window, "Picture2");
    QVERIFY(!buffer->isVisible());
    QCOMPARE(buffer->geometry(), QRect(0, 0, 550, 565));
    QCOMPARE(buffer->image().size(), QSize(550, 565));
    QCOMPARE(m_shown->window.captureBuffer(), buffer);
}

void TestMainWindow::appliesConfigurationFile_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no conf.ini at all
    QTest::addColumn<bool>("buttonVisible");
    QTest::addColumn<QString>("imageFolder"); // empty: the program folder and a separator

    QTest::newRow("no conf.ini") << QByteArray() << true << QString();
    QTest::newRow("SCREENSHOT=NO hides the button")
        << QByteArray("SCREENSHOT=NO\n") << false << QString();
    QTest::newRow("settings in any case, LF line ends")
        << QByteArray("# written by hand\nscreenshot = yes\nimage_path = /srv/Beacon Shots/\n")
        << true << QStringLiteral("/srv/Beacon Shots/");
}

void TestMainWindow::appliesConfigurationFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, buttonVisible);
    QFETCH(QString, imageFolder);

    QTemporaryDir programFolder;
    QVERIFY(programFolder.isValid());
    if (!content.isEmpty()) {
        QFile file(programFolder.filePath(QStringLiteral("conf.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    Form1 window(programFolder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(control<QPushButton>(window, "Command1")->isVisible(), buttonVisible);
    const QString expectedFolder =
        imageFolder.isEmpty() ? programFolder.path() + QDir::separator() : imageFolder;
    QCOMPARE(window.imageFolder(), expectedFolder);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
