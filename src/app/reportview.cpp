// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportview.h"
#include "reportaccessibility.h"

#include <QAccessible>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace tovrin3 {

namespace {

// Between the frame and the text, as in the window's other text box.
constexpr int TextMargin = 4;
// Enough for every line on screen many times over; dragging a selection through a long report
// lays out lines on the way, which need not stay.
constexpr std::size_t MaxKeptLayouts = 512;
constexpr qsizetype LinesPerCheckpoint = 32;

int clampedToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

using Step = ReportView::Step;

struct KeyStep
{
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Step step;
};

// The platform's cursor keys, each with its Shift form that extends the selection.
constexpr std::array<KeyStep, 12> KeySteps{{
    {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Step::NextCharacter},
    {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Step::PreviousCharacter},
    {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Step::NextWord},
    {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Step::PreviousWord},
    {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Step::NextLine},
    {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Step::PreviousLine},
    {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Step::NextPage},
    {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Step::PreviousPage},
    {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Step::LineStart},
    {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Step::LineEnd},
    {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Step::DocumentStart},
    {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Step::DocumentEnd},
}};

// UTF-16 units of a byte of valid UTF-8: one for the byte that starts a character, two for the
// start of a four-byte one beyond the Basic Multilingual Plane.
int utf16UnitsOf(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return ((value & 0xC0) != 0x80 ? 1 : 0) + (value >= 0xF0 ? 1 : 0);
}

qsizetype utf16Units(const char *begin, const char *end)
{
    qsizetype units = 0;
    const char *at = begin;
    // The report is nearly all ASCII: eight bytes at a time where none has its high bit set.
    while (end - at >= 8) {
        quint64 word = 0;
        std::memcpy(&word, at, sizeof word);
        if ((word & 0x8080808080808080U) == 0) {
            units += 8;
            at += 8;
            continue;
        }
        for (const char *wordEnd = at + 8; at != wordEnd; ++at)
            units += utf16UnitsOf(*at);
    }
    for (; at != end; ++at)
        units += utf16UnitsOf(*at);
    return units;
}

// A run's report has a line end every few dozen bytes: memchr finds each faster than a byte loop.
qsizetype lineFeeds(const char *begin, const char *end)
{
    qsizetype count = 0;
    for (const void *at = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)); at;
         at = std::memchr(begin, '\n', static_cast<std::size_t>(end - begin))) {
        ++count;
        begin = static_cast<const char *>(at) + 1;
    }
    return count;
}

// The box's lines end in '\n' whatever the clipboard or the keyboard brought, and a surrogate
// without its partner becomes U+FFFD.
QByteArray lineFeedUtf8(QStringView text)
{
    QString lines = text.toString();
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const QChar lineEnd :
         {QChar(u'\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)})
        lines.replace(lineEnd, QLatin1Char('\n'));
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    return toUtf8.encode(lines);
}

// Text a key press types: printable characters, not the control characters some keys carry.
bool isTypedText(const QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    // Ctrl+Alt is AltGr on some keyboards, which types characters.
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier))
        return false;
    return std::none_of(text.cbegin(), text.cend(), [](QChar character) {
        return character.category() == QChar::Other_Control;
    });
}

// Only some platforms bind Backspace to QKeySequence::Backspace; Shift+Backspace is one too.
bool isBackspace(const QKeyEvent *event)
{
    return event->matches(QKeySequence::Backspace) ||
           (event->key() == Qt::Key_Backspace &&
            (event->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier);
}

bool isRedoKey(const QKeyEvent *event)
{
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return event->matches(QKeySequence::Redo) ||
           (event->key() == Qt::Key_Y && modifiers == Qt::ControlModifier) ||
           (event->key() == Qt::Key_Z && modifiers == (Qt::ControlModifier | Qt::ShiftModifier));
}

constexpr std::array<QKeySequence::StandardKey, 11> EditingKeys{
    QKeySequence::Copy,
    QKeySequence::Cut,
    QKeySequence::Paste,
    QKeySequence::Undo,
    QKeySequence::SelectAll,
    QKeySequence::Delete,
    QKeySequence::Backspace,
    QKeySequence::DeleteStartOfWord,
    QKeySequence::DeleteEndOfWord,
    QKeySequence::InsertParagraphSeparator,
    QKeySequence::InsertLineSeparator,
};

// The selection offered to the clipboard, as plain text made only when a program asks for it:
// selecting all of a long report costs no copy of it.
class SelectionData : public QMimeData
{
public:
    explicit SelectionData(QByteArray utf8) : m_utf8(std::move(utf8)) {}

    QStringList formats() const override { return {QStringLiteral("text/plain")}; }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType) const override
    {
        if (mimeType == QLatin1StringView("text/plain"))
            return QString::fromUtf8(m_utf8);
        return {};
    }

private:
    QByteArray m_utf8;
};

} // namespace

ReportView::ReportView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool accessibilityInstalled = [] {
        QAccessible::installFactory(&ReportAccessibility::create);
        return true;
    }();
    Q_UNUSED(accessibilityInstalled)

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    updateScrollRange();
}

ReportView::~ReportView() = default;

void ReportView::appendText(QStringView text)
{
    if (text.isEmpty())
        return;
    const qsizetype firstNewLine = m_lineCount - 1;
    const qsizetype end = m_text.size();
    const qsizetype utf16End = m_utf16Size;
    const qsizetype oldTop = firstVisibleLine();
    // A surrogate without its partner is no character: it becomes U+FFFD, not a question mark.
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    replaceBytes(end, end, toUtf8.encode(text));
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent inserted(this, clampedToInt(utf16End), text.toString());
        QAccessible::updateAccessibility(&inserted);
    }

    updateScrollRange();
    m_scrollingWithoutRepaint = true;
    verticalScrollBar()->setValue(clampedToInt(firstNewLine));
    m_scrollingWithoutRepaint = false;
    updateChangedRows(oldTop, end);
}

// Every decode run reports the same frames again, so after the scroll to its first line the box
// mostly shows the very lines it showed before: only the rows whose text differs are painted
// again. A visible cursor or selection moves with the scroll, so then every row is.
void ReportView::updateChangedRows(qsizetype oldTop, qsizetype oldEnd)
{
    const qsizetype newTop = firstVisibleLine();
    if (newTop != oldTop && (hasFocus() || hasSelection())) {
        viewport()->update();
        return;
    }
    const int height = lineHeight();
    const int rows = visibleLineCount() + 1;
    // Line starts in the text as it was (which ended at oldEnd) and as it is.
    qsizetype oldStart = oldTop < m_lineCount ? lineStart(oldTop) : m_text.size();
    qsizetype newStart = newTop < m_lineCount ? lineStart(newTop) : m_text.size();
    QRegion changed;
    for (int row = 0; row < rows; ++row) {
        const bool oldShown = oldStart <= oldEnd && oldStart >= 0;
        const bool newShown = newStart >= 0;
        const qsizetype oldLineEnd = oldShown ? std::min(lineEnd(oldStart), oldEnd) : -1;
        const qsizetype newLineEnd = newShown ? lineEnd(newStart) : -1;
        const bool same =
            oldShown == newShown &&
            (!oldShown || (oldLineEnd - oldStart == newLineEnd - newStart &&
                           std::memcmp(m_text.constData() + oldStart, m_text.constData() + newStart,
                                       static_cast<std::size_t>(oldLineEnd - oldStart)) == 0));
        if (!same)
            changed += QRect(0, TextMargin + row * height, viewport()->width(), height);
        // Past the last line there is none; a line ending at the end of the text is the last.
        oldStart = oldShown && oldLineEnd < oldEnd ? oldLineEnd + 1 : -1;
        newStart = newShown && newLineEnd < m_text.size() ? newLineEnd + 1 : -1;
    }
    if (!changed.isEmpty())
        viewport()->update(changed);
}

// The laid-out lines stay: they still hold for the same font.
void ReportView::clear()
{
    const QString removed = QAccessible::isActive() ? toPlainText() : QString();
    m_text = QByteArray();
    m_lineCount = 1;
    m_utf16Size = 0;
    m_checkpoints = {{0, 0, 0}};
    m_anchor = 0;
    m_position = 0;
    m_undoSteps.clear();
    m_redoSteps.clear();
    m_undoStepOpen = false;
    if (!removed.isEmpty())
        notifyTextChange(0, removed, QString());
    updateScrollRange();
    viewport()->update();
}

qsizetype ReportView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

void ReportView::setSelection(qsizetype anchor, qsizetype position)
{
    m_anchor = characterStart(anchor);
    m_position = characterStart(position);
    m_undoStepOpen = false;
    viewport()->update();
    notifySelectionChange();
}

// Bytes after the first of a character's UTF-8 sequence are 10xxxxxx.
qsizetype ReportView::characterStart(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    while (position > 0 && position < m_text.size() &&
           (static_cast<unsigned char>(m_text.at(position)) & 0xC0) == 0x80)
        --position;
    return position;
}

QString ReportView::selectedText() const
{
    const auto [start, end] = std::minmax({m_anchor, m_position});
    return textBetween(start, end);
}

QMimeData *ReportView::selectionData() const
{
    const auto [start, end] = std::minmax({m_anchor, m_position});
    return new SelectionData(m_text.mid(start, end - start));
}

QString ReportView::textBetween(qsizetype start, qsizetype end) const
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    end = std::clamp<qsizetype>(end, start, m_text.size());
    return QString::fromUtf8(m_text.constData() + start, end - start);
}

qsizetype ReportView::positionAt(QPointF point) const
{
    auto row = static_cast<qsizetype>(std::floor((point.y() - TextMargin) / lineHeight()));
    // The margin belongs to the first row; only a point above the box reaches the line above.
    if (point.y() >= 0)
        row = std::max<qsizetype>(row, 0);
    const qsizetype line = std::clamp<qsizetype>(firstVisibleLine() + row, 0, lineCount() - 1);
    const QTextLine textLine = layoutOf(line).lineAt(0);
    return positionInLine(line, textLine.xToCursor(point.x() - TextMargin));
}

qsizetype ReportView::utf16OffsetOf(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    const Checkpoint &checkpoint = *checkpointBefore(position);
    return checkpoint.utf16 +
           utf16Units(m_text.constData() + checkpoint.position, m_text.constData() + position);
}

qsizetype ReportView::positionOfUtf16(qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, m_utf16Size);
    const auto after = std::upper_bound(
        m_checkpoints.begin(), m_checkpoints.end(), offset,
        [](qsizetype value, const Checkpoint &entry) { return value < entry.utf16; });
    const Checkpoint &checkpoint = *std::prev(after);
    qsizetype position = checkpoint.position;
    qsizetype units = checkpoint.utf16;
    while (units < offset && position < m_text.size()) {
        const auto lead = static_cast<unsigned char>(m_text.at(position));
        const qsizetype bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const qsizetype characterUnits = bytes == 4 ? 2 : 1;
        if (units + characterUnits > offset)
            break;
        units += characterUnits;
        position += bytes;
    }
    return position;
}

QRect ReportView::characterRect(qsizetype position) const
{
    const qsizetype line = lineOf(position);
    const qsizetype row = line - firstVisibleLine();
    if (row < 0 || row >= visibleLineCount() + 1)
        return {};
    const QTextLayout &layout = layoutOf(line);
    const qsizetype start = lineStart(line);
    const int column = columnOf(start, position);
    const QTextLine textLine = layout.lineAt(0);
    const qreal left = textLine.cursorToX(column);
    const int next = layout.nextCursorPosition(column);
    const qreal right = next > column ? textLine.cursorToX(next)
                                      : left + fontMetrics().horizontalAdvance(QLatin1Char(' '));
    return QRectF(TextMargin + left, TextMargin + static_cast<qreal>(row) * lineHeight(),
                  right - left, lineHeight())
        .toAlignedRect();
}

void ReportView::ensurePositionVisible(qsizetype position)
{
    ensureLineVisible(lineOf(std::clamp<qsizetype>(position, 0, m_text.size())));
}

void ReportView::replaceText(qsizetype start, qsizetype end, QStringView text)
{
    start = characterStart(start);
    end = std::max(start, characterStart(end));
    edit(start, end, lineFeedUtf8(text), EditKind::Single);
}

void ReportView::copy() const
{
    if (hasSelection())
        QApplication::clipboard()->setMimeData(selectionData());
}

void ReportView::cut()
{
    if (!hasSelection())
        return;
    copy();
    const auto [start, end] = std::minmax({m_anchor, m_position});
    edit(start, end, QByteArray(), EditKind::Single);
}

void ReportView::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    const auto [start, end] = std::minmax({m_anchor, m_position});
    edit(start, end, lineFeedUtf8(text), EditKind::Single);
}

void ReportView::selectAll()
{
    m_anchor = 0;
    m_position = m_text.size();
    m_undoStepOpen = false;
    viewport()->update();
    offerSelection();
    notifySelectionChange();
}

void ReportView::undo()
{
    if (m_undoSteps.empty())
        return;
    UndoStep step = std::move(m_undoSteps.back());
    m_undoSteps.pop_back();
    applyStep(step, false);
    m_redoSteps.push_back(std::move(step));
}

void ReportView::redo()
{
    if (m_redoSteps.empty())
        return;
    UndoStep step = std::move(m_redoSteps.back());
    m_redoSteps.pop_back();
    applyStep(step, true);
    m_undoSteps.push_back(std::move(step));
}

bool ReportView::event(QEvent *event)
{
    // Editing keys and typed characters belong to the box while it has the focus, whatever the
    // window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool editing = std::any_of(EditingKeys.begin(), EditingKeys.end(),
                                         [key](auto standard) { return key->matches(standard); });
        // Alt with a letter stays a menu's shortcut.
        const bool plainTyping =
            (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == Qt::NoModifier &&
            isTypedText(key);
        if (editing || isBackspace(key) || isRedoKey(key) || plainTyping) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void ReportView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const QRect dirty = event->rect();
    const int height = lineHeight();
    const qsizetype top = firstVisibleLine();
    const auto [selectionStart, selectionEnd] = std::minmax({m_anchor, m_position});
    const qsizetype cursorLine = hasFocus() ? lineOf(m_position) : -1;

    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));

    const qsizetype firstDirtyRow = std::max(0, (dirty.top() - TextMargin) / height);
    for (qsizetype line = top + firstDirtyRow; line < lineCount(); ++line) {
        const QPointF origin(TextMargin, TextMargin + static_cast<qreal>(line - top) * height);
        if (origin.y() > dirty.bottom())
            break;
        QTextLayout &layout = layoutOf(line);
        const qsizetype start = lineStart(line);
        const qsizetype end = lineEnd(start);
        QList<QTextLayout::FormatRange> selections;
        if (selectionStart < end && selectionEnd > start) {
            const int from = columnOf(start, std::max(selectionStart, start));
            const int to = columnOf(start, std::min(selectionEnd, end));
            selections.append({from, to - from, selected});
        }
        // A selected line end shows as a mark one space wide after the line's text.
        if (selectionStart <= end && selectionEnd > end) {
            const qreal space = fontMetrics().horizontalAdvance(QLatin1Char(' '));
            painter.fillRect(
                QRectF(origin.x() + layout.lineAt(0).naturalTextWidth(), origin.y(), space, height),
                selected.background());
        }
        layout.draw(&painter, origin, selections);
        if (line == cursorLine)
            layout.drawCursor(&painter, origin, columnOf(start, m_position));
    }
}

void ReportView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void ReportView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_layouts.clear();
        updateScrollRange();
        viewport()->update();
    }
}

void ReportView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReportView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ReportView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (isRedoKey(event)) {
        redo();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (!moveCursorByKey(event) && !editByKey(event)) {
        if (isTypedText(event))
            insertTyped(event->text());
        else
            QAbstractScrollArea::keyPressEvent(event);
    }
}

// Composed characters arrive whole; the box shows no text still being composed.
void ReportView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty())
        insertTyped(event->commitString());
    event->accept();
}

QVariant ReportView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const qsizetype start = lineStartOf(m_position);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return QVariant::fromValue(Qt::ImhMultiLine);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle:
        return characterRect(m_position).translated(viewport()->pos());
    case Qt::ImSurroundingText:
        return textBetween(start, lineEnd(start));
    case Qt::ImCursorPosition:
        return columnOf(start, m_position);
    case Qt::ImAnchorPosition:
        return columnOf(start, std::clamp(m_anchor, start, lineEnd(start)));
    case Qt::ImCurrentSelection:
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void ReportView::mousePressEvent(QMouseEvent *event)
{
    // On X11 and Wayland the middle button pastes the selection offered by any program.
    QClipboard *clipboard = QApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        const QString text = clipboard->text(QClipboard::Selection);
        const qsizetype position = positionAt(event->position());
        if (!text.isEmpty())
            edit(position, position, lineFeedUtf8(text), EditKind::Single);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    moveCursor(positionAt(event->position()), event->modifiers().testFlag(Qt::ShiftModifier));
    m_selectingWithMouse = true;
}

// Dragging above or below the box scrolls it a line per move.
void ReportView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selectingWithMouse || !event->buttons().testFlag(Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    moveCursor(positionAt(event->position()), true);
}

void ReportView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_selectingWithMouse) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selectingWithMouse = false;
    offerSelection();
}

void ReportView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    selectWordAt(positionAt(event->position()));
    offerSelection();
}

QMenu *ReportView::createContextMenu()
{
    auto *menu = new QMenu(this);
    const auto addAction = [menu](const QString &text, QKeySequence::StandardKey key, bool enabled,
                                  const char *name, auto slot) {
        QAction *action = menu->addAction(text, key, slot);
        action->setObjectName(QLatin1StringView(name));
        action->setEnabled(enabled);
    };
    addAction(tr("&Undo"), QKeySequence::Undo, isUndoAvailable(), "undo", [this] { undo(); });
    addAction(tr("&Redo"), QKeySequence::Redo, isRedoAvailable(), "redo", [this] { redo(); });
    menu->addSeparator();
    addAction(tr("Cu&t"), QKeySequence::Cut, hasSelection(), "cut", [this] { cut(); });
    addAction(tr("&Copy"), QKeySequence::Copy, hasSelection(), "copy", [this] { copy(); });
    addAction(tr("&Paste"), QKeySequence::Paste, !QApplication::clipboard()->text().isEmpty(),
              "paste", [this] { paste(); });
    addAction(tr("Delete"), QKeySequence::Delete, hasSelection(), "delete", [this] {
        const auto [start, end] = std::minmax({m_anchor, m_position});
        edit(start, end, QByteArray(), EditKind::Single);
    });
    menu->addSeparator();
    addAction(tr("Select All"), QKeySequence::SelectAll, !isEmpty(), "selectAll",
              [this] { selectAll(); });
    return menu;
}

void ReportView::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu());
    menu->exec(event->globalPos());
}

// The box scrolls by whole lines, and each line is laid out once, so repainting is cheaper than
// moving pixels.
void ReportView::scrollContentsBy(int, int)
{
    if (!m_scrollingWithoutRepaint)
        viewport()->update();
}

std::vector<ReportView::Checkpoint>::const_iterator
ReportView::checkpointBefore(qsizetype position) const
{
    const auto after = std::upper_bound(
        m_checkpoints.begin(), m_checkpoints.end(), position,
        [](qsizetype value, const Checkpoint &entry) { return value < entry.position; });
    return std::prev(after);
}

qsizetype ReportView::lineOf(qsizetype position) const
{
    const Checkpoint &checkpoint = *checkpointBefore(position);
    qsizetype line = checkpoint.line;
    for (qsizetype end = m_text.indexOf('\n', checkpoint.position); end >= 0 && end < position;
         end = m_text.indexOf('\n', end + 1))
        ++line;
    return line;
}

qsizetype ReportView::lineStart(qsizetype line) const
{
    const auto after = std::upper_bound(
        m_checkpoints.begin(), m_checkpoints.end(), line,
        [](qsizetype value, const Checkpoint &entry) { return value < entry.line; });
    const Checkpoint &checkpoint = *std::prev(after);
    qsizetype start = checkpoint.position;
    for (qsizetype skipped = line - checkpoint.line; skipped > 0; --skipped)
        start = m_text.indexOf('\n', start) + 1;
    return start;
}

qsizetype ReportView::lineEnd(qsizetype lineStart) const
{
    const qsizetype end = m_text.indexOf('\n', lineStart);
    return end < 0 ? m_text.size() : end;
}

// The column in the line's laid-out text, which counts UTF-16 units.
int ReportView::columnOf(qsizetype lineStart, qsizetype position) const
{
    return clampedToInt(
        QString::fromUtf8(m_text.constData() + lineStart, position - lineStart).size());
}

QTextLayout &ReportView::layoutOf(qsizetype line) const
{
    const qsizetype start = lineStart(line);
    QString text = QString::fromUtf8(m_text.constData() + start, lineEnd(start) - start);
    if (const auto kept = m_layouts.find(text); kept != m_layouts.end())
        return *kept->second;
    if (m_layouts.size() >= MaxKeptLayouts)
        m_layouts.clear();

    auto layout = std::make_unique<QTextLayout>(text, font(), viewport());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine textLine = layout->createLine();
    textLine.setLineWidth(viewport()->width());
    textLine.setPosition(QPointF(0, 0));
    layout->endLayout();
    return *m_layouts.emplace(std::move(text), std::move(layout)).first->second;
}

int ReportView::lineHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int ReportView::visibleLineCount() const
{
    return std::max(1, (viewport()->height() - 2 * TextMargin) / lineHeight());
}

// The last line can be scrolled up to the bottom of the box, not beyond.
void ReportView::updateScrollRange()
{
    const int visibleLines = visibleLineCount();
    QScrollBar *scrollBar = verticalScrollBar();
    scrollBar->setRange(0, clampedToInt(lineCount() - visibleLines));
    scrollBar->setPageStep(visibleLines);
}

void ReportView::ensureLineVisible(qsizetype line)
{
    const qsizetype top = firstVisibleLine();
    if (line < top)
        verticalScrollBar()->setValue(clampedToInt(line));
    else if (line >= top + visibleLineCount())
        verticalScrollBar()->setValue(clampedToInt(line - visibleLineCount() + 1));
}

void ReportView::moveCursor(qsizetype position, bool keepAnchor)
{
    m_position = position;
    if (!keepAnchor)
        m_anchor = position;
    m_undoStepOpen = false;
    ensureLineVisible(lineOf(position));
    viewport()->update();
    if (keepAnchor)
        offerSelection();
    notifySelectionChange();
}

bool ReportView::moveCursorByKey(const QKeyEvent *event)
{
    for (const KeyStep &keyStep : KeySteps) {
        const bool select = event->matches(keyStep.select);
        if (select || event->matches(keyStep.move)) {
            moveCursor(steppedPosition(keyStep.step), select);
            return true;
        }
    }
    return false;
}

// Backspace and Delete take the selection, or else the character or word beside the cursor;
// Return starts a new line.
bool ReportView::editByKey(const QKeyEvent *event)
{
    const bool backspace = isBackspace(event);
    if (hasSelection() && (backspace || event->matches(QKeySequence::Delete) ||
                           event->matches(QKeySequence::DeleteStartOfWord) ||
                           event->matches(QKeySequence::DeleteEndOfWord))) {
        const auto [start, end] = std::minmax({m_anchor, m_position});
        edit(start, end, QByteArray(), EditKind::Single);
    } else if (backspace) {
        deleteTowards(previousPosition(m_position, QTextLayout::SkipCharacters),
                      EditKind::DeletingBackward);
    } else if (event->matches(QKeySequence::Delete)) {
        deleteTowards(nextPosition(m_position, QTextLayout::SkipCharacters),
                      EditKind::DeletingForward);
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        deleteTowards(previousPosition(m_position, QTextLayout::SkipWords), EditKind::Single);
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        deleteTowards(nextPosition(m_position, QTextLayout::SkipWords), EditKind::Single);
    } else if (event->matches(QKeySequence::InsertParagraphSeparator) ||
               event->matches(QKeySequence::InsertLineSeparator)) {
        insertTyped(u"\n");
    } else {
        return false;
    }
    return true;
}

// Where one step of the cursor keys takes the cursor from its position.
qsizetype ReportView::steppedPosition(Step step) const
{
    const qsizetype line = lineOf(m_position);
    const qsizetype start = lineStart(line);
    const int column = columnOf(start, m_position);
    switch (step) {
    case Step::NextCharacter:
        return nextPosition(m_position, QTextLayout::SkipCharacters);
    case Step::PreviousCharacter:
        return previousPosition(m_position, QTextLayout::SkipCharacters);
    case Step::NextWord:
        return nextPosition(m_position, QTextLayout::SkipWords);
    case Step::PreviousWord:
        return previousPosition(m_position, QTextLayout::SkipWords);
    case Step::NextLine:
        return positionInLine(line + 1, column);
    case Step::PreviousLine:
        return positionInLine(line - 1, column);
    case Step::NextPage:
        return positionInLine(line + visibleLineCount(), column);
    case Step::PreviousPage:
        return positionInLine(line - visibleLineCount(), column);
    case Step::LineStart:
        return start;
    case Step::LineEnd:
        return lineEnd(start);
    case Step::DocumentStart:
        return 0;
    case Step::DocumentEnd:
        return m_text.size();
    }
    return m_position;
}

// Over a line end the cursor moves to the next line's start; within a line by whole characters
// or words as the text's layout has them.
qsizetype ReportView::nextPosition(qsizetype position, QTextLayout::CursorMode mode) const
{
    const qsizetype line = lineOf(position);
    const qsizetype start = lineStart(line);
    if (position == lineEnd(start))
        return std::min(position + 1, m_text.size());
    const int column = columnOf(start, position);
    return positionInLine(line, layoutOf(line).nextCursorPosition(column, mode));
}

qsizetype ReportView::previousPosition(qsizetype position, QTextLayout::CursorMode mode) const
{
    const qsizetype line = lineOf(position);
    const qsizetype start = lineStart(line);
    if (position == start)
        return std::max<qsizetype>(position - 1, 0);
    const int column = columnOf(start, position);
    return positionInLine(line, layoutOf(line).previousCursorPosition(column, mode));
}

// The position of a column of the line, or of the line's end if it is shorter; beyond the first
// or last line, the start or end of the text.
qsizetype ReportView::positionInLine(qsizetype line, int column) const
{
    if (line < 0)
        return 0;
    if (line >= m_lineCount)
        return m_text.size();
    const QTextLayout &layout = layoutOf(line);
    int inLine = std::min(column, clampedToInt(layout.text().size()));
    if (!layout.isValidCursorPosition(inLine))
        inLine = layout.previousCursorPosition(inLine);
    return lineStart(line) + QStringView(layout.text()).first(inLine).toUtf8().size();
}

// A word here is a run of characters other than spaces: a value, a frame or a state, whole.
void ReportView::selectWordAt(qsizetype position)
{
    const qsizetype start = lineStart(lineOf(position));
    const qsizetype end = lineEnd(start);
    // UTF-8 keeps every byte of a longer character above ASCII, so spaces are found bytewise.
    const auto isWordCharacter = [this](qsizetype at) { return m_text.at(at) != ' '; };
    qsizetype wordStart = position;
    while (wordStart > start && isWordCharacter(wordStart - 1))
        --wordStart;
    qsizetype wordEnd = position;
    while (wordEnd < end && isWordCharacter(wordEnd))
        ++wordEnd;
    m_anchor = wordStart;
    m_position = wordEnd;
    m_undoStepOpen = false;
    viewport()->update();
    notifySelectionChange();
}

// On X11 and Wayland a selection is offered for pasting with the middle button.
void ReportView::offerSelection() const
{
    QClipboard *clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setMimeData(selectionData(), QClipboard::Selection);
}

ReportView::PieceIndex ReportView::replaceBytes(qsizetype start, qsizetype end,
                                                const QByteArray &bytes,
                                                const PieceIndex *bytesIndex)
{
    const bool indexed = bytesIndex && bytesIndex->known;
    const auto first = checkpointBefore(start);
    const auto firstIndex = std::distance(m_checkpoints.cbegin(), first);
    const qsizetype startLine = lineOf(start);
    const qsizetype startUnits = utf16OffsetOf(start);
    PieceIndex removed{lineOf(end) - startLine, utf16OffsetOf(end) - startUnits, {}, true};
    const qsizetype insertedLines =
        indexed ? bytesIndex->lines : lineFeeds(bytes.constBegin(), bytes.constEnd());
    const qsizetype insertedUnits =
        indexed ? bytesIndex->utf16 : utf16Units(bytes.constBegin(), bytes.constEnd());

    if (start == 0 && end == m_text.size())
        m_text = bytes;
    else if (start == m_text.size())
        m_text.append(bytes);
    else
        m_text.replace(start, end - start, bytes);
    m_lineCount += insertedLines - removed.lines;
    m_utf16Size += insertedUnits - removed.utf16;

    // Line starts after the edit keep their place in the text; those within it go to the
    // removed piece's index.
    const auto kept = std::upper_bound(
        m_checkpoints.begin() + firstIndex + 1, m_checkpoints.end(), end,
        [](qsizetype value, const Checkpoint &entry) { return value < entry.position; });
    for (auto entry = m_checkpoints.begin() + firstIndex + 1; entry != kept; ++entry) {
        if (entry->position < end)
            removed.lineStarts.push_back(
                {entry->position - start, entry->line - startLine, entry->utf16 - startUnits});
    }
    auto shifted = m_checkpoints.erase(m_checkpoints.begin() + firstIndex + 1, kept);
    for (auto entry = shifted; entry != m_checkpoints.end(); ++entry) {
        entry->position += bytes.size() - (end - start);
        entry->line += insertedLines - removed.lines;
        entry->utf16 += insertedUnits - removed.utf16;
    }

    std::vector<Checkpoint> added;
    if (indexed) {
        added.reserve(bytesIndex->lineStarts.size());
        for (const Checkpoint &entry : bytesIndex->lineStarts)
            added.push_back(
                {start + entry.position, startLine + entry.line, startUnits + entry.utf16});
    } else {
        // Line starts anew from the one before the edit up to the next one kept, 32 lines
        // apart.
        const qsizetype stop =
            shifted == m_checkpoints.end() ? m_text.size() + 1 : shifted->position;
        Checkpoint last = m_checkpoints[static_cast<std::size_t>(firstIndex)];
        qsizetype line = last.line;
        for (qsizetype lineEnd = m_text.indexOf('\n', last.position);
             lineEnd >= 0 && lineEnd + 1 < stop; lineEnd = m_text.indexOf('\n', lineEnd + 1)) {
            if (++line - last.line < LinesPerCheckpoint)
                continue;
            last = {lineEnd + 1, line,
                    last.utf16 + utf16Units(m_text.constData() + last.position,
                                            m_text.constData() + lineEnd + 1)};
            added.push_back(last);
        }
    }
    m_checkpoints.insert(m_checkpoints.begin() + firstIndex + 1, added.begin(), added.end());
    return removed;
}

void ReportView::edit(qsizetype start, qsizetype end, const QByteArray &bytes, EditKind kind)
{
    if (start == end && bytes.isEmpty())
        return;
    const bool accessible = QAccessible::isActive();
    const qsizetype utf16Start = accessible ? utf16OffsetOf(start) : 0;
    UndoStep step{start, m_text.mid(start, end - start), bytes, kind};
    step.removedIndex = replaceBytes(start, end, bytes);
    m_redoSteps.clear();
    if (accessible)
        notifyTextChange(utf16Start, QString::fromUtf8(step.removed), QString::fromUtf8(bytes));

    UndoStep *open = m_undoStepOpen && !m_undoSteps.empty() && m_undoSteps.back().kind == kind
                         ? &m_undoSteps.back()
                         : nullptr;
    if (open && kind == EditKind::Typing && step.removed.isEmpty() &&
        start == open->position + open->inserted.size()) {
        open->inserted += bytes;
    } else if (open && kind == EditKind::DeletingBackward && end == open->position) {
        open->removed.prepend(step.removed);
        open->removedIndex.known = false;
        open->position = start;
    } else if (open && kind == EditKind::DeletingForward && start == open->position) {
        open->removed += step.removed;
        open->removedIndex.known = false;
    } else {
        m_undoSteps.push_back(std::move(step));
    }
    m_undoStepOpen = kind != EditKind::Single;

    m_anchor = m_position = start + bytes.size();
    updateScrollRange();
    ensurePositionVisible(m_position);
    viewport()->update();
    notifySelectionChange();
}

void ReportView::applyStep(UndoStep &step, bool forward)
{
    const QByteArray &before = forward ? step.removed : step.inserted;
    const QByteArray &after = forward ? step.inserted : step.removed;
    PieceIndex &beforeIndex = forward ? step.removedIndex : step.insertedIndex;
    const PieceIndex &afterIndex = forward ? step.insertedIndex : step.removedIndex;
    const bool accessible = QAccessible::isActive();
    const qsizetype utf16Start = accessible ? utf16OffsetOf(step.position) : 0;
    beforeIndex = replaceBytes(step.position, step.position + before.size(), after, &afterIndex);
    if (accessible)
        notifyTextChange(utf16Start, QString::fromUtf8(before), QString::fromUtf8(after));

    m_undoStepOpen = false;
    m_anchor = m_position = step.position + after.size();
    updateScrollRange();
    ensurePositionVisible(m_position);
    viewport()->update();
    notifySelectionChange();
}

void ReportView::insertTyped(QStringView text)
{
    const auto [start, end] = std::minmax({m_anchor, m_position});
    edit(start, end, lineFeedUtf8(text), EditKind::Typing);
}

void ReportView::deleteTowards(qsizetype position, EditKind kind)
{
    const auto [start, end] = std::minmax({m_position, position});
    edit(start, end, QByteArray(), kind);
}

// As a text edit tells a screen reader: what was inserted, removed or replaced, in UTF-16 units.
void ReportView::notifyTextChange(qsizetype start, const QString &removed, const QString &inserted)
{
    const int position = clampedToInt(start);
    if (removed.isEmpty()) {
        QAccessibleTextInsertEvent event(this, position, inserted);
        QAccessible::updateAccessibility(&event);
    } else if (inserted.isEmpty()) {
        QAccessibleTextRemoveEvent event(this, position, removed);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(this, position, removed, inserted);
        QAccessible::updateAccessibility(&event);
    }
}

// The caret, and the selection while there is one or when it ends.
void ReportView::notifySelectionChange()
{
    if (!QAccessible::isActive())
        return;
    QAccessibleTextCursorEvent caret(this, clampedToInt(utf16OffsetOf(m_position)));
    QAccessible::updateAccessibility(&caret);
    if (!hasSelection() && !m_selectionAnnounced)
        return;
    m_selectionAnnounced = hasSelection();
    const auto [start, end] = std::minmax({m_anchor, m_position});
    QAccessibleTextSelectionEvent selection(this, clampedToInt(utf16OffsetOf(start)),
                                            clampedToInt(utf16OffsetOf(end)));
    QAccessible::updateAccessibility(&selection);
}

} // namespace tovrin3
