// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>

namespace tovrin3 {

// What every program's --version says below its name and version.
inline constexpr QStringView LicenceNotice{
    u"Copyright (C) 2017-2026 NOCALL\n"
    u"License GPL-3.0-or-later <https://gnu.org/licenses/gpl.html>.\n"
    u"This is free software: you are free to change and redistribute it.\n"
    u"There is NO WARRANTY, to the extent permitted by law.\n"};

} // namespace tovrin3
