// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>

namespace tovrin3 {

// Which characters end a line.
enum class LineBreaks
{
    Text,        // CR+LF, LF or CR, as files, pipes and pastes have them
    TextDocument // also the paragraph and line separators a text box's raw text holds
};

// Cuts a text that may arrive in pieces of any size into lines. A CR at the end of one piece
// and an LF at the start of the next are one line break, so the lines are the same wherever the
// pieces are cut.
class LineSplitter
{
public:
    explicit LineSplitter(LineBreaks breaks = LineBreaks::Text) : m_breaks(breaks) {}

    // Calls endLine(piece) with the last piece of every line that `text` ends, and
    // continueLine(piece) with what follows the last line break: the start of a line that the
    // next text goes on with, or, when `textEnds`, the last line, which endLine gets instead.
    // Cutting stops when endLine returns false.
    template<typename EndLine, typename ContinueLine>
    void split(QStringView text, bool textEnds, EndLine &&endLine, ContinueLine &&continueLine)
    {
        qsizetype lineStart = 0;
        while (lineStart < text.size()) {
            if (m_afterCarriageReturn) {
                m_afterCarriageReturn = false;
                if (text[lineStart] == u'\n') {
                    ++lineStart;
                    continue;
                }
            }
            const qsizetype lineBreak = indexOfBreak(text, lineStart);
            if (lineBreak == text.size()) {
                if (textEnds)
                    endLine(text.sliced(lineStart));
                else
                    continueLine(text.sliced(lineStart));
                return;
            }
            m_afterCarriageReturn = text[lineBreak] == u'\r';
            if (!endLine(text.sliced(lineStart, lineBreak - lineStart)))
                return;
            lineStart = lineBreak + 1;
        }
    }

private:
    qsizetype indexOfBreak(QStringView text, qsizetype from) const
    {
        const char16_t *const begin = text.utf16();
        const char16_t *const end = begin + text.size();
        const char16_t *at = begin + from;
        if (m_breaks == LineBreaks::Text) {
            while (at != end && *at != u'\n' && *at != u'\r')
                ++at;
        } else {
            while (at != end && *at != u'\n' && *at != u'\r' && *at != u'\u2028' &&
                   *at != u'\u2029')
                ++at;
        }
        return at - begin;
    }

    LineBreaks m_breaks;
    bool m_afterCarriageReturn = false;
};

} // namespace tovrin3
