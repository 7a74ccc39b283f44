// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportaccessibility.h"
#include "reportview.h"

#include <algorithm>
#include <climits>

namespace tovrin3 {

namespace {

int clampedToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace

ReportAccessibility::ReportAccessibility(ReportView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

QAccessibleInterface *ReportAccessibility::create(const QString &, QObject *object)
{
    if (auto *view = qobject_cast<ReportView *>(object))
        return new ReportAccessibility(view);
    return nullptr;
}

ReportView *ReportAccessibility::view() const
{
    return static_cast<ReportView *>(widget());
}

void *ReportAccessibility::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ReportAccessibility::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

QString ReportAccessibility::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return view()->toPlainText();
    return QAccessibleWidget::text(type);
}

void ReportAccessibility::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || view()->anchor() == view()->position())
        return;
    const auto [start, end] = std::minmax({view()->anchor(), view()->position()});
    *startOffset = clampedToInt(view()->utf16OffsetOf(start));
    *endOffset = clampedToInt(view()->utf16OffsetOf(end));
}

int ReportAccessibility::selectionCount() const
{
    return view()->anchor() == view()->position() ? 0 : 1;
}

// The box has one selection: a new one takes its place.
void ReportAccessibility::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ReportAccessibility::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->setSelection(view()->position(), view()->position());
}

void ReportAccessibility::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->setSelection(view()->positionOfUtf16(startOffset),
                             view()->positionOfUtf16(endOffset));
}

int ReportAccessibility::cursorPosition() const
{
    return clampedToInt(view()->utf16OffsetOf(view()->position()));
}

void ReportAccessibility::setCursorPosition(int position)
{
    const qsizetype at = view()->positionOfUtf16(position);
    view()->setSelection(at, at);
    view()->ensurePositionVisible(at);
}

QString ReportAccessibility::text(int startOffset, int endOffset) const
{
    return view()->textBetween(view()->positionOfUtf16(startOffset),
                               view()->positionOfUtf16(endOffset));
}

std::pair<int, int> ReportAccessibility::lineAround(int offset) const
{
    const qsizetype position = view()->positionOfUtf16(offset);
    const qsizetype endOffset = view()->utf16OffsetOf(view()->lineEndOf(position));
    return {clampedToInt(view()->utf16OffsetOf(view()->lineStartOf(position))),
            clampedToInt(endOffset < view()->utf16Size() ? endOffset + 1 : endOffset)};
}

// Lines are found through the line index; other boundaries look at the whole text.
QString ReportAccessibility::textBeforeOffset(int offset,
                                              QAccessible::TextBoundaryType boundaryType,
                                              int *startOffset, int *endOffset) const
{
    if (boundaryType != QAccessible::LineBoundary)
        return QAccessibleTextInterface::textBeforeOffset(offset, boundaryType, startOffset,
                                                          endOffset);
    const int lineStart = lineAround(offset).first;
    if (lineStart == 0) {
        *startOffset = *endOffset = -1;
        return {};
    }
    std::tie(*startOffset, *endOffset) = lineAround(lineStart - 1);
    return text(*startOffset, *endOffset);
}

QString ReportAccessibility::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int *startOffset, int *endOffset) const
{
    if (boundaryType != QAccessible::LineBoundary)
        return QAccessibleTextInterface::textAfterOffset(offset, boundaryType, startOffset,
                                                         endOffset);
    const int lineEnd = lineAround(offset).second;
    if (lineEnd >= characterCount()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    std::tie(*startOffset, *endOffset) = lineAround(lineEnd);
    return text(*startOffset, *endOffset);
}

QString ReportAccessibility::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                          int *startOffset, int *endOffset) const
{
    if (boundaryType != QAccessible::LineBoundary)
        return QAccessibleTextInterface::textAtOffset(offset, boundaryType, startOffset, endOffset);
    std::tie(*startOffset, *endOffset) = lineAround(offset);
    return text(*startOffset, *endOffset);
}

int ReportAccessibility::characterCount() const
{
    return clampedToInt(view()->utf16Size());
}

QRect ReportAccessibility::characterRect(int offset) const
{
    const QRect rect = view()->characterRect(view()->positionOfUtf16(offset));
    if (rect.isEmpty())
        return {};
    return rect.translated(view()->viewport()->mapToGlobal(QPoint(0, 0)));
}

int ReportAccessibility::offsetAtPoint(const QPoint &point) const
{
    const QPoint inViewport = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(inViewport))
        return -1;
    return clampedToInt(view()->utf16OffsetOf(view()->positionAt(inViewport)));
}

void ReportAccessibility::scrollToSubstring(int startIndex, int)
{
    view()->ensurePositionVisible(view()->positionOfUtf16(startIndex));
}

// The report is plain text: one run without attributes.
QString ReportAccessibility::attributes(int, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

void ReportAccessibility::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, QString());
}

void ReportAccessibility::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void ReportAccessibility::replaceText(int startOffset, int endOffset, const QString &text)
{
    view()->replaceText(view()->positionOfUtf16(startOffset), view()->positionOfUtf16(endOffset),
                        text);
}

} // namespace tovrin3
