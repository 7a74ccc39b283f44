// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "stationlog.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tovrin3::station {

// How the sender paces itself; tests shorten it.
struct SendTiming
{
    int transferTimeoutMs = 15'000; // a server silent this long has not answered
    qint64 shortestDelayMs = 1'000; // back-off and Retry-After stay within these
    qint64 longestDelayMs = 3'600'000;
    qint64 remoteIntervalMs = 1'000; // between requests to a server off the loopback address
    qint64 loopbackIntervalMs = 0;   // between requests to a server on it
};

// At most this much of a reply is read.
inline constexpr qint64 MaxReplyBytes = 4096;

// The delay before the next try of a row tried `attempts` times: doubling from the shortest,
// with up to half again of random jitter, or the server's Retry-After; always within the
// timing's bounds.
qint64 retryDelayMs(int attempts, std::optional<qint64> retryAfterMs, const SendTiming &timing);

// Retry-After as seconds or as an HTTP date, in milliseconds from nowMs; none when unreadable.
std::optional<qint64> retryAfterMs(const QByteArray &header, qint64 nowMs);

// A server's reply made fit to show: control and formatting characters become spaces, and at
// most `limit` characters are kept.
QString shownReply(const QByteArray &reply, qsizetype limit = 200);

// Sends the queued rows of the station log to the SiDS servers by HTTP POST, one request at a
// time per server (so one kept-alive connection), asynchronously in the thread the sender lives
// in. Only a 2xx answer marks a row accepted; anything else (no connection, no answer within the
// transfer timeout, 3xx as redirects are not followed, 4xx, 5xx) leaves it queued until its next
// try. Certificates are always checked and no cookies are kept. Messages never show a URL's
// user name or password.
class SidsSender : public QObject
{
    Q_OBJECT

public:
    SidsSender(QString logPath, QList<QUrl> servers, SendTiming timing = {},
               QObject *parent = nullptr);
    ~SidsSender() override;

    // Rows accepted by this sender.
    int acceptedCount() const { return m_accepted.load(); }

    // The key a server's rows carry in the log: its URL without user name and password, which
    // are kept nowhere but in conf.ini and the requests.
    static QString serverKey(const QUrl &url);

public slots:
    // Opens the log in the sender's thread and sends what is due.
    void start();
    // New rows may be due.
    void wake();
    // Tries every row due now once (a row already tried in this run is not tried again), then
    // emits drained(); failed rows are not retried in this run.
    void drain();

signals:
    void drained();
    void rowAccepted(qint64 id);
    void rowFailed(qint64 id, const QString &error);
    void logFailed(const QString &error);

private:
    struct Server;

    void pump(Server &server);
    void send(Server &server, const OutboxRow &row);
    void conclude(Server &server, QNetworkReply *reply, const OutboxRow &row);
    void checkDrained();
    qint64 now() const;

    const QString m_logPath;
    const SendTiming m_timing;
    std::unique_ptr<StationLog> m_log;
    QNetworkAccessManager *m_network = nullptr;
    std::vector<std::unique_ptr<Server>> m_servers;
    std::atomic<int> m_accepted = 0;
    bool m_draining = false;
    bool m_logBroken = false;
};

} // namespace tovrin3::station
