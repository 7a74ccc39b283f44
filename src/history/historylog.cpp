// SPDX-License-Identifier: GPL-3.0-or-later
#include "historylog.h"

namespace tovrin3::history {

struct HistoryLog::Private
{
    QString error = QStringLiteral("the station log is not open");
};

HistoryLog::HistoryLog() : d(std::make_unique<Private>()) {}
HistoryLog::~HistoryLog() = default;

bool HistoryLog::open(const QString &, int)
{
    return false;
}
bool HistoryLog::isOpen() const
{
    return false;
}
QString HistoryLog::errorString() const
{
    return d->error;
}
std::optional<std::vector<LoggedFrame>> HistoryLog::frames(const TimeRange &, bool)
{
    return std::nullopt;
}
bool HistoryLog::forEachFrame(const TimeRange &, bool,
                              const std::function<bool(const LoggedFrame &)> &)
{
    return false;
}
std::optional<std::vector<Pass>> HistoryLog::passes(const TimeRange &)
{
    return std::nullopt;
}
std::optional<Pass> HistoryLog::lastPass()
{
    return std::nullopt;
}
std::optional<TimeRange> HistoryLog::span()
{
    return std::nullopt;
}
std::optional<Series> HistoryLog::series(Channel, const TimeRange &, int)
{
    return std::nullopt;
}
std::optional<qint64> HistoryLog::count(const TimeRange &)
{
    return std::nullopt;
}
std::optional<qint64> HistoryLog::remove(const TimeRange &)
{
    return std::nullopt;
}
ChangeToken HistoryLog::changeToken()
{
    return {};
}

} // namespace tovrin3::history
