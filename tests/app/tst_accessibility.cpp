// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a screen reader meets it: the report box's text, caret and selection in UTF-16
// offsets, edits through the accessible interface, the events a change of the report sends, and
// the status labels, which speak what they show. Also what the window manager is told about the
// fixed-size windows. Both need X11 for part of it: CTest runs the test again under xvfb-run, with
// a session bus of its own.
#include "windowtesting.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

// "a", "ü" (2 bytes), "€" (3 bytes), "😀" (4 bytes, a pair of surrogates), "b": UTF-16 offsets
// 0, 1, 2, 3 and 5, then the line end at 6 and the second line from 7.
const QString MixedText = u"a\u00FC\u20AC\U0001F600b\nzweite\n"_s;

// The text events of the report box, as a screen reader hears them. The more particular events
// derive from the caret's: they are asked first.
const QObject *listened = nullptr;
QStringList heardEvents;

QString described(QAccessibleEvent *event)
{
    if (const auto *e = dynamic_cast<QAccessibleTextInsertEvent *>(event))
        return u"inserted %1 %2"_s.arg(e->changePosition()).arg(e->textInserted());
    if (const auto *e = dynamic_cast<QAccessibleTextRemoveEvent *>(event))
        return u"removed %1 %2"_s.arg(e->changePosition()).arg(e->textRemoved());
    if (const auto *e = dynamic_cast<QAccessibleTextUpdateEvent *>(event))
        return u"replaced %1 %2 by %3"_s.arg(e->changePosition())
            .arg(e->textRemoved(), e->textInserted());
    if (const auto *e = dynamic_cast<QAccessibleTextSelectionEvent *>(event))
        return u"selected %1-%2"_s.arg(e->selectionStart()).arg(e->selectionEnd());
    if (const auto *e = dynamic_cast<QAccessibleTextCursorEvent *>(event))
        return u"caret %1"_s.arg(e->cursorPosition());
    return {};
}

void hear(QAccessibleEvent *event)
{
    if (const QString text = described(event); event->object() == listened && !text.isEmpty())
        heardEvents.append(text);
}

constexpr std::uint32_t MotifFunctionsGiven = 1U << 0;
constexpr std::uint32_t MotifFunctionResize = 1U << 1;
constexpr std::uint32_t MotifDecorationResizeHandles = 1U << 2;

template<typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// The five words of the window's _MOTIF_WM_HINTS: flags, functions, decorations, input mode,
// status; all zero without the property.
std::array<std::uint32_t, 5> motifHints(const QWidget &window)
{
    xcb_connection_t *connection =
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const char name[] = "_MOTIF_WM_HINTS";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name),
                              nullptr),
        &std::free);
    std::array<std::uint32_t, 5> hints{};
    if (!atom)
        return hints;
    const XcbReply<xcb_get_property_reply_t> property(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0,
                                                static_cast<xcb_window_t>(window.winId()),
                                                atom->atom, atom->atom, 0, 5),
                               nullptr),
        &std::free);
    if (property && xcb_get_property_value_length(property.get()) == int(sizeof hints))
        std::memcpy(hints.data(), xcb_get_property_value(property.get()), sizeof hints);
    return hints;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QAccessible::installUpdateHandler(hear);
        // On X11 Qt turns accessibility on when the session bus has the accessibility bus, as a
        // desktop with a screen reader has; tst_accessibility_x11 runs in a session bus of its own.
        if (QGuiApplication::platformName() == u"xcb"_s &&
            QDBusConnection::sessionBus().isConnected()) {
            QDBusConnection::sessionBus().interface()->startService(u"org.a11y.Bus"_s);
            QTRY_VERIFY(QAccessible::isActive());
        }
    }

    void init()
    {
        m_shown = showWindow();
        m_report = control<ReportView>(m_shown->window, "Text3");
        listened = m_report;
        heardEvents.clear();
    }

    void cleanup()
    {
        listened = nullptr;
        m_shown.reset();
    }

    void offsetsCountUtf16_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("selectionStart");
        QTest::addColumn<int>("selectionEnd");

        QTest::newRow("a pair of surrogates") << 3 << 5 << u"\U0001F600"_s << 3 << 5;
        QTest::newRow("an offset inside the pair falls back to its start")
            << 4 << 6 << u"\U0001F600b"_s << 3 << 6;
        QTest::newRow("backwards over the line end, the cursor at the start")
            << 9 << 5 << u"b\nzw"_s << 5 << 9;
        QTest::newRow("beyond the end stops at the end") << 12 << 99 << u"e\n"_s << 12 << 14;
    }

    // Offsets in, selections and text out, all in UTF-16 units: past characters of two, three and
    // four bytes (the conversion at every offset: tst_reportview).
    void offsetsCountUtf16()
    {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, selected);
        QFETCH(int, selectionStart);
        QFETCH(int, selectionEnd);
        m_report->appendText(MixedText);
        QAccessibleTextInterface *text = reportText();
        QCOMPARE(text->characterCount(), MixedText.size());

        text->setSelection(0, start, end);

        QCOMPARE(m_report->selectedText(), selected);
        QCOMPARE(text->selectionCount(), 1);
        int startOffset = -1;
        int endOffset = -1;
        text->selection(0, &startOffset, &endOffset);
        QCOMPARE(startOffset, selectionStart);
        QCOMPARE(endOffset, selectionEnd);
        QCOMPARE(text->text(selectionStart, selectionEnd), selected);
        QCOMPARE(text->cursorPosition(), end < start ? selectionStart : selectionEnd);
    }

    void readsLines()
    {
        m_report->appendText(MixedText);
        QAccessibleTextInterface *text = reportText();
        int start = -1;
        int end = -1;

        QCOMPARE(text->textAtOffset(8, QAccessible::LineBoundary, &start, &end), u"zweite\n"_s);
        QCOMPARE(std::pair(start, end), std::pair(7, 14));
        QCOMPARE(text->textBeforeOffset(8, QAccessible::LineBoundary, &start, &end),
                 u"a\u00FC\u20AC\U0001F600b\n"_s);
        QCOMPARE(std::pair(start, end), std::pair(0, 7));
        QCOMPARE(text->textAfterOffset(3, QAccessible::LineBoundary, &start, &end), u"zweite\n"_s);
        QCOMPARE(text->textAtOffset(3, QAccessible::CharBoundary, &start, &end), u"\U0001F600"_s);

        text->setCursorPosition(5);
        QCOMPARE(m_report->position(), 10);
        QCOMPARE(text->cursorPosition(), 5);
    }

    void editsThroughInterface_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("an insertion after the pair of surrogates")
            << 5 << 5 << u"+"_s << u"a\u00FC\u20AC\U0001F600+b\nzweite\n"_s;
        QTest::newRow("a deletion of the multi-byte characters")
            << 1 << 5 << QString() << u"ab\nzweite\n"_s;
        QTest::newRow("a replacement over the line end")
            << 5 << 8 << u"B\r\nZ"_s << u"a\u00FC\u20AC\U0001F600B\nZweite\n"_s;
    }

    // Each edit is the user's: one undo step, as if typed.
    void editsThroughInterface()
    {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        m_report->appendText(MixedText);
        QAccessibleEditableTextInterface *editable = reportInterface()->editableTextInterface();

        if (text.isEmpty())
            editable->deleteText(start, end);
        else if (start == end)
            editable->insertText(start, text);
        else
            editable->replaceText(start, end, text);

        QCOMPARE(m_report->toPlainText(), expected);
        QTest::keyClick(m_report, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_report->toPlainText(), MixedText);
    }

    void changesAreHeard_data()
    {
        QTest::addColumn<int>("caret"); // a position in bytes of MixedText
        QTest::addColumn<QString>("appended");
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::addColumn<QStringList>("heard");

        const QKeySequence undo(Qt::CTRL | Qt::Key_Z);
        const QKeySequence paste(Qt::CTRL | Qt::Key_V);
        QTest::newRow("an append: inserted at the end, the caret stays")
            << 0 << u"\u00FC\n"_s << QList<QKeySequence>()
            << QStringList{u"inserted 14 \u00FC\n"_s};
        QTest::newRow("typing: inserted at the caret, then the caret")
            << 0 << QString() << QList<QKeySequence>{Qt::Key_X}
            << QStringList{u"inserted 0 x"_s, u"caret 1"_s};
        QTest::newRow("Backspace after a pair of surrogates")
            << 10 << QString() << QList<QKeySequence>{Qt::Key_Backspace}
            << QStringList{u"removed 3 \U0001F600"_s, u"caret 3"_s};
        QTest::newRow("a selection and its end")
            << 10 << QString() << QList<QKeySequence>{Qt::SHIFT | Qt::Key_Left, Qt::Key_Right}
            << QStringList{u"caret 3"_s, u"selected 3-5"_s, u"caret 5"_s, u"selected 5-5"_s};
        QTest::newRow("Undo of a typed character")
            << 1 << QString() << QList<QKeySequence>{Qt::Key_X, undo}
            << QStringList{u"inserted 1 x"_s, u"caret 2"_s, u"removed 1 x"_s, u"caret 1"_s};
        QTest::newRow("a paste over a selection")
            << 0 << QString() << QList<QKeySequence>{Qt::SHIFT | Qt::Key_Right, paste}
            << QStringList{u"caret 1"_s, u"selected 0-1"_s, u"replaced 0 a by pasted"_s,
                           u"caret 6"_s, u"selected 6-6"_s};
    }

    void changesAreHeard()
    {
        if (!QAccessible::isActive())
            QSKIP("accessibility is off on this platform; tst_accessibility_x11 hears the changes");
        QFETCH(int, caret);
        QFETCH(QString, appended);
        QFETCH(QList<QKeySequence>, keys);
        QFETCH(QStringList, heard);
        m_report->appendText(MixedText);
        m_report->setSelection(caret, caret);
        QApplication::clipboard()->setText(u"pasted"_s);
        heardEvents.clear();

        if (!appended.isEmpty())
            m_report->appendText(appended);
        for (const QKeySequence &key : keys)
            QTest::keySequence(m_report, key);

        QCOMPARE(heardEvents, heard);
    }

    // A screen reader offers editing of the report and reads it whole; the labels speak what they
    // show, "1/12" and the saved file, and say what they are for in their description (that every
    // control has a name or description: tst_mainwindow).
    void reportAndLabelsSpeakWhatTheyShow()
    {
        pasteInput(m_shown->window, crlfJoined(frameLines(12)));
        QAccessibleInterface *accessible = reportInterface();
        QCOMPARE(accessible->role(), QAccessible::EditableText);
        QCOMPARE(accessible->text(QAccessible::Name), u"Decoded report"_s);
        QCOMPARE(accessible->text(QAccessible::Value), testing::reportText(m_shown->window));

        QAccessibleInterface *spokenPosition =
            QAccessible::queryAccessibleInterface(control<QLabel>(m_shown->window, "Label2"));
        QCOMPARE(spokenPosition->text(QAccessible::Name), u"1/12"_s);
        QVERIFY(spokenPosition->text(QAccessible::Description).contains(u"frame"_s));
        auto *status = control<QLabel>(m_shown->window, "Label3");
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name),
                 status->text());
    }

    // What the window manager is told about the fixed-size windows on X11: no resizing offered,
    // in the Motif hints and in the size hints alike.
    void fixedWindowsOfferNoResizing()
    {
        if (QGuiApplication::platformName() != u"xcb"_s)
            QSKIP("window-manager hints are only written on X11");
        Form2 info;
        showOnScreen(info);

        for (const QWidget *window :
             {static_cast<QWidget *>(&m_shown->window), static_cast<QWidget *>(&info)}) {
            const std::array<std::uint32_t, 5> hints = motifHints(*window);
            QVERIFY2(hints[0] & MotifFunctionsGiven, qPrintable(window->objectName()));
            QCOMPARE(hints[1] & MotifFunctionResize, 0U);
            QCOMPARE(hints[2] & MotifDecorationResizeHandles, 0U);
            QCOMPARE(window->minimumSize(), window->maximumSize());
        }
    }

private:
    QAccessibleInterface *reportInterface() const
    {
        return QAccessible::queryAccessibleInterface(m_report);
    }
    QAccessibleTextInterface *reportText() const { return reportInterface()->textInterface(); }

    std::unique_ptr<ShownWindow> m_shown;
    ReportView *m_report = nullptr;
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
