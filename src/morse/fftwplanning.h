// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>

namespace tovrin3::morse {

// FFTW's planner is not thread-safe: every plan in the program, the demodulator's and the
// window's, is made and destroyed under this lock, since a recording may be copied on a worker
// thread while the Listen window starts.
std::mutex &fftwPlanning();

} // namespace tovrin3::morse
