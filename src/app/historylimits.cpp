// SPDX-License-Identifier: GPL-3.0-or-later
#include "historylimits.h"

#include "configurationfile.h"

#include <QLocale>

#include <cmath>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;
using history::Channel;

int offset(Channel channel, Channel first)
{
    return static_cast<int>(channel) - static_cast<int>(first);
}

} // namespace

std::optional<double> limitFromText(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

QString limitToText(std::optional<double> limit)
{
    return limit ? QString::number(*limit, 'g', QLocale::FloatingPointShortest) : QString();
}

// Names of their own rather than the chooser's captions, so that renaming a caption keeps what
// users wrote.
QString limitName(Channel channel)
{
    switch (channel) {
    case Channel::BatteryTemperature:
        return u"BATTERY_TEMPERATURE"_s;
    case Channel::ComTemperature:
        return u"COM_TEMPERATURE"_s;
    case Channel::BatteryVoltage:
        return u"BATTERY_VOLTAGE"_s;
    case Channel::Debug:
        return u"DEBUG"_s;
    case Channel::KillSwitch:
        return u"KILL_SWITCH"_s;
    case Channel::Mission:
        return u"MISSION"_s;
    case Channel::KillSwitchMain:
        return u"KILL_SWITCH_MAIN"_s;
    case Channel::KillSwitchSub:
        return u"KILL_SWITCH_SUB"_s;
    default:
        break;
    }
    if (channel >= Channel::MissionBit0 && channel <= Channel::MissionBit7)
        return u"MISSION_BIT_%1"_s.arg(offset(channel, Channel::MissionBit0));
    return u"DEBUG_BIT_%1"_s.arg(offset(channel, Channel::DebugBit0));
}

QHash<QString, ChannelLimits> parseChannelLimits(QByteArrayView fileContent)
{
    QHash<QString, ChannelLimits> limits;
    const QString text = configurationText(fileContent);
    for (const QStringView line : configurationLines(text)) {
        const std::optional<ConfigurationEntry> entry = configurationEntry(line);
        if (!entry || !entry->key.startsWith(u"LIMIT_"))
            continue;
        const bool low = entry->key.endsWith(u"_LOW");
        const bool high = entry->key.endsWith(u"_HIGH");
        const qsizetype nameLength = entry->key.size() - 6 - (low ? 4 : 5);
        if ((!low && !high) || nameLength <= 0)
            continue;
        ChannelLimits &channel = limits[entry->key.mid(6, nameLength)];
        (low ? channel.low : channel.high) = limitFromText(entry->value);
    }
    return limits;
}

QList<std::pair<QString, QString>> channelLimitSettings(Channel channel,
                                                        const ChannelLimits &limits)
{
    const QString name = limitName(channel);
    return {{u"LIMIT_%1_LOW"_s.arg(name), limitToText(limits.low)},
            {u"LIMIT_%1_HIGH"_s.arg(name), limitToText(limits.high)}};
}

} // namespace tovrin3
