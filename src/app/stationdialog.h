// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "stationsettings.h"

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <functional>

QT_BEGIN_NAMESPACE
class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
QT_END_NAMESPACE

namespace tovrin3 {

// The Station dialog: edits the station keys of conf.ini, checks them as the programs read them
// and names each bad value here, and writes them (every other line kept). When sharing is first
// turned on it shows the exact request that will go out and that the data become public, and
// sharing goes on only once the user agrees.
class StationDialog : public QDialog
{
    Q_OBJECT

public:
    StationDialog(QString programFolder, QWidget *parent = nullptr);

    // Asks whether to share, showing the request text; tests answer it themselves.
    std::function<bool(const QString &request)> confirmSharing;

    // What the last OK wrote, and where.
    const station::SettingsWrite &written() const { return m_written; }

public slots:
    void accept() override;

private:
    QLineEdit *addField(const char *name, const QString &label, const QString &value);
    station::SettingChanges changes() const;

    const QString m_programFolder;
    station::StationSettings m_loaded;
    QString m_loadedPath;
    station::SettingsWrite m_written;
    QLineEdit *m_callsign = nullptr;
    QLineEdit *m_locator = nullptr;
    QLineEdit *m_latitude = nullptr;
    QLineEdit *m_longitude = nullptr;
    QLineEdit *m_noradId = nullptr;
    QLineEdit *m_servers = nullptr;
    QCheckBox *m_share = nullptr;
    QCheckBox *m_log = nullptr;
    QCheckBox *m_exactPlace = nullptr;
    QLabel *m_problems = nullptr;
};

// Asks when a recording began, in UTC, so that its frames can go to the station log like those
// of any recording with a known start. "Unknown" (Cancel, Escape) logs nothing.
class RecordingStartDialog : public QDialog
{
    Q_OBJECT

public:
    RecordingStartDialog(const QString &fileName, const QDateTime &suggestion,
                         QWidget *parent = nullptr);

    // The time given, in UTC.
    QDateTime start() const;

private:
    QDateTimeEdit *m_start = nullptr;
};

} // namespace tovrin3
