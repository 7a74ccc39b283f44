// SPDX-License-Identifier: GPL-3.0-or-later
// HexToDec on arbitrary text: never fails, and reading stops at the first character that is not
// a hexadecimal digit.
#include "conversions.h"
#include "fuzzcheck.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    FUZZ_REQUIRE(tovrin3::HexToDec(text) == tovrin3::HexToDec(text + u'G'));
    return 0;
}
