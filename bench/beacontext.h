#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tovrin3 {

// A beacon text as a station would copy it: every line a header, a space and one frame of
// plausible, varied values; the same text on every call.
QByteArray beaconText(int frameCount, QByteArrayView lineEnd);

} // namespace tovrin3
