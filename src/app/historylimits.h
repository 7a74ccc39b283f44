// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "channels.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace tovrin3 {

// A channel's limit lines in the History window: values below `low` or above `high` are marked.
struct ChannelLimits
{
    std::optional<double> low;
    std::optional<double> high;
    bool operator==(const ChannelLimits &) const = default;
};

// The name a channel's limits go by in conf.ini: LIMIT_<name>_LOW and LIMIT_<name>_HIGH, for
// example BATTERY_VOLTAGE, MISSION_BIT_3 or KILL_SWITCH_MAIN.
QString limitName(history::Channel channel);

// A limit as the user and conf.ini write it: a finite number with "." as the decimal point; none
// for an empty or other text. Written back in the fewest digits that read as the same number.
std::optional<double> limitFromText(const QString &text);
QString limitToText(std::optional<double> limit);

// The limits a conf.ini sets, by limitName(): numbers with "." as the decimal point; keys ignore
// case, the last line of a key counts, and an empty or unreadable value sets no limit.
QHash<QString, ChannelLimits> parseChannelLimits(QByteArrayView fileContent);

// The conf.ini keys and values that keep a channel's limits; an unset limit is written empty.
QList<std::pair<QString, QString>> channelLimitSettings(history::Channel channel,
                                                        const ChannelLimits &limits);

} // namespace tovrin3
