// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The ten-year station log of a million frames the history benchmarks read, generated once per
// run in a temporary folder.
const QString &generatedLog();
