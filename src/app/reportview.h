// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QTextLayout>

class QMenu;
class QMimeData;

#include <memory>
#include <unordered_map>
#include <vector>

namespace tovrin3 {

// The report box: a text box the user may edit, to which every decode run appends its report at
// the end. It keeps the text as UTF-8 with the start of at least every 32nd line, and lays out
// only the lines on screen, so a decode run or a keystroke costs the same whether the report
// holds a kilobyte or a long session's megabytes. (A text document steps through a tree of every
// earlier paragraph for each one added, and new memory is dear: a run's report in UTF-8 with a
// sparse line index takes half the fresh pages of UTF-16 with a full one.)
//
// Lines end with '\n'. Positions count bytes of the UTF-8 text, from 0 to its size, and always
// fall between characters; the selection runs from its anchor to the cursor position. The
// accessible text counts UTF-16 units instead, as screen readers expect.
class ReportView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReportView(QWidget *parent = nullptr);
    ~ReportView() override;

    // Appends the text after what the box holds. The first new line is scrolled to the top of
    // the box; the cursor and the selection stay where they were, and nothing is added to the
    // undo history.
    void appendText(QStringView text);
    // Empties the box and forgets its undo history.
    void clear();

    bool isEmpty() const { return m_text.isEmpty(); }
    QString toPlainText() const { return QString::fromUtf8(m_text); }
    qsizetype lineCount() const { return m_lineCount; }
    // The line shown at the top of the box.
    qsizetype firstVisibleLine() const;

    qsizetype anchor() const { return m_anchor; }
    qsizetype position() const { return m_position; }
    // A position inside a character moves to the character's start.
    void setSelection(qsizetype anchor, qsizetype position);
    QString selectedText() const;
    // The position nearest to a point of the viewport.
    qsizetype positionAt(QPointF point) const;

    // The text as the accessible interface counts it: offsets in UTF-16 units.
    qsizetype utf16Size() const { return m_utf16Size; }
    qsizetype utf16OffsetOf(qsizetype position) const;
    // The position of a UTF-16 offset; one inside a surrogate pair falls back to the pair's start.
    qsizetype positionOfUtf16(qsizetype offset) const;
    QString textBetween(qsizetype start, qsizetype end) const;
    // The line a position is on, from 0.
    qsizetype lineNumberOf(qsizetype position) const { return lineOf(position); }
    // Where the line's text starts and ends, in positions.
    qsizetype lineStartOf(qsizetype position) const { return lineStart(lineOf(position)); }
    qsizetype lineEndOf(qsizetype position) const { return lineEnd(lineStartOf(position)); }
    // The rectangle of the character at that position in viewport coordinates; empty when its
    // line is not on screen.
    QRect characterRect(qsizetype position) const;
    void ensurePositionVisible(qsizetype position);

    // The user's edit: the text between the positions replaced, one undo step. Line ends of any
    // kind become '\n'.
    void replaceText(qsizetype start, qsizetype end, QStringView text);

    bool isUndoAvailable() const { return !m_undoSteps.empty(); }
    bool isRedoAvailable() const { return !m_redoSteps.empty(); }
    // The context menu's commands for the box as it stands, each action named after its slot.
    QMenu *createContextMenu();

    // A step of the cursor keys.
    enum class Step
    {
        NextCharacter,
        PreviousCharacter,
        NextWord,
        PreviousWord,
        NextLine,
        PreviousLine,
        NextPage,
        PreviousPage,
        LineStart,
        LineEnd,
        DocumentStart,
        DocumentEnd,
    };

public slots:
    void copy() const;
    void cut();
    void paste();
    void selectAll();
    void undo();
    void redo();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A line start the index keeps, with what comes before it counted in lines and UTF-16 units.
    struct Checkpoint
    {
        qsizetype position;
        qsizetype line;
        qsizetype utf16;
    };
    // How an edit may join the undo step before it: typing on, or deleting on with the same key.
    enum class EditKind
    {
        Single,
        Typing,
        DeletingBackward,
        DeletingForward,
    };
    // What a piece of the text holds: its line ends and UTF-16 units, and when known, the line
    // starts the index kept inside it, counted from the piece's start. Undoing the removal of a
    // long report puts those back instead of reading the report again.
    struct PieceIndex
    {
        qsizetype lines = 0;
        qsizetype utf16 = 0;
        std::vector<Checkpoint> lineStarts;
        bool known = false;
    };
    // The bytes an edit removed at a position and the bytes it put there instead.
    struct UndoStep
    {
        qsizetype position;
        QByteArray removed;
        QByteArray inserted;
        EditKind kind;
        PieceIndex removedIndex = {};
        PieceIndex insertedIndex = {};
    };

    qsizetype lineOf(qsizetype position) const;
    qsizetype lineStart(qsizetype line) const;
    qsizetype lineEnd(qsizetype lineStart) const;
    int columnOf(qsizetype lineStart, qsizetype position) const;
    QTextLayout &layoutOf(qsizetype line) const;
    int lineHeight() const;
    int visibleLineCount() const;
    void updateScrollRange();
    // After an append to a text that ended at oldEnd, with oldTop the line then shown first.
    void updateChangedRows(qsizetype oldTop, qsizetype oldEnd);
    void ensureLineVisible(qsizetype line);
    void moveCursor(qsizetype position, bool keepAnchor);
    bool moveCursorByKey(const QKeyEvent *event);
    bool editByKey(const QKeyEvent *event);
    qsizetype steppedPosition(Step step) const;
    qsizetype nextPosition(qsizetype position, QTextLayout::CursorMode mode) const;
    qsizetype previousPosition(qsizetype position, QTextLayout::CursorMode mode) const;
    qsizetype positionInLine(qsizetype line, int column) const;
    void selectWordAt(qsizetype position);
    void offerSelection() const;
    QMimeData *selectionData() const;
    bool hasSelection() const { return m_anchor != m_position; }
    qsizetype characterStart(qsizetype position) const;

    std::vector<Checkpoint>::const_iterator checkpointBefore(qsizetype position) const;
    // Replaces the bytes between the positions and keeps the line index up to date, touching
    // only the lines around the edit (or taking the bytes' index when known) and shifting the
    // index entries after it. Returns the index of the bytes removed.
    PieceIndex replaceBytes(qsizetype start, qsizetype end, const QByteArray &bytes,
                            const PieceIndex *bytesIndex = nullptr);
    // The user's edit of the selection or of the text beside the cursor, recorded for undo.
    void edit(qsizetype start, qsizetype end, const QByteArray &bytes, EditKind kind);
    // Applies an undo step's bytes in one direction and leaves the cursor after them.
    void applyStep(UndoStep &step, bool forward);
    void insertTyped(QStringView text);
    void deleteTowards(qsizetype position, EditKind kind);
    void notifyTextChange(qsizetype start, const QString &removed, const QString &inserted);
    void notifySelectionChange();

    QByteArray m_text;
    qsizetype m_lineCount = 1;
    qsizetype m_utf16Size = 0;
    // Line starts in order, the text's start first, at most 32 lines apart.
    std::vector<Checkpoint> m_checkpoints{{0, 0, 0}};
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    bool m_selectingWithMouse = false;
    // Whether a screen reader was last told of a selection, so that it hears when it ends.
    bool m_selectionAnnounced = false;
    // An append paints only the rows it changed, not all that the scroll to it would.
    bool m_scrollingWithoutRepaint = false;
    std::vector<UndoStep> m_undoSteps;
    std::vector<UndoStep> m_redoSteps;
    // Whether the next typed character or deletion may join the last undo step: not after the
    // cursor was moved.
    bool m_undoStepOpen = false;
    // Laid-out lines by their text. Every decode run reports the frames of the runs before it
    // again, so the lines a run shows have nearly always been laid out already.
    mutable std::unordered_map<QString, std::unique_ptr<QTextLayout>> m_layouts;
};

} // namespace tovrin3
