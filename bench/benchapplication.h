// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The windows need an application object. Benchmarks run without a display, so the offscreen
// platform is chosen unless the caller set another one. Made once; it lives until the process
// ends, like the benchmark registry itself.
void ensureApplication();
