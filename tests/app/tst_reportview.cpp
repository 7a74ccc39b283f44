// SPDX-License-Identifier: GPL-3.0-or-later
// The report box on its own: text appended in pieces, the first new line scrolled to the top,
// selecting with the keyboard and the mouse, copying, and text that is not ASCII.
#include "reportview.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

struct KeyPress
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};
using KeyPresses = QList<KeyPress>;

// Lines "line 0" to "line <count - 1>", each ending in a line feed.
QString numberedLines(int count)
{
    QString text;
    for (int line = 0; line < count; ++line)
        text += QStringLiteral("line %1\n").arg(line);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(KeyPresses)

class TestReportView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_view.reset(); }

    void appendsAndShowsFirstNewLine_data();
    void appendsAndShowsFirstNewLine();
    void keysSelect_data();
    void keysSelect();
    void copiesSelectionOnly();
    void mouseSelects();
    void ignoresTyping();
    void showsLoneSurrogateAsReplacement();

private:
    void press(const KeyPresses &keys)
    {
        for (const KeyPress &key : keys)
            QTest::keyClick(m_view.get(), key.key, key.modifiers);
    }
    // The middle of a character of the line at the top of the box.
    QPoint pointOfColumn(int column) const
    {
        const QFontMetrics metrics = m_view->fontMetrics();
        const int x = metrics.horizontalAdvance(QString(column, u'x'));
        return QPoint(4 + x + metrics.horizontalAdvance(u'x') / 2, 4 + metrics.lineSpacing() / 2);
    }

    std::unique_ptr<ReportView> m_view;
};

void TestReportView::init()
{
    m_view = std::make_unique<ReportView>();
    m_view->setFont(QFont(QStringLiteral("Monospace"), 9));
    m_view->resize(300, 4 + 8 + 5 * m_view->fontMetrics().lineSpacing());
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    m_view->setFocus();
}

void TestReportView::appendsAndShowsFirstNewLine_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("topLine");

    // The box shows five lines; the last line can come up to the bottom, no further.
    QTest::newRow("nothing") << QStringList{QString()} << 1 << 0;
    QTest::newRow("one piece, shorter than the box") << QStringList{numberedLines(3)} << 4 << 0;
    QTest::newRow("a second piece, its first line at the top")
        << QStringList{numberedLines(40), numberedLines(10)} << 51 << 40;
    QTest::newRow("a last piece too short to reach the top")
        << QStringList{numberedLines(40), numberedLines(2)} << 43 << 38;
    QTest::newRow("a piece that continues an unfinished line")
        << QStringList{numberedLines(33) + u"unfinished"_s, u" line\n"_s + numberedLines(9)} << 44
        << 33;
    QTest::newRow("an empty piece changes nothing")
        << QStringList{numberedLines(20), QString()} << 21 << 0;
}

void TestReportView::appendsAndShowsFirstNewLine()
{
    QFETCH(QStringList, pieces);
    QFETCH(int, lines);
    QFETCH(int, topLine);

    for (const QString &piece : pieces)
        m_view->appendText(piece);

    QCOMPARE(m_view->toPlainText(), pieces.join(QString()));
    QCOMPARE(m_view->lineCount(), lines);
    QCOMPARE(m_view->firstVisibleLine(), topLine);
}

void TestReportView::keysSelect_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<KeyPresses>("keys");
    QTest::addColumn<QString>("selected");

    const QString words = QStringLiteral("alpha beta\ngamma\n\ndelta\n");
    const KeyPress home{Qt::Key_Home, Qt::ControlModifier};
    const KeyPress end{Qt::Key_End, Qt::ControlModifier};
    const KeyPress right{Qt::Key_Right};
    const KeyPress down{Qt::Key_Down};
    const KeyPress selectRight{Qt::Key_Right, Qt::ShiftModifier};
    const KeyPress selectDown{Qt::Key_Down, Qt::ShiftModifier};
    const KeyPress selectUp{Qt::Key_Up, Qt::ShiftModifier};
    const KeyPress selectToLineEnd{Qt::Key_End, Qt::ShiftModifier};

    QTest::newRow("characters") << words << KeyPresses{home, selectRight, selectRight, selectRight}
                                << "alp";
    QTest::newRow("a line") << words << KeyPresses{home, selectDown} << "alpha beta\n";
    QTest::newRow("over a line end")
        << words << KeyPresses{home, {Qt::Key_End}, selectRight} << "\n";
    QTest::newRow("down to a shorter line keeps to its end")
        << words
        << KeyPresses{home, right, right, right, right, right, right, right, right, selectDown}
        << "ta\ngamma";
    QTest::newRow("up from the end") << words << KeyPresses{end, selectUp, selectUp} << "\ndelta\n";
    QTest::newRow("all") << words << KeyPresses{{Qt::Key_A, Qt::ControlModifier}} << words;
    QTest::newRow("letters of two and three bytes and a pair of surrogates, one step each")
        << u"\u00FC\u20AC\U0001F600x\n"_s << KeyPresses{home, selectRight, selectRight, selectRight}
        << u"\u00FC\u20AC\U0001F600"_s;
    // The box keeps the start of every 32nd line; lines on either side of those are found.
    for (const int line : {31, 32, 33, 64, 99}) {
        KeyPresses keys{home};
        keys.append(KeyPresses(line, down));
        keys.append(selectToLineEnd);
        QTest::addRow("line %d", line)
            << numberedLines(100) << keys << QStringLiteral("line %1").arg(line);
    }
}

void TestReportView::keysSelect()
{
    QFETCH(QString, text);
    QFETCH(KeyPresses, keys);
    QFETCH(QString, selected);
    m_view->appendText(text);

    press(keys);

    QCOMPARE(m_view->selectedText(), selected);
}

void TestReportView::copiesSelectionOnly()
{
    m_view->appendText(u"  Battery Voltage: 3.90 V\n"_s);
    QApplication::clipboard()->setText(QStringLiteral("before"));

    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));

    press({{Qt::Key_End, Qt::ShiftModifier}});
    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("  Battery Voltage: 3.90 V"));
}

void TestReportView::mouseSelects()
{
    m_view->appendText(u"  Battery Voltage: 3.90 V\n  Mission: 00000000\n"_s);
    QWidget *viewport = m_view->viewport();

    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(20));
    QCOMPARE(m_view->selectedText(), QStringLiteral("3.90"));

    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(2));
    QTest::mouseMove(viewport, pointOfColumn(9));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(9));
    QCOMPARE(m_view->selectedText(), QStringLiteral("Battery"));

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, pointOfColumn(17));
    QCOMPARE(m_view->selectedText(), QStringLiteral("Battery Voltage"));
}

void TestReportView::ignoresTyping()
{
    m_view->appendText(u"#1: 900140010C6A00A503\n"_s);

    QTest::keyClicks(m_view.get(), QStringLiteral("typed"));
    QTest::keyClick(m_view.get(), Qt::Key_Backspace);
    QTest::keyClick(m_view.get(), Qt::Key_Return);

    QCOMPARE(m_view->toPlainText(), u"#1: 900140010C6A00A503\n"_s);
}

// A surrogate without its partner is no character; the box shows and copies U+FFFD for it.
void TestReportView::showsLoneSurrogateAsReplacement()
{
    m_view->appendText(u"#1: 9001"_s + QChar(0xD800) + u"0010C6A00A503\n"_s);

    QCOMPARE(m_view->toPlainText(), u"#1: 9001\uFFFD0010C6A00A503\n"_s);
}

QTEST_MAIN(TestReportView)
#include "tst_reportview.moc"
