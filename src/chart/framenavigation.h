#pragma once

#include <QString>

namespace tovrin3 {

// The text of the window's position label, e.g. "3/12" for frame 3 of 12.
QString framePositionText(int position, int maximum);

} // namespace tovrin3
