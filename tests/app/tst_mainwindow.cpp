// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu commands: a spoken name for every control, one shared Info window, and
// Exit leaving the program running while Info is open. The window without conf.ini:
// tst_configurationsearch; with one that cannot be read: tst_hostilefiles.
#include "infodialog.h"
#include "windowtesting.h"

#include <QAccessible>
#include <QAction>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

// What a screen reader speaks for each visible control of the window, by control name: its name,
// or the description of a label that shows no text yet.
QMap<QString, QString> spokenNames(const QWidget &window)
{
    static const QRegularExpression controlName(
        QStringLiteral("^(Text|Option|Frame|MSChart|Command|Label|HScroll|Picture)\\d"));
    QMap<QString, QString> names;
    for (QWidget *widget : window.findChildren<QWidget *>(controlName)) {
        if (!widget->isVisible())
            continue;
        const QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(widget);
        const QString name = spoken->text(QAccessible::Name);
        names.insert(widget->objectName(),
                     name.isEmpty() ? spoken->text(QAccessible::Description) : name);
    }
    return names;
}

constexpr auto openInfoWindows = &visibleWindows<Form2>;

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_shown = showWindow(); }

    void cleanup()
    {
        m_shown.reset();
        QTRY_VERIFY(openInfoWindows().isEmpty());
    }

    void everyControlHasASpokenName()
    {
        Form2 *info = chooseInfo();
        QVERIFY(info);
        for (const QWidget *window :
             {static_cast<QWidget *>(&m_shown->window), static_cast<QWidget *>(info)}) {
            const QMap<QString, QString> names = spokenNames(*window);
            QVERIFY(names.size() >= 10);
            for (auto name = names.cbegin(); name != names.cend(); ++name)
                QVERIFY2(!name.value().trimmed().isEmpty(), qPrintable(name.key()));
        }
        QCOMPARE(spokenNames(m_shown->window).value(QStringLiteral("Command1")),
                 QStringLiteral("Save a screenshot of the window as PNG"));
    }

    void opensOneInfoWindowAfreshAfterClosing()
    {
        QPointer<Form2> first = chooseInfo();
        QVERIFY(first);
        QCOMPARE(chooseInfo(), first.data());

        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(chooseInfo());
    }

    // The program ends when its last window closes: Exit closes the main window only, so the event
    // loop runs on until the Info window is closed as well.
    void exitLeavesInfoOpenUntilItCloses()
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

private:
    Form2 *chooseInfo()
    {
        control<QAction>(m_shown->window, "MnuInfo")->trigger();
        const QList<Form2 *> windows = openInfoWindows();
        return windows.size() == 1 ? windows.first() : nullptr;
    }

    std::unique_ptr<ShownWindow> m_shown;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
