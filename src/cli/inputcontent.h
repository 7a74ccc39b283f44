// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>

namespace tovrin3 {

// What an input holds, told by its first bytes whatever the input is (a file, a pipe, a FIFO).
enum class InputContent
{
    Utf8Text,
    Utf16Text, // begins with a byte-order mark, which tells the byte order
    Recording, // audio, even damaged audio
    Unknown    // neither: binary data, raw samples without a header
};

// Text holds no NUL byte in this many first bytes; raw samples and other binary data do.
inline constexpr qsizetype TextCheckSize = 4096;
// A recording's first bytes tell it from text once this many have come (or the input ended).
inline constexpr qsizetype AudioCheckSize = 64;

// Text is UTF-8 (a byte-order mark allowed), or UTF-16 with a byte-order mark, with no NUL byte
// in its first TextCheckSize bytes; an empty input is empty text.
InputContent inputContent(QByteArrayView firstBytes);

} // namespace tovrin3
