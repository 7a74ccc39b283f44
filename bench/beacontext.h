// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tovrin3 {

// A beacon text as a station would copy it: every line a header, a space and one frame of
// plausible, varied values; the same text for the same seed, and texts of the same size for
// different seeds.
QByteArray beaconText(int frameCount, QByteArrayView lineEnd, unsigned seed = 3);

} // namespace tovrin3
