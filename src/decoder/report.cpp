// SPDX-License-Identifier: GPL-3.0-or-later
#include "report.h"

#include "conversions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tovrin3 {

namespace {

constexpr QStringView Indent{u"  "};
constexpr QStringView Separator{u"-----------------------"};

using NumberBuffer = std::array<char, 400>;

QLatin1StringView writeCents(long long cents, NumberBuffer &buffer)
{
    char *out = buffer.data();
    if (cents < 0)
        *out++ = '-';
    const long long magnitude = std::llabs(cents);
    out = std::to_chars(out, buffer.data() + buffer.size(), magnitude / 100).ptr;
    *out++ = '.';
    *out++ = static_cast<char>('0' + magnitude % 100 / 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return QLatin1StringView(buffer.data(), out);
}

// A value whose hundredfold is exact (every temperature is a multiple of 1/16) is rounded here,
// halfway cases away from zero; any other value is never exactly halfway, and the correctly
// rounded conversion of the standard library gives the right digits.
QLatin1StringView writeTwoDecimals(double value, NumberBuffer &buffer)
{
    const double scaled = value * 100;
    if (std::fma(value, 100.0, -scaled) == 0 && std::abs(scaled) < 1e15)
        return writeCents(static_cast<long long>(std::round(scaled)), buffer);
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 2);
    QLatin1StringView text(buffer.data(), result.ptr);
    if (text == QLatin1StringView("-0.00"))
        text = text.sliced(1);
    return text;
}

void appendBits(QString &report, std::uint8_t byte)
{
    const std::array<char16_t, 8> digits = bitDigits<char16_t>(byte);
    report.append(QStringView(digits.data(), digits.size()));
}

void appendValueLine(QString &report, QStringView label, double value, QStringView unit,
                     QStringView lineEnd)
{
    report.append(Indent).append(label);
    appendTwoDecimals(report, value);
    report.append(unit).append(lineEnd);
}

void appendBitsLine(QString &report, QStringView label, std::uint8_t byte, QStringView lineEnd)
{
    report.append(Indent).append(label);
    appendBits(report, byte);
    report.append(lineEnd);
}

} // namespace

void appendTwoDecimals(QString &text, double value)
{
    NumberBuffer buffer;
    text.append(writeTwoDecimals(value, buffer));
}

// Every line but the last of the block ends in lineEnds.line; the last one in lineEnds.blockEnd.
void appendFrameReport(QString &report, qint64 frameNumber, QStringView frameText,
                       const FrameValues &values, const ReportLineEnds &lineEnds)
{
    const QStringView lineEnd = lineEnds.line;
    std::array<char, 16> number;
    const char *numberEnd =
        std::to_chars(number.data(), number.data() + number.size(), frameNumber).ptr;
    report.append(u'#').append(QLatin1StringView(number.data(), numberEnd)).append(u": ");
    report.append(frameText).append(lineEnd).append(Separator).append(lineEnd);
    if (values.batteryTemperature)
        appendValueLine(report, QStringView(u"Battery Temperature: "), *values.batteryTemperature,
                        QStringView(u" C"), lineEnd);
    if (values.comTemperature)
        appendValueLine(report, QStringView(u"COM Temperature: "), *values.comTemperature,
                        QStringView(u" C"), lineEnd);
    appendValueLine(report, QStringView(u"Battery Voltage: "), values.batteryVoltage,
                    QStringView(u" V"), lineEnd);
    appendBitsLine(report, QStringView(u"Mission: "), values.mission, lineEnd);
    const auto state = killSwitchStateText(values.killSwitch);
    appendBitsLine(report, QStringView(u"Debug: "), values.debug,
                   state ? lineEnd : lineEnds.blockEnd);
    if (state) {
        report.append(Indent).append(QStringView(u"Kill Switch: "));
        appendBits(report, values.killSwitch);
        report.append(*state).append(lineEnds.blockEnd);
    }
}

} // namespace tovrin3
