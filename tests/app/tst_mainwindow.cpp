// The main window's start-up and menu commands: the line rules of conf.ini and the window that
// opens with and without it, one shared Info window, and Exit leaving the program running while
// Info is open. The hostile file tests show conf.ini files that cannot be read.
#include "capturebuffer.h"
#include "configuration.h"
#include "infodialog.h"
#include "windowtesting.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString DefaultFolder = QStringLiteral("/opt/tovrin3/");

// What conf.ini says about the screenshot button.
enum ButtonSetting
{
    Unset,
    Shown,
    Hidden
};

ButtonSetting buttonSetting(const Configuration &configuration)
{
    if (!configuration.screenshotButtonVisible)
        return Unset;
    return *configuration.screenshotButtonVisible ? Shown : Hidden;
}

QList<Form2 *> openInfoWindows()
{
    QList<Form2 *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *info = qobject_cast<Form2 *>(widget); info && info->isVisible())
            windows.append(info);
    }
    return windows;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parsesConfigurationLines_data();
    void parsesConfigurationLines();
    void opensEmptyWithDefaults();
    void appliesConfigurationFile();
    void opensOneInfoWindowAfreshAfterClosing();
    void exitLeavesInfoOpenUntilItCloses();

private:
    Form2 *chooseInfo();

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
    QTRY_VERIFY(openInfoWindows().isEmpty());
}

Form2 *TestMainWindow::chooseInfo()
{
    control<QAction>(m_shown->window, "MnuInfo")->trigger();
    const QList<Form2 *> windows = openInfoWindows();
    return windows.size() == 1 ? windows.first() : nullptr;
}

void TestMainWindow::parsesConfigurationLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("imageFolder");
    QTest::addColumn<ButtonSetting>("button");

    QTest::newRow("comments in the first column")
        << QByteArray("#SCREENSHOT=NO\r\n#IMAGE_PATH=/x/\r\n") << DefaultFolder << Unset;
    QTest::newRow("a hash in a value") << QByteArray("IMAGE_PATH=/a#1/") << "/a#1/" << Unset;
    QTest::newRow("keys and YES in any case, spaces trimmed")
        << QByteArray("  screenShot  =  yEs  \r\n") << DefaultFolder << Shown;
    QTest::newRow("YES cut short") << QByteArray("SCREENSHOT=Y") << DefaultFolder << Hidden;
    QTest::newRow("tabs are kept")
        << QByteArray("SCREENSHOT=YES\t\r\nIMAGE_PATH=\t/a/") << "\t/a/" << Hidden;
    QTest::newRow("image path keeps its case and inner spaces")
        << QByteArray("image_path = /home/Op/My Shots/ \r\n") << "/home/Op/My Shots/" << Unset;
    QTest::newRow("only the first = splits") << QByteArray("IMAGE_PATH=/a=b/") << "/a=b/" << Unset;
    QTest::newRow("later lines win")
        << QByteArray("IMAGE_PATH=/1/\r\nSCREENSHOT=YES\r\nIMAGE_PATH=/2/\r\nSCREENSHOT=NO\r\n")
        << "/2/" << Hidden;
    QTest::newRow("bare LF") << QByteArray("IMAGE_PATH=/a/\nSCREENSHOT=NO\n") << "/a/" << Hidden;
    QTest::newRow("bare CR") << QByteArray("IMAGE_PATH=/a/\rSCREENSHOT=NO\r") << "/a/" << Hidden;
    QTest::newRow("a line without = is ignored")
        << QByteArray("SCREENSHOT=NO\r\nYES\r\nIMAGE_PATH=/a/\r\n/b/") << "/a/" << Hidden;
    QTest::newRow("Latin-1") << QByteArray("IMAGE_PATH=/M\xFC/") << "/M\u00FC/" << Unset;
}

void TestMainWindow::parsesConfigurationLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, imageFolder);
    QFETCH(ButtonSetting, button);

    const Configuration configuration = parseConfiguration(content, DefaultFolder);

    QCOMPARE(configuration.imageFolder, imageFolder);
    QCOMPARE(buttonSetting(configuration), button);
}

void TestMainWindow::opensEmptyWithDefaults()
{
    const Form1 &window = m_shown->window;
    QCOMPARE(window.windowTitle(),
             QStringLiteral("KAMO TOVRIN-III CW beacon telemetry decoder (NOCALL)"));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(control<QPlainTextEdit>(window, "Text2")->document()->isEmpty());
    QVERIFY(control<QPlainTextEdit>(window, "Text3")->document()->isEmpty());
    const auto *firstChannel = control<QRadioButton>(window, "Option1_0");
    QVERIFY(firstChannel->isChecked());
    QCOMPARE(firstChannel->text(), QStringLiteral("Batt Temperature"));
    QCOMPARE(control<QGroupBox>(window, "Frame8")->title(), QString());
    QCOMPARE(control<QLabel>(window, "Label3")->text(), QString());

    // The capture buffer is hidden but always has the client area's place and size.
    const auto *buffer = control<CaptureBuffer>(window, "Picture2");
    QVERIFY(!buffer->isVisible());
    QCOMPARE(buffer->geometry(), QRect(0, 0, 550, 565));
    QCOMPARE(buffer->image().size(), QSize(550, 565));

    QVERIFY(control<QPushButton>(window, "Command1")->isVisible());
    QCOMPARE(window.imageFolder(), m_shown->programFolder.path() + QDir::separator());
}

void TestMainWindow::appliesConfigurationFile()
{
    QTemporaryDir programFolder;
    QFile file(programFolder.filePath(QStringLiteral("conf.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# written by hand\nscreenshot = no\nimage_path = /srv/Beacon Shots/\n");
    file.close();

    const Form1 window(programFolder.path());

    QVERIFY(control<QPushButton>(window, "Command1")->isHidden());
    QCOMPARE(window.imageFolder(), QStringLiteral("/srv/Beacon Shots/"));
}

void TestMainWindow::opensOneInfoWindowAfreshAfterClosing()
{
    QPointer<Form2> first = chooseInfo();
    QVERIFY(first);
    QVERIFY(!first->parentWidget());
    QCOMPARE(chooseInfo(), first.data());

    first->close();
    QTRY_VERIFY(first.isNull());
    Form2 *second = chooseInfo();
    QVERIFY(second);
    QCOMPARE(control<QLabel>(*second, "Label2")->text(),
             QStringLiteral("Version Ver. 0.3    (21 January 2017)"));
}

// The program ends when its last window closes: Exit closes the main window only, so the event
// loop runs on until the Info window is closed as well.
void TestMainWindow::exitLeavesInfoOpenUntilItCloses()
{
    QPointer<Form2> info = chooseInfo();
    QVERIFY(info);

    bool infoOpenAfterExit = false;
    QTimer::singleShot(0, &m_shown->window, [&] {
        control<QAction>(m_shown->window, "MnuExit")->trigger();
        QTimer::singleShot(0, [&] {
            infoOpenAfterExit = !m_shown->window.isVisible() && info && info->isVisible();
            if (info)
                info->close();
        });
    });
    QTimer::singleShot(5000, &m_shown->window, [] { QCoreApplication::exit(1); });

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(infoOpenAfterExit);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
