// SPDX-License-Identifier: GPL-3.0-or-later
#include "logexport.h"

#include "framerecords.h"
#include "normalisation.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>

#include <charconv>
#include <cmath>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

constexpr qsizetype FlushSize = 64 * 1024;
constexpr qint64 DayMs = 86'400'000;

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without a time zone look-up per
// frame.
void civilFromDays(qint64 days, qint64 &year, unsigned &month, unsigned &day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<qint64>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

void putDigits(UtcText &out, qint64 value, int width)
{
    for (int at = width - 1; at >= 0; --at) {
        out.text[std::size_t(out.size + at)] = char('0' + value % 10);
        value /= 10;
    }
    out.size += width;
}

bool flushFull(QByteArray &buffer, QIODevice &output, bool force = false)
{
    if (buffer.size() < FlushSize && !force)
        return true;
    const bool written = output.write(buffer) == buffer.size();
    buffer.clear();
    return written;
}

} // namespace

std::optional<qint64> utcTimeFromText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QString iso = trimmed;
    if (iso.size() > 10 && iso[10] == u' ')
        iso[10] = u'T';
    QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    // No zone given: the time is UTC, not local.
    if (time.timeSpec() == Qt::LocalTime)
        time = QDateTime(time.date(), time.time(), Qt::UTC);
    return time.toMSecsSinceEpoch();
}

UtcText utcText(qint64 timeMs)
{
    qint64 days = timeMs / DayMs;
    qint64 inDay = timeMs % DayMs;
    if (inDay < 0) {
        inDay += DayMs;
        --days;
    }
    qint64 year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    UtcText out;
    if (year < 0 || year > 9999) {
        const QByteArray iso = QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC)
                                   .toString(Qt::ISODateWithMs)
                                   .toLatin1()
                                   .left(qsizetype(out.text.size()));
        std::copy(iso.begin(), iso.end(), out.text.begin());
        out.size = iso.size();
        return out;
    }
    putDigits(out, year, 4);
    out.text[std::size_t(out.size++)] = '-';
    putDigits(out, month, 2);
    out.text[std::size_t(out.size++)] = '-';
    putDigits(out, day, 2);
    out.text[std::size_t(out.size++)] = 'T';
    putDigits(out, inDay / 3'600'000, 2);
    out.text[std::size_t(out.size++)] = ':';
    putDigits(out, inDay / 60'000 % 60, 2);
    out.text[std::size_t(out.size++)] = ':';
    putDigits(out, inDay / 1000 % 60, 2);
    if (inDay % 1000 != 0) {
        out.text[std::size_t(out.size++)] = '.';
        putDigits(out, inDay % 1000, 3);
    }
    out.text[std::size_t(out.size++)] = 'Z';
    return out;
}

LogExportOutcome writeLoggedFrames(history::HistoryLog &log, const history::TimeRange &range,
                                   OutputFormat format, bool keepDoubtful, QIODevice &output)
{
    QByteArray buffer;
    buffer.reserve(FlushSize + 4096);
    bool writeFailed = false;
    bool read = false;
    if (format == OutputFormat::Report) {
        // The report is the decoding's own, of the frame lines in time order.
        DecodeSettings settings;
        settings.format = OutputFormat::Report;
        BeaconStreamDecoder decoder(output, settings);
        QString line = BeaconHeader.toString() + u' ';
        const qsizetype headerSize = line.size();
        read = log.forEachFrame(
            range, keepDoubtful,
            [&](const history::LoggedFrame &frame) {
                line.resize(headerSize);
                line += frame.digits;
                writeFailed = !decoder.writeLine(line, std::nullopt) || !decoder.flush();
                return !writeFailed;
            },
            false);
        writeFailed = writeFailed || !decoder.finish();
    } else {
        if (format == OutputFormat::Csv)
            appendCsvHeader(buffer, true, keepDoubtful);
        qint64 number = 0;
        std::optional<qint64> previousMs;
        QString sources;
        read = log.forEachFrame(
            range, keepDoubtful,
            [&](const history::LoggedFrame &frame) {
                if (frame.digits.size() != FrameLength)
                    return true;
                number = previousMs && frame.receivedMs - *previousMs <= history::PassGapMs
                             ? number + 1
                             : 1;
                previousMs = frame.receivedMs;
                sources =
                    frame.sources.size() == 1 ? frame.sources.front() : frame.sources.join(u", "_s);
                const UtcText timestamp = utcText(frame.receivedMs);
                FrameRecordFields record{
                    number,  timestamp.view(), frame.digits,    decodeFields(frame.digits),
                    sources, keepDoubtful,     frame.confidence};
                if (format == OutputFormat::Csv)
                    appendCsvRecord(buffer, record);
                else
                    appendJsonRecord(buffer, record);
                writeFailed = !flushFull(buffer, output);
                return !writeFailed;
            },
            keepDoubtful);
        writeFailed = writeFailed || !flushFull(buffer, output, true);
    }
    if (writeFailed)
        return LogExportOutcome::WriteFailed;
    return read ? LogExportOutcome::Written : LogExportOutcome::ReadFailed;
}

LogExportOutcome writePasses(history::HistoryLog &log, const history::TimeRange &range,
                             OutputFormat format, QIODevice &output)
{
    const std::optional<std::vector<history::Pass>> passes = log.passes(range);
    if (!passes)
        return LogExportOutcome::ReadFailed;
    QByteArray buffer;
    const auto number = [](std::optional<double> value) {
        if (!value)
            return QByteArray();
        std::array<char, 64> text{};
        const auto end =
            std::to_chars(text.data(), text.data() + text.size(), *value, std::chars_format::fixed)
                .ptr;
        return QByteArray(text.data(), end - text.data());
    };
    const auto csvText = [](const QString &text) {
        QByteArray bytes = text.toUtf8();
        if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
            !bytes.contains('\r'))
            return bytes;
        return '"' + bytes.replace("\"", "\"\"") + '"';
    };
    const auto jsonText = [](const QString &text) {
        QByteArray out = "\"";
        for (const char c : text.toUtf8()) {
            if (c == '"' || c == '\\')
                out += '\\', out += c;
            else if (static_cast<unsigned char>(c) < 0x20)
                out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += c;
        }
        return out + '"';
    };
    if (format == OutputFormat::Csv)
        buffer += "start,end,frames,battery_voltage_min_v,battery_voltage_max_v,sources\n";
    for (const history::Pass &pass : *passes) {
        const QByteArray start(utcText(pass.startMs).view().data(), utcText(pass.startMs).size);
        const QByteArray end(utcText(pass.endMs).view().data(), utcText(pass.endMs).size);
        const QString sources = pass.sources.join(u", "_s);
        switch (format) {
        case OutputFormat::Csv:
            buffer += start + ',' + end + ',' + QByteArray::number(pass.frames) + ',' +
                      number(pass.minBatteryVoltage) + ',' + number(pass.maxBatteryVoltage) + ',' +
                      csvText(sources) + '\n';
            break;
        case OutputFormat::Json: {
            const QByteArray low = number(pass.minBatteryVoltage);
            const QByteArray high = number(pass.maxBatteryVoltage);
            buffer += "{\"start\":\"" + start + "\",\"end\":\"" + end +
                      "\",\"frames\":" + QByteArray::number(pass.frames) +
                      ",\"battery_voltage_min_v\":" + (low.isEmpty() ? "null" : low) +
                      ",\"battery_voltage_max_v\":" + (high.isEmpty() ? "null" : high) +
                      ",\"sources\":" + jsonText(sources) + "}\n";
            break;
        }
        case OutputFormat::Report:
            buffer += start + "  " + end + "  " + QByteArray::number(pass.frames) +
                      (pass.frames == 1 ? " frame\n" : " frames\n");
            break;
        }
        if (!flushFull(buffer, output))
            return LogExportOutcome::WriteFailed;
    }
    return flushFull(buffer, output, true) ? LogExportOutcome::Written
                                           : LogExportOutcome::WriteFailed;
}

} // namespace tovrin3
