// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "stationsettings.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace tovrin3::station {

// The program's name and version in the SiDS "version" field.
QString softwareVersion();

// The frame as telemetry databases keep a CW beacon: upper-case hexadecimal of the ASCII text
// "QT7XMRKT3HKD " followed by the frame's 18 characters.
QByteArray sidsFrameHex(QStringView digits);

// "2026-12-06T18:57:44.250Z": the time in UTC with milliseconds.
QString sidsTimestamp(qint64 utcMilliseconds);

// "12.345E", "45.678N": degrees to three decimals and the hemisphere's letter.
QString sidsLongitude(double degrees);
QString sidsLatitude(double degrees);

// The body of a SiDS POST (application/x-www-form-urlencoded) for one frame, its fields in this
// order: noradID, source, timestamp, frame, locator=longLat, longitude, latitude, version. Every
// value is percent-encoded except the unreserved characters, so the body is the same bytes
// whenever it is built from the same values. Needs the settings that missingForSharing() checks.
QByteArray sidsBody(const StationSettings &settings, QStringView digits, qint64 utcMilliseconds);

} // namespace tovrin3::station
