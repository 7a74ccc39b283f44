// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace tovrin3 {

// Starts a program with an argument list, never through a shell, and does not wait for it.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
};

class DetachedProcessStarter : public ProcessStarter
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override;
};

} // namespace tovrin3
