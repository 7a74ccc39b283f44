// SPDX-License-Identifier: GPL-3.0-or-later
// The main window driven from the keyboard alone: the first focus, Tab and Shift+Tab through the
// controls in their tab order, never a tab character in the text boxes, and the arrow keys in the
// option group choosing and charting a channel.
#include "windowtesting.h"

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>

using namespace tovrin3;
using namespace tovrin3::testing;

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_shown = showWindow();
        m_shown->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_shown->window));
    }
    void cleanup() { m_shown.reset(); }

    void tabMovesFocusInTabOrder_data()
    {
        QTest::addColumn<int>("selected"); // channel whose option button is selected
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("backwards"); // Shift+Tab
        QTest::addColumn<QString>("to");

        const QStringList order{"HScroll1", "Text2", "Command1", "Text3", "Option1_0"};
        for (qsizetype index = 0; index < order.size(); ++index) {
            const QString &next = order.at((index + 1) % order.size());
            QTest::addRow("Tab from %s", qPrintable(order.at(index)))
                << 0 << order.at(index) << false << next;
            QTest::addRow("Shift+Tab from %s", qPrintable(next))
                << 0 << next << true << order.at(index);
        }
        // Only the selected option button is a tab stop: the group is entered on it either way.
        QTest::newRow("Tab into the group") << 3 << "Text3" << false << "Option1_3";
        QTest::newRow("Shift+Tab into the group") << 3 << "HScroll1" << true << "Option1_3";
        QTest::newRow("Tab out of the group") << 3 << "Option1_3" << false << "HScroll1";
        QTest::newRow("Shift+Tab out of the group") << 3 << "Option1_3" << true << "Text3";
    }

    // The text boxes hand the focus on and keep their text as it was: a tab in a frame line would
    // keep it from decoding.
    void tabMovesFocusInTabOrder()
    {
        QFETCH(int, selected);
        QFETCH(QString, from);
        QFETCH(bool, backwards);
        QFETCH(QString, to);
        auto *input = control<QPlainTextEdit>(m_shown->window, "Text2");
        input->setPlainText(frameLine(10, 20, 30, 1));
        channelButton(m_shown->window, selected)->click();
        const QString report = reportText(m_shown->window);

        auto *start = m_shown->window.findChild<QWidget *>(from);
        start->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(focusName(), from);
        QTest::keyClick(start, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);

        QTRY_COMPARE(focusName(), to);
        QCOMPARE(input->toPlainText(), frameLine(10, 20, 30, 1));
        QCOMPARE(reportText(m_shown->window), report);
    }

    void arrowKeysChooseAndChartChannel_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("title");

        QTest::newRow("down") << 0 << int(Qt::Key_Down) << 1 << "COM Temperature";
        QTest::newRow("down from the last, round to the first")
            << 4 << int(Qt::Key_Down) << 0 << "Batt Temperature";
        QTest::newRow("up from the first, round to the last")
            << 0 << int(Qt::Key_Up) << 4 << "Kill Switch";
    }

    void arrowKeysChooseAndChartChannel()
    {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, to);
        QFETCH(QString, title);
        pasteInput(m_shown->window, crlfJoined(frameLines(3)));
        channelButton(m_shown->window, from)->click();
        channelButton(m_shown->window, from)->setFocus(Qt::TabFocusReason);

        QTest::keyClick(channelButton(m_shown->window, from), Qt::Key(key));

        QVERIFY(channelButton(m_shown->window, to)->isChecked());
        QCOMPARE(focusName(), channelButton(m_shown->window, to)->objectName());
        QCOMPARE(control<QGroupBox>(m_shown->window, "Frame8")->title(), title);
    }

    // A step and a page are one frame, and End reaches the last frame; the label follows.
    void keysStepThroughFrames_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("position");

        QTest::newRow("Right") << int(Qt::Key_Right) << 6;
        QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 6;
        QTest::newRow("End") << int(Qt::Key_End) << 12;
    }

    void keysStepThroughFrames()
    {
        QFETCH(int, key);
        QFETCH(int, position);
        pasteInput(m_shown->window, crlfJoined(frameLines(12)));
        auto *scrollBar = control<QScrollBar>(m_shown->window, "HScroll1");
        scrollBar->setValue(5);
        scrollBar->setFocus(Qt::TabFocusReason);

        QTest::keyClick(scrollBar, Qt::Key(key));

        QCOMPARE(scrollBar->value(), position);
        QCOMPARE(control<QLabel>(m_shown->window, "Label2")->text(),
                 QStringLiteral("%1/12").arg(position));
    }

    // The scroll bar has the focus when the window opens, first in the tab order: it must look
    // different from one without.
    void frameScrollBarMarksFocus()
    {
        auto *scrollBar = control<QScrollBar>(m_shown->window, "HScroll1");
        QTRY_VERIFY(scrollBar->hasFocus());
        const QImage focused = scrollBar->grab().toImage();

        control<QPlainTextEdit>(m_shown->window, "Text2")->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(!scrollBar->hasFocus());

        QVERIFY(scrollBar->grab().toImage() != focused);
    }

private:
    QString focusName() const
    {
        const QWidget *focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QString();
    }

    std::unique_ptr<ShownWindow> m_shown;
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
