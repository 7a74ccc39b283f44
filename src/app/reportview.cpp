// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

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

} // namespace

ReportView::ReportView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
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
    qsizetype lineEnd = m_text.size() - 1;
    // A surrogate without its partner is no character: it becomes U+FFFD, not a question mark.
    QStringEncoder toUtf8(QStringEncoder::Utf8);
    m_text.append(toUtf8.encode(text));
    while ((lineEnd = m_text.indexOf('\n', lineEnd + 1)) >= 0) {
        if (m_lineCount % LinesPerCheckpoint == 0)
            m_checkpoints.push_back(lineEnd + 1);
        ++m_lineCount;
    }

    updateScrollRange();
    verticalScrollBar()->setValue(clampedToInt(firstNewLine));
    viewport()->update();
}

// The laid-out lines stay: they still hold for the same font.
void ReportView::clear()
{
    m_text = QByteArray();
    m_lineCount = 1;
    m_checkpoints = {0};
    m_anchor = 0;
    m_position = 0;
    updateScrollRange();
    viewport()->update();
}

qsizetype ReportView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

void ReportView::setSelection(qsizetype anchor, qsizetype position)
{
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_text.size());
    m_position = std::clamp<qsizetype>(position, 0, m_text.size());
    viewport()->update();
}

QString ReportView::selectedText() const
{
    const auto [start, end] = std::minmax(m_anchor, m_position);
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

void ReportView::copy() const
{
    if (m_anchor != m_position)
        QApplication::clipboard()->setText(selectedText());
}

void ReportView::selectAll()
{
    m_anchor = 0;
    m_position = m_text.size();
    viewport()->update();
    offerSelection();
}

bool ReportView::event(QEvent *event)
{
    // Copying and selecting all belong to the box while it has the focus, whatever the window's
    // shortcuts.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
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
    const auto [selectionStart, selectionEnd] = std::minmax(m_anchor, m_position);
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
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (moveCursorByKey(event))
        return;
    QAbstractScrollArea::keyPressEvent(event);
}

void ReportView::mousePressEvent(QMouseEvent *event)
{
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

void ReportView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &ReportView::copy);
    copyAction->setEnabled(m_anchor != m_position);
    menu.addSeparator();
    QAction *selectAllAction =
        menu.addAction(tr("Select All"), QKeySequence::SelectAll, this, &ReportView::selectAll);
    selectAllAction->setEnabled(!isEmpty());
    menu.exec(event->globalPos());
}

// The box scrolls by whole lines, and each line is laid out once, so repainting is cheaper than
// moving pixels.
void ReportView::scrollContentsBy(int, int)
{
    viewport()->update();
}

qsizetype ReportView::lineOf(qsizetype position) const
{
    const auto after = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), position);
    const auto checkpoint = std::distance(m_checkpoints.begin(), after) - 1;
    qsizetype line = checkpoint * LinesPerCheckpoint;
    for (qsizetype end = m_text.indexOf('\n', m_checkpoints[static_cast<std::size_t>(checkpoint)]);
         end >= 0 && end < position; end = m_text.indexOf('\n', end + 1))
        ++line;
    return line;
}

qsizetype ReportView::lineStart(qsizetype line) const
{
    qsizetype start = m_checkpoints[static_cast<std::size_t>(line / LinesPerCheckpoint)];
    for (qsizetype skipped = line % LinesPerCheckpoint; skipped > 0; --skipped)
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
    ensureLineVisible(lineOf(position));
    viewport()->update();
    if (keepAnchor)
        offerSelection();
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
    viewport()->update();
}

// On X11 and Wayland a selection is offered for pasting with the middle button.
void ReportView::offerSelection() const
{
    QClipboard *clipboard = QApplication::clipboard();
    if (m_anchor != m_position && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

} // namespace tovrin3
