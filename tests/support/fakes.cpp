// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"

namespace tovrin3::testing {

bool RecordingStarter::startDetached(const QString &program, const QStringList &arguments)
{
    commandLines.append(QStringList{program} + arguments);
    return startSucceeds;
}

QStringList RecordingStarter::programs() const
{
    QStringList started;
    for (const QStringList &commandLine : commandLines)
        started.append(commandLine.first());
    return started;
}

QStringList RecordingStarter::lastArguments() const
{
    return commandLines.isEmpty() ? QStringList() : commandLines.last().mid(1);
}

} // namespace tovrin3::testing
