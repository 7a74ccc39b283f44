// SPDX-License-Identifier: GPL-3.0-or-later
#include "framerecords.h"

#include "conversions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string_view>

namespace tovrin3 {

namespace {

enum Column : std::size_t
{
    SourceColumn,
    FrameColumn,
    TimestampColumn,
    FrameTextColumn,
    BatteryTemperatureColumn,
    ComTemperatureColumn,
    BatteryVoltageColumn,
    MissionBitsColumn,
    DebugValueColumn,
    DebugBitsColumn,
    KillSwitchValueColumn,
    KillSwitchBitsColumn,
    MainStateColumn,
    SubStateColumn,
    ConfidenceColumn,
    ColumnCount
};

constexpr std::array<std::string_view, ColumnCount> ColumnNames{"source",
                                                                "frame",
                                                                "timestamp",
                                                                "frame_text",
                                                                "battery_temperature_c",
                                                                "com_temperature_c",
                                                                "battery_voltage_v",
                                                                "mission_bits",
                                                                "debug_value",
                                                                "debug_bits",
                                                                "kill_switch_value",
                                                                "kill_switch_bits",
                                                                "main_state",
                                                                "sub_state",
                                                                "confidence"};

// Room for everything of a record but its frame text, with every number at the longest a double
// can be written; each UTF-16 unit of the text takes at most six bytes more ("\u001F").
constexpr qsizetype RecordRoomWithoutText = 2048;
constexpr qsizetype MaxBytesPerTextUnit = 6;

using BitText = std::array<char, 8>;

std::string_view switchText(bool on)
{
    return on ? "ON" : "OFF";
}

bool needsCsvQuotes(QStringView text)
{
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

// Writes one record straight into the end of the output, which grows once to hold the longest
// record this one can be and is cut back to what was written: no allocation per field.
class RecordWriter
{
public:
    RecordWriter(QByteArray &output, qsizetype textSize) : m_output(output)
    {
        const qsizetype start = output.size();
        output.resize(start + RecordRoomWithoutText + MaxBytesPerTextUnit * textSize);
        m_at = output.data() + start;
        m_end = output.data() + output.size();
    }

    void finish() { m_output.resize(m_at - m_output.constData()); }

    void put(char character) { *m_at++ = character; }
    void put(std::string_view text) { m_at = std::copy(text.begin(), text.end(), m_at); }
    void put(QLatin1StringView text) { m_at = std::copy(text.begin(), text.end(), m_at); }
    void put(const BitText &bits) { m_at = std::copy(bits.begin(), bits.end(), m_at); }
    void putInteger(qint64 value) { m_at = std::to_chars(m_at, m_end, value).ptr; }

    // The shortest decimal text that reads back as the same double, never with an exponent.
    void putNumber(double value)
    {
        m_at = std::to_chars(m_at, m_end, value, std::chars_format::fixed).ptr;
    }

    // Writes the text as UTF-8 through Qt's encoder; each byte goes through `putByte`, which may
    // escape an ASCII character. Bytes of a multi-byte sequence are never ASCII.
    template<typename PutByte> void putText(QStringView text, PutByte putByte)
    {
        const QByteArray bytes = text.toUtf8();
        for (const char byte : bytes)
            putByte(*this, byte);
    }

private:
    QByteArray &m_output;
    char *m_at = nullptr;
    char *m_end = nullptr;
};

struct CsvFormat
{
    static void startRecord(RecordWriter &) {}
    static void startField(RecordWriter &writer, Column, bool first = false)
    {
        if (!first)
            writer.put(',');
    }
    static void putMissing(RecordWriter &) {}
    template<typename Text> static void putPlainText(RecordWriter &writer, const Text &text)
    {
        writer.put(text);
    }
    static void putText(RecordWriter &writer, QStringView text)
    {
        const bool quoted = needsCsvQuotes(text);
        if (quoted)
            writer.put('"');
        writer.putText(text, [](RecordWriter &out, char character) {
            if (character == '"')
                out.put('"');
            out.put(character);
        });
        if (quoted)
            writer.put('"');
    }
    static void endRecord(RecordWriter &writer) { writer.put('\n'); }
};

struct JsonFormat
{
    static void startRecord(RecordWriter &writer) { writer.put('{'); }
    static void startField(RecordWriter &writer, Column column, bool first = false)
    {
        if (!first)
            writer.put(',');
        writer.put('"');
        writer.put(ColumnNames[column]);
        writer.put(std::string_view("\":"));
    }
    static void putMissing(RecordWriter &writer) { writer.put(std::string_view("null")); }
    // Timestamps, bit texts and states hold nothing that needs escaping.
    template<typename Text> static void putPlainText(RecordWriter &writer, const Text &text)
    {
        writer.put('"');
        writer.put(text);
        writer.put('"');
    }
    static void putText(RecordWriter &writer, QStringView text)
    {
        writer.put('"');
        writer.putText(text, [](RecordWriter &out, char character) {
            if (character == '"' || character == '\\') {
                out.put('\\');
                out.put(character);
            } else if (static_cast<unsigned char>(character) < 0x20) {
                constexpr std::string_view HexDigits = "0123456789ABCDEF";
                out.put(std::string_view("\\u00"));
                out.put(HexDigits[static_cast<std::size_t>(character >> 4)]);
                out.put(HexDigits[static_cast<std::size_t>(character & 0xF)]);
            } else {
                out.put(character);
            }
        });
        writer.put('"');
    }
    static void endRecord(RecordWriter &writer) { writer.put(std::string_view("}\n")); }
};

template<typename Format>
void putOptionalNumber(RecordWriter &writer, const std::optional<double> &value)
{
    if (value)
        writer.putNumber(*value);
    else
        Format::putMissing(writer);
}

// An empty state is one the byte does not have.
template<typename Format> void putOptionalState(RecordWriter &writer, std::string_view state)
{
    if (state.empty())
        Format::putMissing(writer);
    else
        Format::putPlainText(writer, state);
}

template<typename Format> void appendRecord(QByteArray &output, const FrameRecordFields &record)
{
    const FrameValues &values = record.values;
    const bool withSource = record.source.has_value();
    RecordWriter writer(output, record.text.size() + (withSource ? record.source->size() : 0));
    Format::startRecord(writer);
    if (withSource) {
        Format::startField(writer, SourceColumn, true);
        Format::putText(writer, *record.source);
    }
    Format::startField(writer, FrameColumn, !withSource);
    writer.putInteger(record.number);
    Format::startField(writer, TimestampColumn);
    if (record.timestamp.isEmpty())
        Format::putMissing(writer);
    else
        Format::putPlainText(writer, record.timestamp);
    Format::startField(writer, FrameTextColumn);
    Format::putText(writer, record.text);
    Format::startField(writer, BatteryTemperatureColumn);
    putOptionalNumber<Format>(writer, values.batteryTemperature);
    Format::startField(writer, ComTemperatureColumn);
    putOptionalNumber<Format>(writer, values.comTemperature);
    Format::startField(writer, BatteryVoltageColumn);
    writer.putNumber(values.batteryVoltage);
    Format::startField(writer, MissionBitsColumn);
    Format::putPlainText(writer, bitDigits<char>(values.mission));
    Format::startField(writer, DebugValueColumn);
    writer.putInteger(values.debug);
    Format::startField(writer, DebugBitsColumn);
    Format::putPlainText(writer, bitDigits<char>(values.debug));
    Format::startField(writer, KillSwitchValueColumn);
    writer.putInteger(values.killSwitch);
    Format::startField(writer, KillSwitchBitsColumn);
    Format::putPlainText(writer, bitDigits<char>(values.killSwitch));
    const std::optional<KillSwitchState> state = killSwitchState(values.killSwitch);
    Format::startField(writer, MainStateColumn);
    putOptionalState<Format>(writer, state ? switchText(state->mainOn) : std::string_view());
    Format::startField(writer, SubStateColumn);
    putOptionalState<Format>(writer, state ? switchText(state->subOn) : std::string_view());
    if (record.withConfidence) {
        Format::startField(writer, ConfidenceColumn);
        putOptionalNumber<Format>(writer, record.confidence);
    }
    Format::endRecord(writer);
    writer.finish();
}

} // namespace

void appendCsvHeader(QByteArray &output, bool withSource, bool withConfidence)
{
    const std::size_t first = withSource ? SourceColumn : FrameColumn;
    const std::size_t end = withConfidence ? ColumnCount : ConfidenceColumn;
    for (std::size_t column = first; column < end; ++column) {
        if (column != first)
            output.append(',');
        output.append(ColumnNames[column].data(), qsizetype(ColumnNames[column].size()));
    }
    output.append('\n');
}

void appendCsvRecord(QByteArray &output, const FrameRecordFields &record)
{
    appendRecord<CsvFormat>(output, record);
}

void appendJsonRecord(QByteArray &output, const FrameRecordFields &record)
{
    appendRecord<JsonFormat>(output, record);
}

} // namespace tovrin3
