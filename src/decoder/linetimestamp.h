// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLatin1StringView>
#include <QStringView>

#include <array>

namespace tovrin3 {

// "2026-12-06T18:57:44.123456789Z", the longest time a line may begin with.
inline constexpr qsizetype MaxTimestampLength = 30;

// The UTC time a frame was received, as telemetry databases write it before the frame line:
// date, "T" or a space, time to the second, optionally "." and one to nine digits of fraction,
// then "Z". "T" and "Z" may also be lower case. Kept in ISO 8601 form with "T" and "Z".
class Timestamp
{
public:
    bool isEmpty() const { return m_size == 0; }
    QLatin1StringView text() const { return QLatin1StringView(m_text.data(), m_size); }
    void clear() { m_size = 0; }

    // Reads the whole of `text` as a timestamp. Returns false, and leaves the timestamp empty,
    // when it is not one or names no real time (month 13, 30 February, hour 24 and the like).
    bool read(QStringView text);

private:
    std::array<char, MaxTimestampLength> m_text{};
    qsizetype m_size = 0;
};

} // namespace tovrin3
