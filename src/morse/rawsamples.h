// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>

#include <optional>
#include <span>
#include <vector>

namespace tovrin3::morse {

// Raw mono audio as SDR programs write it to a pipe: signed 16-bit little-endian samples, no
// header. The bytes arrive in pieces of any size; a sample cut by a piece's end waits for its
// second byte, so the samples are the same wherever the stream is cut.
class RawSampleDecoder
{
public:
    // The samples the piece completes, scaled to -1 to 1; valid until the next call.
    std::span<const float> decode(QByteArrayView bytes);
    // Whether the stream so far ends in the middle of a sample.
    bool isCutMidSample() const { return m_lowByte.has_value(); }

private:
    std::optional<unsigned char> m_lowByte;
    std::vector<float> m_samples;
};

} // namespace tovrin3::morse
