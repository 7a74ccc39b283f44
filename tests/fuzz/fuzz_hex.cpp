// HexToDec and HexToUnsignLong on arbitrary text: never fail, and the second only undoes the
// 16-bit sign of the first.
#include "conversions.h"
#include "fuzzcheck.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::int32_t value = tovrin3::HexToDec(text);
    const std::int32_t unsignedValue = tovrin3::HexToUnsignLong(text);
    FUZZ_REQUIRE(unsignedValue == (value < 0 ? value + 65536 : value));
    return 0;
}
