// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Frames with chosen values and a station log filled with them, for the history tests and the
// benchmark.
#include "stationlog.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <vector>

namespace tovrin3::testing {

inline constexpr qint64 Noon = 1'796'558'400'000; // 2026-12-06T12:00:00Z
inline constexpr qint64 SecondMs = 1000;
inline constexpr qint64 MinuteMs = 60 * SecondMs;
inline constexpr qint64 HourMs = 60 * MinuteMs;
inline constexpr qint64 DayMs = 24 * HourMs;

// A frame line: battery temperature 25 °C (word 9001) and COM temperature 20 °C (4001) unless
// other words are given ("0008" has mixed sign bits: no value), the raw battery voltage and the
// three bytes as numbers.
inline QString frameDigits(int voltageRaw, int mission = 0, int debug = 0xA5, int killSwitch = 3,
                           const QString &batteryTemperatureWord = QStringLiteral("9001"))
{
    return (batteryTemperatureWord + QStringLiteral("4001%1%2%3%4")
                                         .arg(voltageRaw, 4, 16, QLatin1Char('0'))
                                         .arg(mission, 2, 16, QLatin1Char('0'))
                                         .arg(debug, 2, 16, QLatin1Char('0'))
                                         .arg(killSwitch, 2, 16, QLatin1Char('0')))
        .toUpper();
}

// Logs the receptions as the programs do, through a log object of its own.
inline bool logReceptions(const QString &path, const std::vector<station::Reception> &receptions,
                          const station::QueueRequest *queue = nullptr)
{
    station::StationLog log;
    return log.open(path) && log.log(receptions, queue).has_value();
}

// The first number a query gives on the log at the path, through a connection of its own; -1
// when it gives none.
inline qint64 logNumber(const QString &path, const QString &sql)
{
    qint64 result = -1;
    {
        QSqlDatabase database =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("logNumber"));
        database.setDatabaseName(path);
        QSqlQuery query(database);
        if (database.open() && query.exec(sql) && query.next())
            result = query.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("logNumber"));
    return result;
}

// Runs the statements in order on the log at the path, through a connection of its own, as
// another program or an older version would; false at the first that fails.
inline bool execOnLog(const QString &path, const QStringList &statements)
{
    bool done = false;
    {
        QSqlDatabase database =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("execOnLog"));
        database.setDatabaseName(path);
        done = database.open();
        for (const QString &statement : statements)
            done = done && QSqlQuery(database).exec(statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("execOnLog"));
    return done;
}

// A reception of a sure frame from "pass.txt".
inline station::Reception reception(qint64 timeMs, const QString &digits,
                                    const QString &source = QStringLiteral("pass.txt"))
{
    return {digits, timeMs, source, std::nullopt, false};
}

} // namespace tovrin3::testing
