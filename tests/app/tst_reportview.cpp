// SPDX-License-Identifier: GPL-3.0-or-later
// The report box on its own: text appended in pieces, the first new line scrolled to the top,
// selecting with the keyboard and the mouse, copying, editing and undoing with decode runs
// appending in between, and text that is not ASCII.
#include "windowtesting.h"

#include <QScreen>
#include <QShortcut>

#include <functional>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

// One thing the user or a decode run does to the box.
using Action = std::function<void(ReportView &)>;
using Actions = QList<Action>;

Action typed(const QString &text)
{
    return [text](ReportView &view) { QTest::keyClicks(&view, text); };
}
Action appended(const QString &text)
{
    return [text](ReportView &view) { view.appendText(text); };
}
Action pasted(const QString &text)
{
    return [text](ReportView &view) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
    };
}
Action chosenFromMenu(const QString &name)
{
    return [name](ReportView &view) {
        const std::unique_ptr<QMenu> menu(view.createContextMenu());
        auto *command = menu->findChild<QAction *>(name);
        QVERIFY2(command && command->isEnabled(), qPrintable(name));
        command->trigger();
    };
}
Action pressed(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return [=](ReportView &view) { QTest::keyClick(&view, key, modifiers); };
}
// A selection set by the program, from anchor to cursor in bytes.
Action selectedBytes(int anchor, int position)
{
    return [=](ReportView &view) { view.setSelection(anchor, position); };
}

const Action Undo = pressed(Qt::Key_Z, Qt::ControlModifier);
const Action SelectAll = pressed(Qt::Key_A, Qt::ControlModifier);
const Action ToStart = pressed(Qt::Key_Home, Qt::ControlModifier);
const Action ToEnd = pressed(Qt::Key_End, Qt::ControlModifier);
const Action Right = pressed(Qt::Key_Right);
const Action Down = pressed(Qt::Key_Down);
const Action SelectRight = pressed(Qt::Key_Right, Qt::ShiftModifier);

// Lines "line 0" to "line <count - 1>", each ending in a line feed.
QString numberedLines(int count)
{
    QString text;
    for (int line = 0; line < count; ++line)
        text += u"line %1\n"_s.arg(line);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Actions)

class TestReportView : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_view = std::make_unique<ReportView>();
        m_view->setFont(QFont(u"Monospace"_s, 9));
        m_view->resize(300, 4 + 8 + 5 * m_view->fontMetrics().lineSpacing());
        testing::showOnScreen(*m_view).setFocus();
    }
    void cleanup() { m_view.reset(); }

    void appendsAndShowsFirstNewLine_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("topLine");
        QTest::addColumn<bool>("focused");

        // The box shows five lines; the last line can come up to the bottom, no further. A piece
        // that repeats the lines shown before is drawn as much as one that does not.
        const QString run = numberedLines(4) + u"line 4 changed\n"_s + numberedLines(3);
        QTest::newRow("one piece, shorter than the box")
            << QStringList{numberedLines(3)} << 4 << 0 << true;
        QTest::newRow("a second piece, its first line at the top")
            << QStringList{numberedLines(40), numberedLines(10)} << 51 << 40 << true;
        QTest::newRow("a last piece too short to reach the top")
            << QStringList{numberedLines(40), numberedLines(2)} << 43 << 38 << false;
        QTest::newRow("a piece that continues an unfinished line")
            << QStringList{numberedLines(33) + u"unfinished"_s, u" line\n"_s + numberedLines(9)}
            << 44 << 33 << false;
        QTest::newRow("runs that differ in one line shown")
            << QStringList{numberedLines(8), run, numberedLines(8)} << 25 << 16 << false;
        QTest::newRow("runs of one and two lines near the end")
            << QStringList{numberedLines(10), u"a\n"_s, u"a\nb\n"_s, u"a\n"_s} << 15 << 10 << false;
        QTest::newRow("an empty piece changes nothing")
            << QStringList{numberedLines(20), QString()} << 21 << 0 << true;
    }

    void appendsAndShowsFirstNewLine()
    {
        QFETCH(QStringList, pieces);
        QFETCH(int, lines);
        QFETCH(int, topLine);
        QFETCH(bool, focused);
        if (!focused)
            m_view->clearFocus();

        // Each piece is painted before the next comes, as decode runs are.
        for (const QString &piece : pieces) {
            m_view->appendText(piece);
            QCoreApplication::processEvents();
        }

        QCOMPARE(m_view->toPlainText(), pieces.join(QString()));
        QCOMPARE(m_view->lineCount(), lines);
        QCOMPARE(m_view->firstVisibleLine(), topLine);
        const QImage shown = shownOnScreen();
        m_view->viewport()->repaint();
        QVERIFY2(shown == shownOnScreen(), "the box shows other text than it holds");
    }

    void keysSelect_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Actions>("keys");
        QTest::addColumn<QString>("selected");

        const QString words = u"alpha beta\ngamma\n\ndelta\n"_s;
        const Action selectDown = pressed(Qt::Key_Down, Qt::ShiftModifier);
        const Action selectUp = pressed(Qt::Key_Up, Qt::ShiftModifier);

        QTest::newRow("a line") << words << Actions{ToStart, selectDown} << "alpha beta\n";
        QTest::newRow("over a line end")
            << words << Actions{ToStart, pressed(Qt::Key_End), SelectRight} << "\n";
        QTest::newRow("down to a shorter line keeps to its end")
            << words << Actions{ToStart} + Actions(8, Right) + Actions{selectDown} << "ta\ngamma";
        QTest::newRow("up from the end")
            << words << Actions{ToEnd, selectUp, selectUp} << "\ndelta\n";
        QTest::newRow("letters of two and three bytes and a pair of surrogates, one step each")
            << u"\u00FC\u20AC\U0001F600x\n"_s << Actions{ToStart} + Actions(3, SelectRight)
            << u"\u00FC\u20AC\U0001F600"_s;
        // The box keeps the start of every 32nd line; lines on either side of one are found.
        for (const int line : {31, 32, 33, 99})
            QTest::addRow("line %d", line) << numberedLines(100)
                                           << Actions{ToStart} + Actions(line, Down) +
                                                  Actions{pressed(Qt::Key_End, Qt::ShiftModifier)}
                                           << u"line %1"_s.arg(line);
    }

    void keysSelect()
    {
        QFETCH(QString, text);
        QFETCH(Actions, keys);
        QFETCH(QString, selected);
        m_view->appendText(text);

        perform(keys);

        QCOMPARE(m_view->selectedText(), selected);
    }

    void mouseSelects()
    {
        m_view->appendText(u"  Battery Voltage: 3.90 V\n  Mission: 00000000\n"_s);
        QWidget *viewport = m_view->viewport();

        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(20));
        QCOMPARE(m_view->selectedText(), u"3.90"_s);

        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(2));
        QTest::mouseMove(viewport, pointOfColumn(9));
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, pointOfColumn(9));
        QCOMPARE(m_view->selectedText(), u"Battery"_s);

        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, pointOfColumn(17));
        QCOMPARE(m_view->selectedText(), u"Battery Voltage"_s);
    }

    void edits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Actions>("actions");
        QTest::addColumn<QString>("expected");

        const Action left = pressed(Qt::Key_Left);
        const Action backspace = pressed(Qt::Key_Backspace);
        const Action deleteKey = pressed(Qt::Key_Delete);
        const Action redo = pressed(Qt::Key_Y, Qt::ControlModifier);
        const QString words = u"alpha beta\n"_s;
        const Actions afterAlpha = Actions{ToStart} + Actions(5, Right);

        QTest::newRow("typing inside a line")
            << words << afterAlpha + Actions{typed(u","_s)} << u"alpha, beta\n"_s;
        QTest::newRow("Return splits a line")
            << words << afterAlpha + Actions{pressed(Qt::Key_Return)} << u"alpha\n beta\n"_s;
        QTest::newRow("Escape types nothing") << words << Actions{pressed(Qt::Key_Escape)} << words;
        // The box keeps the start of every 32nd line: joining line 32 to line 31 moves one.
        QTest::newRow("Backspace joining lines 31 and 32, then an append")
            << numberedLines(100)
            << Actions{ToStart} + Actions(32, Down) +
                   Actions{backspace, appended(numberedLines(70))}
            << QString(numberedLines(100)).replace(u"line 31\nline 32"_s, u"line 31line 32"_s) +
                   numberedLines(70);
        QTest::newRow("Delete at a line end joins the line below")
            << u"one\ntwo\n"_s << Actions{ToStart, pressed(Qt::Key_End), deleteKey}
            << u"onetwo\n"_s;
        QTest::newRow("Backspace takes characters of four, three and two bytes whole")
            << u"\u00FC\u20AC\U0001F600x"_s << Actions{ToEnd, left, backspace, backspace, backspace}
            << u"x"_s;
        QTest::newRow("Delete takes a pair of surrogates whole")
            << u"a\U0001F600b"_s << Actions{ToStart, Right, deleteKey} << u"ab"_s;
        QTest::newRow("Ctrl+Backspace takes the word before the cursor")
            << u"Battery Voltage"_s
            << Actions{ToEnd, pressed(Qt::Key_Backspace, Qt::ControlModifier)} << u"Battery "_s;
        QTest::newRow("a paste's line ends become line feeds")
            << QString() << Actions{pasted(u"a\r\nb\rc\u2029d\n"_s)} << u"a\nb\nc\nd\n"_s;
        QTest::newRow("Delete after a selection set inside a character takes that character")
            << u"a\u20ACb"_s << Actions{selectedBytes(2, 2), deleteKey} << u"ab"_s;
        QTest::newRow("a paste replaces the selection")
            << words << Actions{ToStart, SelectRight, SelectRight, pasted(u"ALPH"_s)}
            << u"ALPHpha beta\n"_s;

        QTest::newRow("one Undo takes back a run of Backspaces")
            << u"one two"_s << Actions{ToEnd, backspace, backspace, backspace, Undo}
            << u"one two"_s;
        QTest::newRow("a moved cursor starts a new undo step")
            << u"ab"_s << Actions{ToEnd, typed(u"c"_s), left, Right, typed(u"d"_s), Undo}
            << u"abc"_s;
        QTest::newRow("a new edit forgets what could be redone")
            << u"one"_s << Actions{ToEnd, typed(u"x"_s), Undo, typed(u"y"_s), redo} << u"oney"_s;

        QTest::newRow("Undo of clearing a long report, an append in between")
            << numberedLines(100) << Actions{SelectAll, deleteKey, appended(u"new\n"_s), Undo}
            << numberedLines(100) + u"new\n"_s;
        const QString manyBytes = u"\u00FC\u20AC\U0001F600\n"_s.repeated(80);
        QTest::newRow("clearing lines of several bytes undone, redone and undone")
            << manyBytes << Actions{SelectAll, deleteKey, Undo, redo, Undo} << manyBytes;
        QTest::newRow("typing over 40 lines undone, redone and undone, then an append")
            << numberedLines(100)
            << Actions{ToStart} + Actions(50, Down) +
                   Actions(40, pressed(Qt::Key_Down, Qt::ShiftModifier)) +
                   Actions{typed(u"x"_s), Undo, redo, Undo, appended(u"new\n"_s)}
            << numberedLines(100) + u"new\n"_s;

        QTest::newRow("a decode run's append is no undo step")
            << u"one\n"_s << Actions{appended(u"two\n"_s), Undo} << u"one\ntwo\n"_s;
        QTest::newRow("a selection stays through an append")
            << u"ab\n"_s << Actions{ToStart, SelectRight, appended(u"new\n"_s), typed(u"x"_s)}
            << u"xb\nnew\n"_s;
        QTest::newRow("Undo after an append takes back the edit only")
            << u"one\n"_s
            << Actions{ToEnd, typed(u"x"_s), appended(u"two\n"_s), typed(u"y"_s), Undo}
            << u"one\ntwo\n"_s;
        QTest::newRow("Redo after an append clears the long old report again")
            << numberedLines(100) << Actions{SelectAll, deleteKey, Undo, appended(u"new\n"_s), redo}
            << u"new\n"_s;

        QTest::newRow("Undo in the context menu")
            << u"one\n"_s << Actions{ToEnd, typed(u"x"_s), chosenFromMenu(u"undo"_s)} << u"one\n"_s;
        QTest::newRow("Cut and Paste in the context menu")
            << words
            << Actions{ToStart} + Actions(6, SelectRight) +
                   Actions{chosenFromMenu(u"cut"_s), pressed(Qt::Key_End),
                           chosenFromMenu(u"paste"_s)}
            << u"betaalpha \n"_s;
        QTest::newRow("Select All and Copy in the context menu")
            << words
            << Actions{chosenFromMenu(u"selectAll"_s), chosenFromMenu(u"copy"_s), ToEnd,
                       pressed(Qt::Key_V, Qt::ControlModifier)}
            << words + words;

        // The clipboard holds what Ctrl+C took: the paste at the end shows it.
        const Action copy = pressed(Qt::Key_C, Qt::ControlModifier);
        const Action paste = pressed(Qt::Key_V, Qt::ControlModifier);
        QTest::newRow("Ctrl+C copies the selection only")
            << u"ab"_s << Actions{ToStart, SelectRight, copy, ToEnd, paste} << u"aba"_s;
        QTest::newRow("Ctrl+C without a selection leaves the clipboard")
            << u"ab"_s << Actions{pasted(u"x"_s), ToStart, copy, ToEnd, paste} << u"xabx"_s;
        // A surrogate without its partner is no character; the box shows and copies U+FFFD.
        QTest::newRow("a lone surrogate becomes U+FFFD")
            << u"#1: 9001"_s + QChar(0xD800) + u"0010C6A00A503\n"_s << Actions{}
            << u"#1: 9001\uFFFD0010C6A00A503\n"_s;
    }

    // Also checks that the line index (line starts and UTF-16 offsets) agrees with the text the
    // edits leave: the long rows reach past the index's stride of 32 lines.
    void edits()
    {
        QFETCH(QString, text);
        QFETCH(Actions, actions);
        QFETCH(QString, expected);
        m_view->appendText(text);

        perform(actions);

        QCOMPARE(m_view->toPlainText(), expected);
        verifyLineIndex();
    }

    // Alt with a letter stays the window's menu key while the box has the focus.
    void altWithALetterGoesToTheWindow()
    {
        QWidget window;
        auto *view = new ReportView(&window);
        QShortcut shortcut(QKeySequence(Qt::ALT | Qt::Key_F), &window);
        const QSignalSpy fired(&shortcut, &QShortcut::activated);
        testing::showOnScreen(window);
        view->setFocus();
        view->appendText(u"a"_s);

        QTest::keySequence(view, QKeySequence(Qt::ALT | Qt::Key_F));

        QCOMPARE(fired.count(), 1);
        QCOMPARE(view->toPlainText(), u"a"_s);
    }

private:
    void perform(const Actions &actions)
    {
        for (const Action &action : actions) {
            if (!QTest::currentTestFailed())
                action(*m_view);
        }
    }

    // The line, its start and the UTF-16 offset of every position, as the text itself has them.
    void verifyLineIndex() const
    {
        const QByteArray text = m_view->toPlainText().toUtf8();
        QCOMPARE(m_view->lineCount(), text.count('\n') + 1);
        QCOMPARE(m_view->utf16Size(), QString::fromUtf8(text).size());
        qsizetype line = 0;
        qsizetype lineStart = 0;
        qsizetype units = 0;
        for (qsizetype position = 0; position <= text.size(); ++position) {
            const auto byte =
                position < text.size() ? static_cast<unsigned char>(text[position]) : 0;
            if ((byte & 0xC0) == 0x80)
                continue;
            QCOMPARE(m_view->lineNumberOf(position), line);
            QCOMPARE(m_view->lineStartOf(position), lineStart);
            QCOMPARE(m_view->utf16OffsetOf(position), units);
            QCOMPARE(m_view->positionOfUtf16(units), position);
            units += byte >= 0xF0 ? 2 : 1;
            if (byte == '\n') {
                ++line;
                lineStart = position + 1;
            }
        }
    }
    // The middle of a character of the line at the top of the box.
    QPoint pointOfColumn(int column) const
    {
        const QFontMetrics metrics = m_view->fontMetrics();
        const int x = metrics.horizontalAdvance(QString(column, u'x'));
        return QPoint(4 + x + metrics.horizontalAdvance(u'x') / 2, 4 + metrics.lineSpacing() / 2);
    }

    // What the window last painted, as the screen shows it.
    QImage shownOnScreen() const { return m_view->screen()->grabWindow(m_view->winId()).toImage(); }

    std::unique_ptr<ReportView> m_view;
};

QTEST_MAIN(TestReportView)
#include "tst_reportview.moc"
