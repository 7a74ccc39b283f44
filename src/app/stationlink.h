// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sidssender.h"
#include "stationlog.h"
#include "stationsettings.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <memory>
#include <vector>

namespace tovrin3 {

namespace morse {
struct CopiedLine;
}

// Where the frames the window copies from audio go: into the station log as they are delivered
// (one transaction per line, so a killed program loses none), and with SHARE=yes also to the SiDS
// servers by a sender on a thread of its own, so that the window never waits on the network. A
// log that cannot be opened or written is reported once and copying goes on without it. Going
// away never waits on a server: what is not yet accepted stays queued in the log for the next run.
class StationLink : public QObject
{
    Q_OBJECT

public:
    explicit StationLink(QString programFolder, QObject *parent = nullptr);
    ~StationLink() override;

    // Reads the station settings again (after the Station dialog wrote them) and reopens the log
    // and the sender accordingly.
    void reload();
    // Tests shorten the sender's pacing; takes effect at the next reload().
    void setTiming(const station::SendTiming &timing) { m_timing = timing; }

    const station::StationSettings &settings() const { return m_settings; }
    bool isLogging() const { return m_log != nullptr; }
    bool isSharing() const { return m_sender != nullptr; }

    // Lines copied from audio whose first sample was heard at startMs (UTC milliseconds); each
    // frame's time is the start of its header. The source is "listen" or a recording's name.
    void take(const std::vector<morse::CopiedLine> &lines, qint64 startMs, const QString &source);
    // The lines copied from a recording: logged at the time it began by its date tag or by an ISO
    // time in its file name. Without either, and while logging, a RecordingStartDialog asks for
    // it (window-modal on the parent window, without holding anything up): the lines are logged
    // once it is answered, and never when the answer is "unknown".
    void takeRecording(const QString &path, const std::vector<morse::CopiedLine> &lines);

    int acceptedCount() const { return m_accepted; }
    int queuedCount() const { return m_queued; }
    QString lastError() const { return m_lastError; }
    // "Log: ... Sent: 3 accepted, 1 queued (last error: ...)", for a status line.
    QString statusText() const;

signals:
    void statusChanged();
    // Said once per reload: the log cannot be used, or sharing lacks a setting.
    void problem(const QString &message);

private:
    void askRecordingStart(const QString &path, const std::vector<morse::CopiedLine> &lines);
    void stopSender();
    void refreshQueue();
    void complain(const QString &message);

    const QString m_programFolder;
    station::SendTiming m_timing;
    station::StationSettings m_settings;
    station::QueueRequest m_queue;
    std::unique_ptr<station::StationLog> m_log;
    QThread m_thread;
    station::SidsSender *m_sender = nullptr;
    bool m_complained = false;
    int m_accepted = 0;
    int m_queued = 0;
    QString m_lastError;
};

} // namespace tovrin3
