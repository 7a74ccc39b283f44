// SPDX-License-Identifier: GPL-3.0-or-later
#include "fftwplanning.h"

namespace tovrin3::morse {

std::mutex &fftwPlanning()
{
    static std::mutex planning;
    return planning;
}

} // namespace tovrin3::morse
