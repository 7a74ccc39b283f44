// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beaconreader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QIODevice;

namespace tovrin3 {

// A diagnostic shows this many UTF-16 units of its line at most.
inline constexpr qsizetype EchoLength = 200;

// The start of one input line as received, kept to be shown in a diagnostic, however long the
// line grows.
class LineEcho
{
public:
    // Adds the next piece of the line.
    void append(QStringView piece);
    void clear();

    QStringView start() const { return m_start; }
    // Characters (code points) of the line beyond start().
    qint64 cutCharacters() const { return m_cutCharacters; }
    // True while the line holds nothing but white space.
    bool isBlank() const { return m_blank; }

private:
    QString m_start;
    qint64 m_cutCharacters = 0;
    bool m_blank = true;
};

// The problems the strict check finds, one line each on the diagnostics device:
// "name:line: reason: line as received", control characters escaped so that each stays one
// line, a long line cut with a marker. Collected and written out by flush().
class LineDiagnostics
{
public:
    explicit LineDiagnostics(QIODevice &device);

    // The name the diagnostics give for the input that follows; "-" for standard input.
    void setInputName(QByteArrayView name);

    // The strict check of one line: a line that is no frame (blank lines aside), a frame with
    // fields that are not hexadecimal, a temperature without value, a kill-switch byte without
    // state.
    void check(const BeaconLine &line, const LineEcho &echo);
    void report(qint64 lineNumber, QStringView reason, const LineEcho &line);
    // A failed write is not reported: there is nowhere left to report it.
    void flush();

    // Diagnostics given since the start, over all inputs.
    qint64 count() const { return m_count; }

private:
    void checkFrame(const BeaconLine &line, const LineEcho &echo);
    void appendEscaped(QStringView text);

    QIODevice &m_device;
    QByteArray m_inputName;
    QString m_line;
    QByteArray m_pending;
    qint64 m_count = 0;
};

} // namespace tovrin3
