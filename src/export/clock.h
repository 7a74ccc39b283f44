// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>

namespace tovrin3 {

// Today's date, behind a seam so that tests can fix it.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDate currentDate() const = 0;
};

class SystemClock : public Clock
{
public:
    QDate currentDate() const override { return QDate::currentDate(); }
};

} // namespace tovrin3
