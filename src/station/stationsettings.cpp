// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationsettings.h"

#include "configurationfile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

std::optional<bool> yesNo(const QString &value)
{
    const QString lower = value.toLower();
    if (lower == u"yes")
        return true;
    if (lower == u"no")
        return false;
    return std::nullopt;
}

std::optional<double> degrees(const QString &value, double limit)
{
    bool isNumber = false;
    const double number = QLocale::c().toDouble(value, &isNumber);
    if (!isNumber || !std::isfinite(number) || std::abs(number) > limit)
        return std::nullopt;
    return number;
}

QString badValue(const QString &key, const QString &value, const QString &expected)
{
    return u"%1=%2 is not %3"_s.arg(key, value, expected);
}

// A server is an http or https URL with a host; http only where the user wrote it.
std::optional<QUrl> serverUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

struct RawValues
{
    QList<std::pair<QString, QString>> entries; // last occurrence of each key, in file order
    // An empty value unsets the key, as the Station dialog writes a cleared field.
    void set(const QString &key, const QString &value)
    {
        entries.removeIf([&](const auto &entry) { return entry.first == key; });
        if (!value.isEmpty())
            entries.append({key, value});
    }
};

void applyValue(const QString &key, const QString &value, StationSettingsReading &reading,
                std::optional<double> &latitude, std::optional<double> &longitude,
                std::optional<bool> &share)
{
    StationSettings &settings = reading.settings;
    QStringList &problems = reading.problems;
    static const QRegularExpression callsignPattern(u"^[A-Za-z0-9/]{1,20}$"_s);
    static const QRegularExpression noradPattern(u"^[0-9]{1,9}$"_s);
    if (key == u"CALLSIGN") {
        if (callsignPattern.match(value).hasMatch())
            settings.callsign = value;
        else
            problems.append(badValue(key, value, u"a callsign of letters, digits and '/'"_s));
    } else if (key == u"LOCATOR") {
        if ((value.size() == 4 || value.size() == 6) && locatorCentre(value))
            settings.locator = value;
        else
            problems.append(badValue(key, value, u"a Maidenhead locator of 4 or 6 characters"_s));
    } else if (key == u"LATITUDE") {
        latitude = degrees(value, 90.0);
        if (!latitude)
            problems.append(badValue(key, value, u"a latitude from -90 to 90 degrees"_s));
    } else if (key == u"LONGITUDE") {
        longitude = degrees(value, 180.0);
        if (!longitude)
            problems.append(badValue(key, value, u"a longitude from -180 to 180 degrees"_s));
    } else if (key == u"NORAD_ID") {
        if (noradPattern.match(value).hasMatch() && value.toLongLong() > 0)
            settings.noradId = value;
        else
            problems.append(badValue(key, value, u"a NORAD catalogue number"_s));
    } else if (key == u"SIDS_URL") {
        QList<QUrl> servers;
        for (const QString &part : value.split(u',', Qt::SkipEmptyParts)) {
            if (const std::optional<QUrl> url = serverUrl(part.trimmed()))
                servers.append(*url);
            else
                problems.append(u"SIDS_URL names '%1', which is not an http or https URL"_s.arg(
                    displayedUrl(QUrl(part.trimmed()))));
        }
        if (!servers.isEmpty())
            settings.servers = servers;
    } else if (key == u"SHARE" || key == u"LOG" || key == u"EXACT_PLACE") {
        const std::optional<bool> flag = yesNo(value);
        if (!flag)
            problems.append(badValue(key, value, u"yes or no"_s));
        else if (key == u"SHARE")
            share = flag;
        else if (key == u"LOG")
            settings.log = *flag;
        else
            settings.exactPlace = *flag;
    }
}

} // namespace

StationSettingsReading parseStationSettings(QByteArrayView fileContent, bool userOwned)
{
    RawValues raw;
    const QString text = configurationText(fileContent);
    for (const QStringView line : configurationLines(text))
        if (const std::optional<ConfigurationEntry> entry = configurationEntry(line))
            raw.set(entry->key, entry->value);

    StationSettingsReading reading;
    reading.settings.servers = {QUrl(DefaultSidsUrl.toString())};
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::optional<bool> share;
    for (const auto &[key, value] : raw.entries)
        applyValue(key, value, reading, latitude, longitude, share);
    if (latitude && longitude)
        reading.settings.exact = Place{*latitude, *longitude};
    else if (reading.problems.filter(u"LATITUDE="_s).isEmpty() &&
             reading.problems.filter(u"LONGITUDE="_s).isEmpty() && (latitude || longitude))
        reading.problems.append(u"LATITUDE and LONGITUDE go together: one of them is missing"_s);
    reading.shareIgnored = share.value_or(false) && !userOwned;
    reading.settings.share = share.value_or(false) && userOwned;
    return reading;
}

StationSettingsReading loadStationSettings(const QString &programFolder)
{
    const ConfigurationLocation location = locateConfigurationFile(programFolder);
    StationSettingsReading reading = parseStationSettings(
        readConfigurationFile(location.path).value_or(QByteArray()), location.userOwned);
    reading.path = location.path;
    return reading;
}

QStringList missingForSharing(const StationSettings &settings)
{
    QStringList missing;
    if (settings.callsign.isEmpty())
        missing.append(u"CALLSIGN is not set: the servers need the station's callsign"_s);
    if (settings.noradId.isEmpty())
        missing.append(u"NORAD_ID is not set: the servers need the satellite's number"_s);
    if (!sharedPlace(settings))
        missing.append(u"the station's place is not set: give LOCATOR or LATITUDE and LONGITUDE"_s);
    return missing;
}

std::optional<Place> locatorCentre(QStringView locator)
{
    const QString upper = locator.toString().toUpper();
    if (upper.size() != 2 && upper.size() != 4 && upper.size() != 6)
        return std::nullopt;
    const auto within = [&](qsizetype index, char16_t first, char16_t last) {
        return upper.at(index).unicode() >= first && upper.at(index).unicode() <= last;
    };
    if (!within(0, u'A', u'R') || !within(1, u'A', u'R'))
        return std::nullopt;
    double longitude = (upper.at(0).unicode() - u'A') * 20.0 - 180.0;
    double latitude = (upper.at(1).unicode() - u'A') * 10.0 - 90.0;
    double longitudeStep = 20.0;
    double latitudeStep = 10.0;
    if (upper.size() >= 4) {
        if (!within(2, u'0', u'9') || !within(3, u'0', u'9'))
            return std::nullopt;
        longitudeStep = 2.0;
        latitudeStep = 1.0;
        longitude += (upper.at(2).unicode() - u'0') * longitudeStep;
        latitude += (upper.at(3).unicode() - u'0') * latitudeStep;
    }
    if (upper.size() == 6) {
        if (!within(4, u'A', u'X') || !within(5, u'A', u'X'))
            return std::nullopt;
        longitudeStep = 2.0 / 24.0;
        latitudeStep = 1.0 / 24.0;
        longitude += (upper.at(4).unicode() - u'A') * longitudeStep;
        latitude += (upper.at(5).unicode() - u'A') * latitudeStep;
    }
    return Place{latitude + latitudeStep / 2.0, longitude + longitudeStep / 2.0};
}

QString squareOf(const Place &place)
{
    const double east = std::clamp(place.longitude + 180.0, 0.0, 359.999999);
    const double north = std::clamp(place.latitude + 90.0, 0.0, 179.999999);
    const auto field = [](double value, double size) {
        return QChar(u'A' + static_cast<char16_t>(std::floor(value / size)));
    };
    const auto digit = [](double value, double size) {
        return QChar(u'0' + static_cast<char16_t>(std::floor(value / size)));
    };
    const QChar square[] = {field(east, 20.0), field(north, 10.0),
                            digit(std::fmod(east, 20.0), 2.0), digit(std::fmod(north, 10.0), 1.0)};
    return QString(square, 4);
}

std::optional<Place> sharedPlace(const StationSettings &settings)
{
    std::optional<Place> exact = settings.exact;
    if (!exact && !settings.locator.isEmpty())
        exact = locatorCentre(settings.locator);
    if (!exact)
        return std::nullopt;
    if (settings.exactPlace)
        return exact;
    const QString square =
        settings.locator.isEmpty() ? squareOf(*exact) : settings.locator.first(4);
    return locatorCentre(square);
}

QString displayedUrl(const QUrl &url)
{
    return url.toString(QUrl::RemoveUserInfo);
}

QByteArray changedConfiguration(QByteArrayView content, const SettingChanges &changes)
{
    struct Line
    {
        QByteArrayView text;
        QByteArrayView end;
    };
    QList<Line> lines;
    qsizetype start = 0;
    for (qsizetype position = 0; position < content.size(); ++position) {
        const char character = content[position];
        if (character != '\r' && character != '\n')
            continue;
        qsizetype endSize = 1;
        if (character == '\r' && position + 1 < content.size() && content[position + 1] == '\n')
            endSize = 2;
        lines.append({content.sliced(start, position - start), content.sliced(position, endSize)});
        position += endSize - 1;
        start = position + 1;
    }
    if (start < content.size())
        lines.append({content.sliced(start), {}});

    QList<QByteArray> replaced(lines.size());
    QList<bool> isReplaced(lines.size(), false);
    QByteArray added;
    for (const auto &[key, value] : changes) {
        const QByteArray newLine = (key + u'=' + value).toUtf8();
        qsizetype last = -1;
        for (qsizetype index = 0; index < lines.size(); ++index) {
            const std::optional<ConfigurationEntry> entry =
                configurationEntry(configurationText(lines[index].text));
            if (entry && entry->key == key.toUpper())
                last = index;
        }
        if (last >= 0) {
            replaced[last] = newLine;
            isReplaced[last] = true;
        } else {
            added += newLine + '\n';
        }
    }
    QByteArray result;
    result.reserve(content.size() + added.size() + 1);
    for (qsizetype index = 0; index < lines.size(); ++index) {
        result += isReplaced[index] ? QByteArrayView(replaced[index]) : lines[index].text;
        result += lines[index].end;
    }
    if (!added.isEmpty() && !lines.isEmpty() && lines.last().end.isEmpty())
        result += '\n';
    return result + added;
}

namespace {

bool saveConfiguration(const QString &path, const QByteArray &content, QString &error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        error = u"cannot create the folder of %1"_s.arg(path);
        return false;
    }
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                       file.write(content) == content.size() && file.commit();
    if (!saved)
        error = u"cannot write %1: %2"_s.arg(path, file.errorString());
    return saved;
}

} // namespace

SettingsWrite writeStationSettings(const QString &programFolder, const SettingChanges &changes)
{
    const ConfigurationLocation location = locateConfigurationFile(programFolder);
    SettingsWrite result;
    // A rewrite starts from the whole file: one that cannot be read in full is left alone rather
    // than written back without what could not be read.
    const QFileInfo inUse(location.path);
    const std::optional<QByteArray> current =
        inUse.exists() ? readConfigurationFile(location.path) : QByteArray();
    if (!current || inUse.size() > MaxConfigurationBytes) {
        result.error = u"cannot rewrite %1: it cannot be read in full"_s.arg(location.path);
        return result;
    }
    const QByteArray content = changedConfiguration(*current, changes);
    const bool inUseWritable = !location.path.isEmpty() && location.userOwned &&
                               QFileInfo(location.path).isWritable() &&
                               QFileInfo(QFileInfo(location.path).absolutePath()).isWritable();
    const QString target = inUseWritable ? location.path : userConfigurationFile();
    if (!saveConfiguration(target, content, result.error))
        return result;
    result.path = target;
    result.governs = QFileInfo(findConfigurationFile(programFolder)) == QFileInfo(target);
    return result;
}

} // namespace tovrin3::station
