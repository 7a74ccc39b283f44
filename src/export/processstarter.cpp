// SPDX-License-Identifier: GPL-3.0-or-later
#include "processstarter.h"

#include <QProcess>

namespace tovrin3 {

bool DetachedProcessStarter::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace tovrin3
