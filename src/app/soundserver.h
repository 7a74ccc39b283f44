// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tovrin3 {

// Whether a sound server (PulseAudio, or PipeWire in its place) answers, asked without Qt
// Multimedia: Qt's audio back end tries to reach the server once, when first used, and never
// again when none answered then. The window asks Qt for inputs only once this is true. Waits at
// most a quarter of a second for a server that accepts the connection but does not answer.
bool soundServerAnswers();

} // namespace tovrin3
