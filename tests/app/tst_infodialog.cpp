// The Info window: one shared window without an owner, its texts, and the program's life while
// it is open.
#include "infodialog.h"
#include "windowtesting.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

QList<Form2 *> openInfoWindows()
{
    QList<Form2 *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *info = qobject_cast<Form2 *>(widget); info && info->isVisible())
            windows.append(info);
    }
    return windows;
}

QColor textColour(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

} // namespace

class TestInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensOneSharedWindow();
    void opensAfreshAfterClosing();
    void looksLikeInfoWindow();
    void exitLeavesInfoOpenUntilItCloses();

private:
    Form2 *chooseInfo();

    std::unique_ptr<ShownWindow> m_shown;
};

void TestInfoDialog::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestInfoDialog::init()
{
    m_shown = showWindow();
}

void TestInfoDialog::cleanup()
{
    m_shown.reset();
    QTRY_VERIFY(openInfoWindows().isEmpty());
}

Form2 *TestInfoDialog::chooseInfo()
{
    control<QAction>(m_shown->window, "MnuInfo")->trigger();
    const QList<Form2 *> windows = openInfoWindows();
    return windows.size() == 1 ? windows.first() : nullptr;
}

void TestInfoDialog::opensOneSharedWindow()
{
    Form2 *first = chooseInfo();
    QVERIFY(first);
    QVERIFY(!first->parentWidget());
    Form2 *second = chooseInfo();
    QCOMPARE(second, first);
}

void TestInfoDialog::opensAfreshAfterClosing()
{
    QPointer<Form2> first = chooseInfo();
    QVERIFY(first);
    first->close();
    QTRY_VERIFY(first.isNull());

    Form2 *second = chooseInfo();
    QVERIFY(second);
    QCOMPARE(control<QLabel>(*second, "Label2")->text(),
             QStringLiteral("Version Ver. 0.3    (21 January 2017)"));
    QVERIFY(!control<QLabel>(*second, "Label11")->text().isEmpty());
}

void TestInfoDialog::looksLikeInfoWindow()
{
    Form2 *info = chooseInfo();
    QVERIFY(info);
    QCOMPARE(info->windowTitle(), QStringLiteral(" Info"));
    QCOMPARE(info->size(), QSize(660, 322));
    QCOMPARE(info->minimumSize(), info->maximumSize());
    QCOMPARE(info->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(info->windowIcon().pixmap(64, 64).toImage(),
             m_shown->window.windowIcon().pixmap(64, 64).toImage());

    QCOMPARE(control<QLabel>(*info, "Label2")->parentWidget(), control<QGroupBox>(*info, "Frame1"));

    for (const char *contact : {"Label4", "Label5"}) {
        const QLabel *label = control<QLabel>(*info, contact);
        QCOMPARE(textColour(label), QColor(0x00, 0x00, 0xFF));
        QVERIFY(label->font().underline());
        QVERIFY(label->width() >= label->sizeHint().width());
    }
    const QLabel *disclaimer = control<QLabel>(*info, "Label11");
    QCOMPARE(textColour(disclaimer), QColor(0x80, 0x80, 0x80));
    QCOMPARE(disclaimer->font().pointSizeF(), 8.25);

    QCOMPARE(control<QLabel>(*info, "Picture1")->pixmap().size(), QSize(301, 238));
}

// The program ends when its last window closes: Exit closes the main window only, so the event
// loop runs on until the Info window is closed as well.
void TestInfoDialog::exitLeavesInfoOpenUntilItCloses()
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
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(5000);

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(infoOpenAfterExit);
}

QTEST_MAIN(TestInfoDialog)
#include "tst_infodialog.moc"
