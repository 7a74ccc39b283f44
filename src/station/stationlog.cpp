// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationlog.h"

#include "framebuckets.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <map>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

// 2 added the summaries per time bucket (frame_buckets, bucket_sources) and outbox rows
// cancelled for deleted frames; a log of version 1 is brought up to date when opened.
constexpr int SchemaVersion = 2;

// Between tries of a lock SQLite does not wait for itself: short beside the busy time.
constexpr unsigned long RetryPauseMs = 10;
constexpr QLatin1StringView SqliteBusy("5"); // SQLITE_BUSY as the driver reports it

// The schema the README documents. Times are UTC milliseconds since 1970.
constexpr const char *SchemaStatements[] = {
    "CREATE TABLE IF NOT EXISTS frames ("
    " id INTEGER PRIMARY KEY,"
    " digits TEXT NOT NULL,"
    " received_ms INTEGER NOT NULL,"
    " doubtful INTEGER NOT NULL DEFAULT 0,"
    " deleted INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS frames_by_time ON frames (received_ms)",
    "CREATE INDEX IF NOT EXISTS frames_by_digits ON frames (digits, received_ms)",
    "CREATE TABLE IF NOT EXISTS receptions ("
    " id INTEGER PRIMARY KEY,"
    " frame_id INTEGER NOT NULL REFERENCES frames (id),"
    " source TEXT NOT NULL,"
    " received_ms INTEGER NOT NULL,"
    " confidence REAL,"
    " doubtful INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE (frame_id, source, received_ms))",
    "CREATE INDEX IF NOT EXISTS receptions_by_time ON receptions (received_ms)",
    "CREATE TABLE IF NOT EXISTS outbox ("
    " id INTEGER PRIMARY KEY,"
    " frame_id INTEGER NOT NULL REFERENCES frames (id),"
    " server TEXT NOT NULL,"
    " body BLOB NOT NULL,"
    " state TEXT NOT NULL DEFAULT 'queued',"
    " attempts INTEGER NOT NULL DEFAULT 0,"
    " next_try_ms INTEGER NOT NULL,"
    " last_try_ms INTEGER,"
    " last_error TEXT,"
    " accepted_ms INTEGER,"
    " claimed_by TEXT,"
    " claim_expires_ms INTEGER,"
    " UNIQUE (frame_id, server))",
    "CREATE INDEX IF NOT EXISTS outbox_due ON outbox (server, state, next_try_ms)",
};

QString newConnectionName()
{
    static std::atomic<int> counter = 0;
    return u"tovrin3-station-log-%1"_s.arg(counter++);
}

// A claim names the process, so that another program sees when its holder was killed.
QString newClaimer()
{
    return u"%1:%2"_s.arg(::getpid())
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QChar(u'0'));
}

bool claimHolderGone(const QString &claimer)
{
    bool isNumber = false;
    const qint64 pid = claimer.section(u':', 0, 0).toLongLong(&isNumber);
    if (!isNumber || pid <= 0)
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

QString sqlError(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? u"unknown error"_s : text;
}

// Creates the file readable and writable by the user only before SQLite opens it; SQLite gives
// its -wal and -shm files the same permissions.
bool createPrivateFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int descriptor = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return QFileInfo::exists(path);
    ::close(descriptor);
    return true;
}

} // namespace

StationLog::StationLog() : m_connectionName(newConnectionName()), m_claimer(newClaimer()) {}

StationLog::~StationLog()
{
    if (m_database.isValid()) {
        m_database.close();
        m_database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

QString StationLog::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/tovrin3/telemetry.sqlite"_s;
}

bool StationLog::fail(const QString &what, const QString &why)
{
    m_error = u"the station log %1 %2: %3"_s.arg(m_path, what, why);
    return false;
}

bool StationLog::execute(const QString &statement)
{
    QSqlQuery query(m_database);
    if (query.exec(statement))
        return true;
    return fail(u"cannot be used"_s, sqlError(query.lastError()));
}

bool StationLog::endTransaction(const QString &why)
{
    if (why.isEmpty() && execute(u"COMMIT"_s))
        return true;
    QSqlQuery(m_database).exec(u"ROLLBACK"_s);
    return why.isEmpty() || fail(u"cannot be written"_s, why);
}

bool StationLog::open(const QString &path, int busyTimeoutMs)
{
    m_path = path;
    m_error.clear();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder))
            return fail(u"cannot be created"_s, u"no folder %1"_s.arg(folder));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
    m_database = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connectionName);
    m_database.setDatabaseName(path);
    if (!m_database.isValid())
        return fail(u"cannot be opened"_s, u"Qt's SQLite driver (QSQLITE) is not installed"_s);
    if (!createPrivateFile(path))
        return fail(u"cannot be created"_s, u"permission denied"_s);
    m_database.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(busyTimeoutMs));
    if (!m_database.open())
        return fail(u"cannot be opened"_s, sqlError(m_database.lastError()));

    QSqlQuery version(m_database);
    if (!version.exec(u"PRAGMA user_version"_s) || !version.next())
        return fail(u"cannot be read"_s, sqlError(version.lastError()));
    const int found = version.value(0).toInt();
    version.finish();
    if (found > SchemaVersion)
        return fail(u"cannot be used"_s,
                    u"it was made by a newer version of this program (schema %1)"_s.arg(found));
    if (!switchToWriteAheadLog(busyTimeoutMs))
        return false;
    if (!execute(u"PRAGMA synchronous=NORMAL"_s) || !execute(u"PRAGMA foreign_keys=ON"_s))
        return false;
    if (found == SchemaVersion)
        return true;
    if (!execute(u"BEGIN IMMEDIATE"_s))
        return false;
    if (!createSchema()) {
        QSqlQuery(m_database).exec(u"ROLLBACK"_s);
        return false;
    }
    return execute(u"COMMIT"_s);
}

// Inside the transaction: another program may have brought the schema up to date meanwhile.
bool StationLog::createSchema()
{
    QSqlQuery version(m_database);
    if (!version.exec(u"PRAGMA user_version"_s) || !version.next())
        return fail(u"cannot be read"_s, sqlError(version.lastError()));
    const int found = version.value(0).toInt();
    version.finish();
    if (found == SchemaVersion)
        return true;
    for (const char *statement : SchemaStatements)
        if (!execute(QLatin1StringView(statement)))
            return false;
    for (const QString &statement : bucketSchemaStatements())
        if (!execute(statement))
            return false;
    QSqlQuery span(m_database);
    if (!span.exec(u"SELECT min(received_ms), max(received_ms) FROM frames"_s) || !span.next())
        return fail(u"cannot be read"_s, sqlError(span.lastError()));
    if (!span.value(0).isNull()) {
        QString error;
        const qint64 first = span.value(0).toLongLong();
        const qint64 last = span.value(1).toLongLong();
        span.finish();
        if (!rebuildBuckets(m_database, first, last + 1, error))
            return fail(u"cannot be brought up to date"_s, error);
    }
    return execute(u"PRAGMA user_version=%1"_s.arg(SchemaVersion));
}

// Two programs opening a new log at once each hold a read lock the other's switch must wait
// for, so SQLite answers one of them busy at once, without waiting; that one tries again until
// the other has switched or the busy time is over.
bool StationLog::switchToWriteAheadLog(int busyTimeoutMs)
{
    const QDeadlineTimer deadline(busyTimeoutMs);
    for (;;) {
        QSqlQuery mode(m_database);
        if (mode.exec(u"PRAGMA journal_mode=WAL"_s))
            return true;
        if (mode.lastError().nativeErrorCode() != SqliteBusy || deadline.hasExpired())
            return fail(u"cannot be used"_s, sqlError(mode.lastError()));
        QThread::msleep(RetryPauseMs);
    }
}

std::optional<LogResult> StationLog::log(std::span<const Reception> receptions,
                                         const QueueRequest *queue)
{
    LogResult result;
    if (receptions.empty())
        return result;
    if (!m_database.isOpen()) {
        fail(u"is not open"_s, m_error);
        return std::nullopt;
    }
    if (!execute(u"BEGIN IMMEDIATE"_s))
        return std::nullopt;
    QSqlQuery findFrame(m_database);
    QSqlQuery addFrame(m_database);
    QSqlQuery makeSure(m_database);
    QSqlQuery addReception(m_database);
    QSqlQuery addQueued(m_database);
    bool prepared =
        findFrame.prepare(
            u"SELECT id, received_ms, doubtful, deleted FROM frames WHERE digits = ? "
            u"AND received_ms BETWEEN ? AND ? ORDER BY abs(received_ms - ?) LIMIT 1"_s) &&
        addFrame.prepare(
            u"INSERT INTO frames (digits, received_ms, doubtful) VALUES (?, ?, ?)"_s) &&
        makeSure.prepare(u"UPDATE frames SET doubtful = 0 WHERE id = ?"_s) &&
        addReception.prepare(u"INSERT OR IGNORE INTO receptions "
                             u"(frame_id, source, received_ms, confidence, doubtful) "
                             u"VALUES (?, ?, ?, ?, ?)"_s) &&
        addQueued.prepare(u"INSERT OR IGNORE INTO outbox (frame_id, server, body, next_try_ms) "
                          u"VALUES (?, ?, ?, 0)"_s);
    QSqlQuery *failed = nullptr;
    // The sure frames this batch touches: their summaries and sources change with it.
    struct Touched
    {
        qint64 timeMs = 0;
        QString digits;
        bool summed = false; // in the summaries before this batch
    };
    std::map<qint64, Touched> touched;
    for (const Reception &reception : receptions) {
        if (!prepared)
            break;
        findFrame.addBindValue(reception.digits);
        findFrame.addBindValue(reception.receivedMs - SameFrameWindowMs);
        findFrame.addBindValue(reception.receivedMs + SameFrameWindowMs);
        findFrame.addBindValue(reception.receivedMs);
        if (!findFrame.exec()) {
            failed = &findFrame;
            break;
        }
        qint64 frameId = 0;
        qint64 frameTime = reception.receivedMs;
        bool sure = !reception.doubtful;
        if (findFrame.next()) {
            frameId = findFrame.value(0).toLongLong();
            frameTime = findFrame.value(1).toLongLong();
            const bool wasSure = findFrame.value(2).toInt() == 0;
            const bool deleted = findFrame.value(3).toInt() != 0;
            findFrame.finish();
            // The user deleted this frame: receiving it again neither brings it back nor sends it.
            if (deleted)
                continue;
            if (wasSure)
                touched.try_emplace(frameId, Touched{frameTime, reception.digits, true});
            sure = sure || wasSure;
            if (!reception.doubtful) {
                makeSure.addBindValue(frameId);
                if (!makeSure.exec()) {
                    failed = &makeSure;
                    break;
                }
            }
        } else {
            findFrame.finish();
            addFrame.addBindValue(reception.digits);
            addFrame.addBindValue(reception.receivedMs);
            addFrame.addBindValue(reception.doubtful ? 1 : 0);
            if (!addFrame.exec()) {
                failed = &addFrame;
                break;
            }
            frameId = addFrame.lastInsertId().toLongLong();
            ++result.frames;
        }
        if (sure)
            touched.try_emplace(frameId, Touched{frameTime, reception.digits, false});
        addReception.addBindValue(frameId);
        addReception.addBindValue(reception.source);
        addReception.addBindValue(reception.receivedMs);
        addReception.addBindValue(reception.confidence ? QVariant(*reception.confidence)
                                                       : QVariant(QMetaType::fromType<double>()));
        addReception.addBindValue(reception.doubtful ? 1 : 0);
        if (!addReception.exec()) {
            failed = &addReception;
            break;
        }
        result.receptions += addReception.numRowsAffected() > 0 ? 1 : 0;
        if (!queue || reception.doubtful)
            continue;
        for (const QString &server : queue->servers) {
            addQueued.addBindValue(frameId);
            addQueued.addBindValue(server);
            addQueued.addBindValue(queue->body(reception.digits, frameTime));
            if (!addQueued.exec()) {
                failed = &addQueued;
                break;
            }
            result.queued += addQueued.numRowsAffected() > 0 ? 1 : 0;
        }
        if (failed)
            break;
    }
    QString bucketError;
    if (prepared && !failed) {
        BucketWriter buckets(m_database);
        for (const auto &[id, frame] : touched)
            if (!frame.summed)
                buckets.addFrame(frame.timeMs, frame.digits);
        for (const auto &[id, frame] : touched)
            buckets.addSourcesOf(id, frame.timeMs);
        if (!buckets.write(bucketError))
            prepared = false;
    }
    if (!prepared || failed) {
        const QString why = !bucketError.isEmpty()
                                ? bucketError
                                : sqlError(failed ? failed->lastError() : m_database.lastError());
        for (QSqlQuery *query : {&findFrame, &addFrame, &makeSure, &addReception, &addQueued})
            query->finish();
        endTransaction(why);
        return std::nullopt;
    }
    if (!endTransaction())
        return std::nullopt;
    return result;
}

std::optional<OutboxRow> StationLog::claim(const QString &server, qint64 nowMs, qint64 claimMs,
                                           const QSet<qint64> &skip)
{
    m_error.clear();
    if (!m_database.isOpen() || !execute(u"BEGIN IMMEDIATE"_s))
        return std::nullopt;
    QSqlQuery candidates(m_database);
    candidates.prepare(u"SELECT id, body, attempts, claimed_by, claim_expires_ms FROM outbox "
                       u"WHERE server = ? AND state = 'queued' AND next_try_ms <= ? "
                       u"ORDER BY next_try_ms, id LIMIT 64"_s);
    candidates.addBindValue(server);
    candidates.addBindValue(nowMs);
    std::optional<OutboxRow> row;
    if (!candidates.exec())
        fail(u"cannot be read"_s, sqlError(candidates.lastError()));
    while (candidates.next()) {
        const qint64 id = candidates.value(0).toLongLong();
        const QString claimer = candidates.value(3).toString();
        const bool free = candidates.value(3).isNull() ||
                          candidates.value(4).toLongLong() < nowMs || claimHolderGone(claimer);
        if (skip.contains(id) || !free)
            continue;
        row = OutboxRow{id, server, candidates.value(1).toByteArray(),
                        candidates.value(2).toInt() + 1};
        break;
    }
    candidates.finish();
    if (row) {
        QSqlQuery take(m_database);
        take.prepare(u"UPDATE outbox SET claimed_by = ?, claim_expires_ms = ?, "
                     u"attempts = attempts + 1, last_try_ms = ? WHERE id = ?"_s);
        take.addBindValue(m_claimer);
        take.addBindValue(nowMs + claimMs);
        take.addBindValue(nowMs);
        take.addBindValue(row->id);
        if (!take.exec()) {
            fail(u"cannot be written"_s, sqlError(take.lastError()));
            row.reset();
        }
    }
    if (!row) {
        QSqlQuery(m_database).exec(u"ROLLBACK"_s);
        return std::nullopt;
    }
    if (!endTransaction())
        return std::nullopt;
    return row;
}

bool StationLog::markAccepted(qint64 id, qint64 nowMs)
{
    QSqlQuery query(m_database);
    query.prepare(u"UPDATE outbox SET state = 'accepted', accepted_ms = ?, last_error = NULL, "
                  u"claimed_by = NULL, claim_expires_ms = NULL WHERE id = ?"_s);
    query.addBindValue(nowMs);
    query.addBindValue(id);
    return query.exec() || fail(u"cannot be written"_s, sqlError(query.lastError()));
}

bool StationLog::markFailed(qint64 id, qint64 nextTryMs, const QString &error)
{
    QSqlQuery query(m_database);
    query.prepare(u"UPDATE outbox SET next_try_ms = ?, last_error = ?, claimed_by = NULL, "
                  u"claim_expires_ms = NULL WHERE id = ? AND state = 'queued'"_s);
    query.addBindValue(nextTryMs);
    query.addBindValue(error);
    query.addBindValue(id);
    return query.exec() || fail(u"cannot be written"_s, sqlError(query.lastError()));
}

std::optional<qint64> StationLog::markDeleted(qint64 sinceMs, qint64 untilMs)
{
    if (!m_database.isOpen()) {
        fail(u"is not open"_s, m_error);
        return std::nullopt;
    }
    if (untilMs <= sinceMs)
        return 0;
    if (!execute(u"BEGIN IMMEDIATE"_s))
        return std::nullopt;
    QSqlQuery query(m_database);
    const auto run = [&](const QString &statement) {
        query.prepare(statement);
        query.addBindValue(sinceMs);
        query.addBindValue(untilMs);
        return query.exec();
    };
    qint64 marked = 0;
    QString why;
    if (!run(u"SELECT count(*), min(received_ms), max(received_ms) FROM frames "
             u"WHERE deleted = 0 AND received_ms >= ? AND received_ms < ?"_s) ||
        !query.next()) {
        why = sqlError(query.lastError());
    } else if ((marked = query.value(0).toLongLong()) > 0) {
        const qint64 first = query.value(1).toLongLong();
        const qint64 last = query.value(2).toLongLong();
        query.finish();
        if (!run(u"UPDATE outbox SET state = 'cancelled', claimed_by = NULL, "
                 u"claim_expires_ms = NULL WHERE state = 'queued' AND frame_id IN "
                 u"(SELECT id FROM frames WHERE deleted = 0 AND received_ms >= ? "
                 u"AND received_ms < ?)"_s) ||
            !run(u"UPDATE frames SET deleted = 1 WHERE deleted = 0 AND received_ms >= ? "
                 u"AND received_ms < ?"_s))
            why = sqlError(query.lastError());
        else
            rebuildBuckets(m_database, first, last + 1, why);
    }
    query.finish();
    if (!endTransaction(why))
        return std::nullopt;
    return marked;
}

QueueState StationLog::queueState(const QString &server)
{
    QueueState state;
    QSqlQuery counts(m_database);
    counts.prepare(u"SELECT coalesce(sum(state = 'queued'), 0), "
                   u"coalesce(sum(state = 'accepted'), 0) FROM outbox WHERE server = ?"_s);
    counts.addBindValue(server);
    if (counts.exec() && counts.next()) {
        state.queued = counts.value(0).toInt();
        state.accepted = counts.value(1).toInt();
    }
    QSqlQuery error(m_database);
    error.prepare(u"SELECT last_error FROM outbox WHERE server = ? AND state = 'queued' "
                  u"AND last_error IS NOT NULL ORDER BY last_try_ms DESC LIMIT 1"_s);
    error.addBindValue(server);
    if (error.exec() && error.next())
        state.lastError = error.value(0).toString();
    return state;
}

std::optional<qint64> StationLog::nextDue(const QString &server)
{
    QSqlQuery query(m_database);
    query.prepare(u"SELECT min(next_try_ms) FROM outbox WHERE server = ? AND state = 'queued'"_s);
    query.addBindValue(server);
    if (!query.exec() || !query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

} // namespace tovrin3::station
