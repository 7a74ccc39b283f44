// SPDX-License-Identifier: GPL-3.0-or-later
#include "linediagnostics.h"

#include <QIODevice>
#include <QStringList>

#include <algorithm>

namespace tovrin3 {

namespace {

bool isWhiteSpace(QStringView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar character) { return character.isSpace(); });
}

qint64 codePointCount(QStringView text)
{
    return std::count_if(text.begin(), text.end(),
                         [](QChar character) { return !character.isLowSurrogate(); });
}

// Characters a terminal could take as a line break or a command.
bool needsEscape(char16_t character)
{
    return character < 0x20 || (character >= 0x7F && character <= 0x9F) || character == 0x2028 ||
           character == 0x2029;
}

} // namespace

void LineEcho::append(QStringView piece)
{
    if (m_blank)
        m_blank = isWhiteSpace(piece);
    if (m_cutCharacters == 0) {
        qsizetype kept = std::min(EchoLength - m_start.size(), piece.size());
        // A character of two UTF-16 units is kept whole or not at all.
        if (kept > 0 && kept < piece.size() && piece[kept - 1].isHighSurrogate())
            --kept;
        m_start.append(piece.first(kept));
        piece = piece.sliced(kept);
    }
    m_cutCharacters += codePointCount(piece);
}

void LineEcho::clear()
{
    m_start.resize(0);
    m_cutCharacters = 0;
    m_blank = true;
}

LineDiagnostics::LineDiagnostics(QIODevice &device) : m_device(device) {}

void LineDiagnostics::setInputName(QByteArrayView name)
{
    m_inputName = name.toByteArray();
}

void LineDiagnostics::check(const BeaconLine &line, const LineEcho &echo)
{
    switch (line.kind) {
    case BeaconLine::Kind::Frame:
        checkFrame(line, echo);
        break;
    case BeaconLine::Kind::BadTimestamp:
        report(line.lineNumber, u"not a frame (text before \"|\" is not a UTC timestamp)", echo);
        break;
    case BeaconLine::Kind::NotFrame:
        if (line.doubtfulConfidence)
            report(line.lineNumber,
                   QStringLiteral("doubtful frame (confidence %1), left out without "
                                  "--keep-doubtful")
                       .arg(*line.doubtfulConfidence, 0, 'f', 2),
                   echo);
        else if (!echo.isBlank())
            report(line.lineNumber,
                   QStringLiteral("not a frame (%1 %2 after cleaning)")
                       .arg(QString::number(line.cleanedLength),
                            line.cleanedLength == 1 ? u"character" : u"characters"),
                   echo);
        break;
    }
}

// The fields that are not hexadecimal in one diagnostic, then one for each value the frame lacks.
void LineDiagnostics::checkFrame(const BeaconLine &line, const LineEcho &echo)
{
    const QString frame = QString::number(line.frameNumber);
    QString notHexadecimal;
    QStringList lacking;
    checkFields(line.frameText, *line.values, [&](const FieldLayout &field, FieldProblem problem) {
        const QStringView text = line.frameText.sliced(field.offset, field.width);
        switch (problem) {
        case FieldProblem::NotHexadecimal:
            if (!notHexadecimal.isEmpty())
                notHexadecimal += u", ";
            notHexadecimal.append(field.name).append(u' ').append(text);
            break;
        case FieldProblem::MixedSignBits:
            lacking << QStringLiteral("frame %1: %2 %3 has mixed sign bits")
                           .arg(frame, field.name, text);
            break;
        case FieldProblem::NoKillSwitchState:
            lacking << QStringLiteral("frame %1: %2 %3 is above 3").arg(frame, field.name, text);
            break;
        }
    });
    if (!notHexadecimal.isEmpty())
        report(line.lineNumber,
               QStringLiteral("frame %1: not hexadecimal: %2").arg(frame, notHexadecimal), echo);
    for (const QString &reason : std::as_const(lacking))
        report(line.lineNumber, reason, echo);
}

void LineDiagnostics::report(qint64 lineNumber, QStringView reason, const LineEcho &line)
{
    ++m_count;
    m_line.resize(0);
    m_line.append(u':').append(QString::number(lineNumber)).append(u": ").append(reason);
    m_line.append(u": ");
    appendEscaped(line.start());
    if (line.cutCharacters() > 0)
        m_line.append(QStringLiteral(" [... %1 more characters]").arg(line.cutCharacters()));
    m_line.append(u'\n');
    m_pending.append(m_inputName).append(m_line.toUtf8());
}

void LineDiagnostics::flush()
{
    if (m_pending.isEmpty())
        return;
    m_device.write(m_pending);
    m_pending.resize(0);
}

void LineDiagnostics::appendEscaped(QStringView text)
{
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        if (c == u'\\')
            m_line.append(u"\\\\");
        else if (c == u'\t')
            m_line.append(u"\\t");
        else if (c < 0x100 && needsEscape(c))
            m_line.append(QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0')));
        else if (needsEscape(c))
            m_line.append(QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')));
        else
            m_line.append(character);
    }
}

} // namespace tovrin3
