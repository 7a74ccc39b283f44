// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputcontent.h"

#include "audiofile.h"

#include <algorithm>

namespace tovrin3 {

InputContent inputContent(QByteArrayView firstBytes)
{
    // Before the audio check: libsndfile takes some UTF-16 text for MPEG audio.
    if (firstBytes.startsWith("\xFF\xFE") || firstBytes.startsWith("\xFE\xFF"))
        return InputContent::Utf16Text;
    if (firstBytes.isEmpty())
        return InputContent::Utf8Text;
    if (morse::startsLikeAudio(firstBytes))
        return InputContent::Recording;
    if (!firstBytes.first(std::min(firstBytes.size(), TextCheckSize)).contains('\0'))
        return InputContent::Utf8Text;
    return InputContent::Unknown;
}

} // namespace tovrin3
