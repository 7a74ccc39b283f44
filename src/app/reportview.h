// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QTextLayout>

#include <memory>
#include <unordered_map>
#include <vector>

namespace tovrin3 {

// The report box: a read-only text box that only ever grows at its end. It keeps the text as
// UTF-8 with the start of every 32nd line, and lays out only the lines on screen, so a decode run
// costs the same whether the report holds a kilobyte or a long session's megabytes. (A text
// document steps through a tree of every earlier paragraph for each one added, and new memory is
// dear: a run's report in UTF-8 with a sparse line index takes half the fresh pages of UTF-16
// with a full one.)
//
// Lines end with '\n'. Positions count bytes of the UTF-8 text, from 0 to its size, and always
// fall between characters; the selection runs from its anchor to the cursor position.
class ReportView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReportView(QWidget *parent = nullptr);
    ~ReportView() override;

    // Appends the text after what the box holds. The first new line is scrolled to the top of
    // the box; the selection stays where it was.
    void appendText(QStringView text);
    void clear();

    bool isEmpty() const { return m_text.isEmpty(); }
    QString toPlainText() const { return QString::fromUtf8(m_text); }
    qsizetype lineCount() const { return m_lineCount; }
    // The line shown at the top of the box.
    qsizetype firstVisibleLine() const;

    qsizetype anchor() const { return m_anchor; }
    qsizetype position() const { return m_position; }
    void setSelection(qsizetype anchor, qsizetype position);
    QString selectedText() const;
    // The position nearest to a point of the viewport.
    qsizetype positionAt(QPointF point) const;

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
    void selectAll();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    qsizetype lineOf(qsizetype position) const;
    qsizetype lineStart(qsizetype line) const;
    qsizetype lineEnd(qsizetype lineStart) const;
    int columnOf(qsizetype lineStart, qsizetype position) const;
    QTextLayout &layoutOf(qsizetype line) const;
    int lineHeight() const;
    int visibleLineCount() const;
    void updateScrollRange();
    void ensureLineVisible(qsizetype line);
    void moveCursor(qsizetype position, bool keepAnchor);
    bool moveCursorByKey(const QKeyEvent *event);
    qsizetype steppedPosition(Step step) const;
    qsizetype nextPosition(qsizetype position, QTextLayout::CursorMode mode) const;
    qsizetype previousPosition(qsizetype position, QTextLayout::CursorMode mode) const;
    qsizetype positionInLine(qsizetype line, int column) const;
    void selectWordAt(qsizetype position);
    void offerSelection() const;

    QByteArray m_text;
    qsizetype m_lineCount = 1;
    // Where lines 0, 32, 64... start.
    std::vector<qsizetype> m_checkpoints{0};
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    bool m_selectingWithMouse = false;
    // Laid-out lines by their text. Every decode run reports the frames of the runs before it
    // again, so the lines a run shows have nearly always been laid out already.
    mutable std::unordered_map<QString, std::unique_ptr<QTextLayout>> m_layouts;
};

} // namespace tovrin3
