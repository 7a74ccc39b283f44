// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidsrequest.h"

#include "normalisation.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>
#include <utility>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

QString degreesText(double degrees, QChar positive, QChar negative)
{
    return QLocale::c().toString(std::abs(degrees), 'f', 3) + (degrees < 0 ? negative : positive);
}

} // namespace

QString softwareVersion()
{
    return u"tovrin3 "_s + QLatin1StringView(TOVRIN3_VERSION);
}

QByteArray sidsFrameHex(QStringView digits)
{
    return (BeaconHeader.toString() + u' ' + digits.toString()).toLatin1().toHex().toUpper();
}

QString sidsTimestamp(qint64 utcMilliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(utcMilliseconds, Qt::UTC)
        .toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_s);
}

QString sidsLongitude(double degrees)
{
    return degreesText(degrees, u'E', u'W');
}

QString sidsLatitude(double degrees)
{
    return degreesText(degrees, u'N', u'S');
}

QByteArray sidsBody(const StationSettings &settings, QStringView digits, qint64 utcMilliseconds)
{
    const Place place = sharedPlace(settings).value_or(Place{});
    const std::pair<const char *, QByteArray> fields[] = {
        {"noradID", settings.noradId.toUtf8()},
        {"source", settings.callsign.toUtf8()},
        {"timestamp", sidsTimestamp(utcMilliseconds).toLatin1()},
        {"frame", sidsFrameHex(digits)},
        {"locator", "longLat"},
        {"longitude", sidsLongitude(place.longitude).toLatin1()},
        {"latitude", sidsLatitude(place.latitude).toLatin1()},
        {"version", softwareVersion().toUtf8()},
    };
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += name;
        body += '=';
        body += value.toPercentEncoding();
    }
    return body;
}

} // namespace tovrin3::station
