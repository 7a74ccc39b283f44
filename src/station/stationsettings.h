// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

namespace tovrin3::station {

// The SatNOGS database's telemetry endpoint, where frames go when SIDS_URL names none.
inline constexpr QStringView DefaultSidsUrl = u"https://db.satnogs.org/api/telemetry/";

// A place on Earth in degrees: north and east positive.
struct Place
{
    double latitude = 0.0;
    double longitude = 0.0;
};

// The station settings of conf.ini, keys beside IMAGE_PATH and SCREENSHOT:
// CALLSIGN, LOCATOR, LATITUDE, LONGITUDE, NORAD_ID, SIDS_URL, SHARE, LOG and EXACT_PLACE.
struct StationSettings
{
    QString callsign;           // the SiDS "source": letters, digits and "/"
    QString locator;            // Maidenhead, 4 or 6 characters, as written
    std::optional<Place> exact; // LATITUDE and LONGITUDE, both or neither
    QString noradId;            // the satellite's catalogue number; no default
    QList<QUrl> servers;        // SIDS_URL, comma-separated; DefaultSidsUrl when unset
    bool share = false;         // SHARE=yes, and only from the user's own conf.ini
    bool log = true;            // LOG
    bool exactPlace = false;    // EXACT_PLACE=yes sends the exact place, not the square's centre
};

struct StationSettingsReading
{
    StationSettings settings;
    QStringList problems; // one sentence per bad value, naming its key and value
    // SHARE=yes stood in a conf.ini the user does not own (from $XDG_CONFIG_DIRS) and counts not.
    bool shareIgnored = false;
    QString path; // the conf.ini read; empty when there is none
};

// Reads the station keys of a conf.ini's content, as the window reads IMAGE_PATH: keys ignore
// case, values keep it, the last line of a key counts. An empty value ("LOCATOR=") leaves the
// setting at its default, as if the key were missing. A bad value is named in `problems` and
// leaves the setting at its default.
StationSettingsReading parseStationSettings(QByteArrayView fileContent, bool userOwned);

// The station settings of the conf.ini that applies to a program in programFolder.
StationSettingsReading loadStationSettings(const QString &programFolder);

// What sending needs and the settings lack, as sentences naming the keys.
QStringList missingForSharing(const StationSettings &settings);

// The place sent with each frame: the centre of the 4-character locator square, or with
// EXACT_PLACE=yes the exact place (LATITUDE/LONGITUDE, else the locator's own centre). None
// without any place.
std::optional<Place> sharedPlace(const StationSettings &settings);

// The centre of a Maidenhead locator of 2, 4 or 6 characters; none for a locator that is not one.
std::optional<Place> locatorCentre(QStringView locator);
// The 4-character square holding a place.
QString squareOf(const Place &place);

// A URL without any user name or password, for messages.
QString displayedUrl(const QUrl &url);

using SettingChanges = QList<std::pair<QString, QString>>; // key (upper case), value

struct SettingsWrite
{
    QString path;         // the file written; empty after an error
    QString error;        // why nothing was written
    bool governs = false; // the written file is the one the program reads from now on
};

// Writes the station keys into the conf.ini in use: the last line of each key changed is
// rewritten as KEY=value, a key the file lacks is added at its end, and every other byte stays
// as it was. The file is replaced atomically, readable by the user only. When the file in use
// cannot be written (an installed copy's, the system's), the user's own
// $XDG_CONFIG_HOME/tovrin3/conf.ini is written instead, starting from the content in use.
SettingsWrite writeStationSettings(const QString &programFolder, const SettingChanges &changes);

// The content after the changes, as writeStationSettings() writes it.
QByteArray changedConfiguration(QByteArrayView content, const SettingChanges &changes);

} // namespace tovrin3::station
