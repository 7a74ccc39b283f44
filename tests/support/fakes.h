// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the program's seams to the outside world, shared by the tests.
#include "clock.h"
#include "processstarter.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace tovrin3::testing {

// A clock that always shows the same day, 5 December 2026 unless a test moves it.
class FixedClock : public Clock
{
public:
    QDate date{2026, 12, 5};
    QDate currentDate() const override { return date; }
};

// Starts nothing: records each command line (the program first) and answers as told.
class RecordingStarter : public ProcessStarter
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override;

    QStringList programs() const;
    QStringList lastArguments() const;

    bool startSucceeds = true;
    QList<QStringList> commandLines;
};

} // namespace tovrin3::testing
