// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <optional>
#include <span>

namespace tovrin3::station {

// One delivery of a frame by one source.
struct Reception
{
    QString digits;        // the frame's 18 characters, after cleaning
    qint64 receivedMs = 0; // UTC milliseconds since 1970 at the start of its header
    QString source;        // "listen", a file's name without its folders, ...
    std::optional<double> confidence;
    bool doubtful = false; // copied with too little confidence: logged, never sent
};

// Deliveries of one frame less than this far apart are one frame: sources' clocks differ.
inline constexpr qint64 SameFrameWindowMs = 10'000;

// What goes to the send queue for a newly logged sure frame: one row per server, its request
// body fixed now so that every retry sends the same bytes.
struct QueueRequest
{
    QStringList servers;
    std::function<QByteArray(const QString &digits, qint64 receivedMs)> body;
};

struct LogResult
{
    int frames = 0;     // new frames
    int receptions = 0; // new receptions
    int queued = 0;     // new rows in the send queue
};

// A row of the send queue taken by one sender.
struct OutboxRow
{
    qint64 id = 0;
    QString server;
    QByteArray body;
    int attempts = 0;
};

struct QueueState
{
    int queued = 0;
    int accepted = 0;
    QString lastError; // of the most recent failed try, empty when none
};

// The station log, an SQLite database that any SQLite tool can read (its schema is in the
// README): every frame received with a known time, each source that delivered it, and the queue
// of what is to be sent to the SiDS servers (the outbox: a frame is written here first and sent
// from here). Several programs may use it at once. Values go to SQL as bound parameters only.
class StationLog
{
public:
    // Each object uses its own connection; one per thread.
    StationLog();
    ~StationLog();
    StationLog(const StationLog &) = delete;
    StationLog &operator=(const StationLog &) = delete;

    // $XDG_DATA_HOME/tovrin3/telemetry.sqlite.
    static QString defaultPath();

    // Opens or creates the log: its folder readable by the user only, the file too, WAL with
    // synchronous=NORMAL (a killed program loses no committed frame, a power cut at most the last
    // second), and the schema. False with errorString() for a database that is damaged, not a
    // database, locked for too long or cannot be written.
    bool open(const QString &path, int busyTimeoutMs = 5000);
    QString errorString() const { return m_error; }

    // Logs the receptions in one transaction: a frame row for digits not seen within
    // SameFrameWindowMs, a reception row unless the same source delivered it at the same time
    // before, and for a new sure frame (or one a sure reception makes sure) a queue row per
    // server. None after an error, with nothing of the batch kept.
    std::optional<LogResult> log(std::span<const Reception> receptions,
                                 const QueueRequest *queue = nullptr);

    // Takes the oldest row for `server` due at `nowMs` that no running sender holds: its claim
    // lasts until nowMs + claimMs, or until the claiming process is gone. `skip` leaves out rows
    // already tried.
    std::optional<OutboxRow> claim(const QString &server, qint64 nowMs, qint64 claimMs,
                                   const QSet<qint64> &skip = {});
    // The server answered 2xx: never sent again.
    bool markAccepted(qint64 id, qint64 nowMs);
    // Stays queued until nextTryMs.
    bool markFailed(qint64 id, qint64 nextTryMs, const QString &error);

    // Marks the frames from sinceMs (inclusive) to untilMs (exclusive) deleted, doubtful ones
    // too, in one transaction: rows are never removed, but a deleted frame leaves the summaries,
    // its queued requests are cancelled (what a server accepted stays accepted), and log() never
    // brings it back. The number of frames marked; none after an error.
    std::optional<qint64> markDeleted(qint64 sinceMs, qint64 untilMs);

    // This object's connection, for reading the log on the same thread.
    QSqlDatabase database() const { return m_database; }

    QueueState queueState(const QString &server);
    // When the next row for the server is due; none when nothing is queued.
    std::optional<qint64> nextDue(const QString &server);

private:
    bool fail(const QString &what, const QString &why);
    bool execute(const QString &statement);
    // Ends the open transaction: commits it when `why` is empty, otherwise (or when the commit
    // fails) rolls it back, so a failed write leaves the log as it was.
    bool endTransaction(const QString &why = {});
    bool switchToWriteAheadLog(int busyTimeoutMs);
    bool createSchema();

    QString m_connectionName;
    QString m_path;
    QSqlDatabase m_database;
    QString m_error;
    QString m_claimer;
};

} // namespace tovrin3::station
