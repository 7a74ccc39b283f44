// SPDX-License-Identifier: GPL-3.0-or-later
// The conf.ini parser on arbitrary bytes: a setting never reaches across a line end, and a file
// without any "=" changes nothing.
#include "configuration.h"
#include "fuzzcheck.h"

#include <QByteArrayView>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QString defaultFolder = QStringLiteral("/opt/tovrin3/");
    const tovrin3::Configuration configuration = tovrin3::parseConfiguration(bytes, defaultFolder);
    FUZZ_REQUIRE(!configuration.imageFolder.contains(u'\r'));
    FUZZ_REQUIRE(!configuration.imageFolder.contains(u'\n'));
    if (!bytes.contains('=')) {
        FUZZ_REQUIRE(configuration.imageFolder == defaultFolder);
        FUZZ_REQUIRE(!configuration.screenshotButtonVisible.has_value());
    }
    return 0;
}
