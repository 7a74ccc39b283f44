// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationdialog.h"

#include "sidsrequest.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

// The frame shown in the sample request: the beacon's own example.
constexpr QStringView SampleDigits = u"900140010C6A00A503";

QString yesNo(bool value)
{
    return value ? u"yes"_s : u"no"_s;
}

QString degrees(const std::optional<station::Place> &place, bool latitude)
{
    if (!place)
        return {};
    return QString::number(latitude ? place->latitude : place->longitude, 'f', 6);
}

QString serverList(const QList<QUrl> &servers)
{
    QStringList texts;
    for (const QUrl &url : servers)
        texts.append(url.toString());
    const QString text = texts.join(u',');
    return text == station::DefaultSidsUrl ? QString() : text;
}

} // namespace

StationDialog::StationDialog(QString programFolder, QWidget *parent)
    : QDialog(parent), m_programFolder(std::move(programFolder))
{
    setObjectName(u"FrmStation"_s);
    setWindowTitle(u"Station"_s);
    const station::StationSettingsReading reading = station::loadStationSettings(m_programFolder);
    m_loaded = reading.settings;
    m_loadedPath = reading.path;

    auto *form = new QFormLayout;
    auto addTo = [&](QLineEdit *edit, const QString &label) { form->addRow(label, edit); };
    m_callsign = addField("TxtCallsign", u"&Callsign:"_s, m_loaded.callsign);
    addTo(m_callsign, u"&Callsign:"_s);
    m_locator = addField("TxtLocator", u"&Locator:"_s, m_loaded.locator);
    addTo(m_locator, u"&Locator:"_s);
    m_latitude = addField("TxtLatitude", u"L&atitude:"_s, degrees(m_loaded.exact, true));
    m_latitude->setPlaceholderText(u"degrees, north positive"_s);
    addTo(m_latitude, u"L&atitude:"_s);
    m_longitude = addField("TxtLongitude", u"L&ongitude:"_s, degrees(m_loaded.exact, false));
    m_longitude->setPlaceholderText(u"degrees, east positive"_s);
    addTo(m_longitude, u"L&ongitude:"_s);
    m_exactPlace = new QCheckBox(u"Send the &exact place, not the locator square's centre"_s);
    m_exactPlace->setObjectName(u"ChkExactPlace"_s);
    m_exactPlace->setChecked(m_loaded.exactPlace);
    form->addRow(m_exactPlace);
    m_noradId = addField("TxtNoradId", u"&NORAD ID:"_s, m_loaded.noradId);
    addTo(m_noradId, u"&NORAD ID:"_s);
    m_servers = addField("TxtSidsUrl", u"SiDS &servers:"_s, serverList(m_loaded.servers));
    m_servers->setPlaceholderText(station::DefaultSidsUrl.toString());
    addTo(m_servers, u"SiDS &servers:"_s);
    m_log = new QCheckBox(u"&Keep copied frames in the station log"_s);
    m_log->setObjectName(u"ChkLog"_s);
    m_log->setChecked(m_loaded.log);
    form->addRow(m_log);
    m_share = new QCheckBox(u"S&hare frames with the SiDS servers (public)"_s);
    m_share->setObjectName(u"ChkShare"_s);
    m_share->setChecked(m_loaded.share);
    form->addRow(m_share);

    m_problems = new QLabel;
    m_problems->setObjectName(u"LblProblems"_s);
    m_problems->setTextFormat(Qt::PlainText);
    m_problems->setWordWrap(true);
    if (reading.shareIgnored)
        m_problems->setText(u"SHARE=yes in %1 does not count: only a conf.ini of your own turns "
                            u"sharing on."_s.arg(reading.path));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &StationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &StationDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problems);
    layout->addWidget(buttons);

    confirmSharing = [this](const QString &request) {
        QMessageBox question(QMessageBox::Question, u"Share telemetry"_s,
                             u"Every frame copied from audio will be sent to the SiDS servers, "
                             u"where the data become public, with your callsign and place. "
                             u"Each frame goes out as a request like this:"_s,
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setInformativeText(request);
        return question.exec() == QMessageBox::Yes;
    };
}

QLineEdit *StationDialog::addField(const char *name, const QString &, const QString &value)
{
    auto *edit = new QLineEdit(value, this);
    edit->setObjectName(QLatin1StringView(name));
    return edit;
}

// Only the keys whose value the user changed are written, so the file keeps its own spelling of
// the others. A cleared field is written as "KEY=", which unsets the key however often the file
// names it earlier.
station::SettingChanges StationDialog::changes() const
{
    station::SettingChanges changed;
    auto compare = [&](const char *key, const QString &before, const QString &after) {
        if (before != after)
            changed.append({QString::fromLatin1(key), after});
    };
    compare("CALLSIGN", m_loaded.callsign, m_callsign->text().trimmed());
    compare("LOCATOR", m_loaded.locator, m_locator->text().trimmed());
    compare("LATITUDE", degrees(m_loaded.exact, true), m_latitude->text().trimmed());
    compare("LONGITUDE", degrees(m_loaded.exact, false), m_longitude->text().trimmed());
    compare("NORAD_ID", m_loaded.noradId, m_noradId->text().trimmed());
    compare("SIDS_URL", serverList(m_loaded.servers), m_servers->text().trimmed());
    compare("SHARE", yesNo(m_loaded.share), yesNo(m_share->isChecked()));
    compare("LOG", yesNo(m_loaded.log), yesNo(m_log->isChecked()));
    compare("EXACT_PLACE", yesNo(m_loaded.exactPlace), yesNo(m_exactPlace->isChecked()));
    return changed;
}

// The fields are checked together, as the programs will read them from conf.ini.
void StationDialog::accept()
{
    QByteArray content;
    auto line = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            content += QByteArray(key) + '=' + value.toUtf8() + '\n';
    };
    line("CALLSIGN", m_callsign->text().trimmed());
    line("LOCATOR", m_locator->text().trimmed());
    line("LATITUDE", m_latitude->text().trimmed());
    line("LONGITUDE", m_longitude->text().trimmed());
    line("NORAD_ID", m_noradId->text().trimmed());
    line("SIDS_URL", m_servers->text().trimmed());
    line("SHARE", yesNo(m_share->isChecked()));
    line("LOG", yesNo(m_log->isChecked()));
    line("EXACT_PLACE", yesNo(m_exactPlace->isChecked()));
    const station::StationSettingsReading reading = station::parseStationSettings(content, true);
    const station::StationSettings &result = reading.settings;
    QStringList problems = reading.problems;
    if (result.share)
        problems += station::missingForSharing(result);
    if (!problems.isEmpty()) {
        m_problems->setText(problems.join(u'\n'));
        return;
    }
    if (result.share && !m_loaded.share) {
        QString request;
        for (const QUrl &url : std::as_const(result.servers))
            request += u"POST %1\nContent-Type: application/x-www-form-urlencoded\n\n%2\n\n"_s.arg(
                station::displayedUrl(url),
                QString::fromLatin1(
                    station::sidsBody(result, SampleDigits, QDateTime::currentMSecsSinceEpoch())));
        if (!confirmSharing(request.trimmed())) {
            m_share->setChecked(false);
            return;
        }
    }
    const station::SettingChanges changed = changes();
    if (changed.isEmpty()) {
        QDialog::accept();
        return;
    }
    m_written = station::writeStationSettings(m_programFolder, changed);
    if (m_written.path.isEmpty()) {
        m_problems->setText(u"The settings could not be written: %1"_s.arg(m_written.error));
        return;
    }
    if (!m_loadedPath.isEmpty() && m_written.path != m_loadedPath) {
        const QString note =
            m_written.governs
                ? u"%1 could not be written; the settings went to %2, which is read from now on."_s
                : u"%1 could not be written; the settings went to %2, but %1 is still read first, "
                  u"so they do not take effect until it is removed."_s;
        QMessageBox::information(this, u"Station"_s, note.arg(m_loadedPath, m_written.path));
    }
    QDialog::accept();
}

RecordingStartDialog::RecordingStartDialog(const QString &fileName, const QDateTime &suggestion,
                                           QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"FrmRecordingStart"_s);
    setWindowTitle(u"Recording start"_s);
    auto *question =
        new QLabel(u"When did the recording %1 begin? Its frames go to the station "
                   u"log at that time plus their offset in the recording."_s.arg(fileName));
    question->setTextFormat(Qt::PlainText);
    question->setWordWrap(true);
    m_start = new QDateTimeEdit;
    m_start->setObjectName(u"DtpRecordingStart"_s);
    m_start->setTimeSpec(Qt::UTC);
    m_start->setDateTime(suggestion.toUTC());
    m_start->setDisplayFormat(u"yyyy-MM-dd HH:mm:ss 'UTC'"_s);
    m_start->setCalendarPopup(true);
    auto *form = new QFormLayout;
    form->addRow(u"&Began at:"_s, m_start);

    auto *buttons = new QDialogButtonBox;
    QPushButton *log = buttons->addButton(u"&Log at this time"_s, QDialogButtonBox::AcceptRole);
    log->setObjectName(u"CmdLogRecording"_s);
    log->setDefault(true);
    QPushButton *unknown =
        buttons->addButton(u"&Unknown: do not log"_s, QDialogButtonBox::RejectRole);
    unknown->setObjectName(u"CmdStartUnknown"_s);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QDateTime RecordingStartDialog::start() const
{
    return m_start->dateTime().toUTC();
}

} // namespace tovrin3
