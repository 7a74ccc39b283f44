// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawsamples.h"

#include <cstdint>

namespace tovrin3::morse {

namespace {

float sampleFrom(unsigned char low, unsigned char high)
{
    const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    return static_cast<float>(value) / 32768.0F;
}

} // namespace

std::span<const float> RawSampleDecoder::decode(QByteArrayView bytes)
{
    m_samples.clear();
    qsizetype next = 0;
    if (m_lowByte && !bytes.isEmpty()) {
        m_samples.push_back(sampleFrom(*m_lowByte, static_cast<unsigned char>(bytes[0])));
        m_lowByte.reset();
        next = 1;
    }
    for (; next + 1 < bytes.size(); next += 2)
        m_samples.push_back(sampleFrom(static_cast<unsigned char>(bytes[next]),
                                       static_cast<unsigned char>(bytes[next + 1])));
    if (next < bytes.size())
        m_lowByte = static_cast<unsigned char>(bytes[next]);
    return m_samples;
}

} // namespace tovrin3::morse
