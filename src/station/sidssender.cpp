// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidssender.h"

#include "sidsrequest.h"
#include "stationsettings.h"

#include <QDateTime>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    return host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 ||
           QHostAddress(host).isLoopback();
}

// The reason for a failed request, from its error code alone: Qt's own error texts may quote the
// URL with its credentials.
QString networkFailure(QNetworkReply::NetworkError error, const SendTiming &timing)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return u"connection refused"_s;
    case QNetworkReply::RemoteHostClosedError:
        return u"the server closed the connection"_s;
    case QNetworkReply::HostNotFoundError:
        return u"server not found"_s;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return u"no answer within %1 s"_s.arg(timing.transferTimeoutMs / 1000.0);
    case QNetworkReply::SslHandshakeFailedError:
        return u"the server's certificate is not trusted"_s;
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return u"the network is down"_s;
    default:
        return u"network error %1"_s.arg(int(error));
    }
}

} // namespace

qint64 retryDelayMs(int attempts, std::optional<qint64> retryAfter, const SendTiming &timing)
{
    if (retryAfter)
        return std::clamp(*retryAfter, timing.shortestDelayMs, timing.longestDelayMs);
    const int doublings = std::clamp(attempts - 1, 0, 30);
    const qint64 base =
        std::min(timing.longestDelayMs, timing.shortestDelayMs * (qint64(1) << doublings));
    const qint64 jitter = QRandomGenerator::global()->bounded(base / 2 + 1);
    return std::clamp(base + jitter, timing.shortestDelayMs, timing.longestDelayMs);
}

std::optional<qint64> retryAfterMs(const QByteArray &header, qint64 nowMs)
{
    const QByteArray text = header.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? std::nullopt
                           : std::optional<qint64>(std::min(seconds, qint64(1) << 40) * 1000);
    // HTTP dates end in "GMT", which the RFC 2822 reading takes as an offset only when written
    // as one.
    QString dateText = QString::fromLatin1(text);
    if (dateText.endsWith(u" GMT"_s))
        dateText = dateText.chopped(4) + u" +0000"_s;
    const QDateTime date = QDateTime::fromString(dateText, Qt::RFC2822Date);
    if (!date.isValid())
        return std::nullopt;
    return std::max<qint64>(0, date.toMSecsSinceEpoch() - nowMs);
}

QString shownReply(const QByteArray &reply, qsizetype limit)
{
    QString text = QString::fromUtf8(reply.left(MaxReplyBytes));
    for (QChar &character : text)
        if (character.category() == QChar::Other_Control ||
            character.category() == QChar::Other_Format)
            character = u' ';
    text = text.simplified();
    if (text.size() > limit)
        text = text.first(limit) + u"..."_s;
    return text;
}

struct SidsSender::Server
{
    QUrl url;
    QString key;
    bool loopback = false;
    bool busy = false;
    bool waiting = false; // for the pause between requests to a remote server
    qint64 lastRequestMs = 0;
    QSet<qint64> tried; // rows tried in this run
    QTimer *timer = nullptr;
};

SidsSender::SidsSender(QString logPath, QList<QUrl> servers, SendTiming timing, QObject *parent)
    : QObject(parent), m_logPath(std::move(logPath)), m_timing(timing)
{
    for (const QUrl &url : servers) {
        auto server = std::make_unique<Server>();
        server->url = url;
        server->key = serverKey(url);
        server->loopback = isLoopback(url);
        m_servers.push_back(std::move(server));
    }
}

SidsSender::~SidsSender() = default;

QString SidsSender::serverKey(const QUrl &url)
{
    return url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
}

qint64 SidsSender::now() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

void SidsSender::start()
{
    m_log = std::make_unique<StationLog>();
    if (!m_log->open(m_logPath)) {
        m_logBroken = true;
        emit logFailed(m_log->errorString());
        checkDrained();
        return;
    }
    m_network = new QNetworkAccessManager(this);
    m_network->setTransferTimeout(m_timing.transferTimeoutMs);
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    for (const auto &server : m_servers) {
        server->timer = new QTimer(this);
        server->timer->setSingleShot(true);
        Server *const target = server.get();
        connect(server->timer, &QTimer::timeout, this, [this, target] {
            pump(*target);
            checkDrained();
        });
    }
    wake();
}

void SidsSender::wake()
{
    for (const auto &server : m_servers)
        pump(*server);
    checkDrained();
}

void SidsSender::drain()
{
    m_draining = true;
    wake();
}

void SidsSender::pump(Server &server)
{
    if (server.busy || m_logBroken || !m_log)
        return;
    const qint64 current = now();
    server.waiting = false;
    const qint64 interval =
        server.loopback ? m_timing.loopbackIntervalMs : m_timing.remoteIntervalMs;
    if (server.lastRequestMs > 0 && current - server.lastRequestMs < interval) {
        server.waiting = true;
        server.timer->start(int(server.lastRequestMs + interval - current));
        return;
    }
    const std::optional<OutboxRow> row =
        m_log->claim(server.key, current, m_timing.transferTimeoutMs + 10'000,
                     m_draining ? server.tried : QSet<qint64>());
    if (row) {
        send(server, *row);
        return;
    }
    if (!m_log->errorString().isEmpty()) {
        m_logBroken = true;
        emit logFailed(m_log->errorString());
        return;
    }
    if (m_draining)
        return;
    if (const std::optional<qint64> due = m_log->nextDue(server.key))
        server.timer->start(int(std::clamp<qint64>(*due - current, 0, m_timing.longestDelayMs)));
}

void SidsSender::send(Server &server, const OutboxRow &row)
{
    QNetworkRequest request(server.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
    request.setHeader(QNetworkRequest::UserAgentHeader, softwareVersion());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setTransferTimeout(m_timing.transferTimeoutMs);
    server.busy = true;
    server.lastRequestMs = now();
    server.tried.insert(row.id);
    QNetworkReply *const reply = m_network->post(request, row.body);
    auto received = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, received] {
        const QByteArray more = reply->read(MaxReplyBytes + 1 - received->size());
        received->append(more);
        if (received->size() > MaxReplyBytes)
            reply->abort();
    });
    Server *const target = &server;
    connect(reply, &QNetworkReply::finished, this, [this, target, reply, row, received] {
        reply->setProperty("received", *received);
        conclude(*target, reply, row);
    });
}

void SidsSender::conclude(Server &server, QNetworkReply *reply, const OutboxRow &row)
{
    reply->deleteLater();
    server.busy = false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.isValid() ? status.toInt() : 0;
    const qint64 current = now();
    bool written = true;
    if (code >= 200 && code < 300) {
        written = m_log->markAccepted(row.id, current);
        if (written) {
            ++m_accepted;
            emit rowAccepted(row.id);
        }
    } else {
        QString error;
        if (code > 0) {
            const QString reason =
                reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            error = u"HTTP %1 %2"_s.arg(code).arg(shownReply(reason.toUtf8(), 60));
            const QString answer = shownReply(reply->property("received").toByteArray());
            if (!answer.isEmpty())
                error += u": "_s + answer;
            if (code >= 300 && code < 400)
                error += u" (a redirect, not followed)"_s;
        } else {
            error = networkFailure(reply->error(), m_timing);
        }
        error = error.trimmed();
        const std::optional<qint64> retryAfter =
            code > 0 ? retryAfterMs(reply->rawHeader("Retry-After"), current) : std::nullopt;
        written =
            m_log->markFailed(row.id, current + retryDelayMs(row.attempts, retryAfter, m_timing),
                              u"%1: %2"_s.arg(displayedUrl(server.url), error));
        emit rowFailed(row.id, error);
    }
    if (!written) {
        m_logBroken = true;
        emit logFailed(m_log->errorString());
    }
    pump(server);
    checkDrained();
}

void SidsSender::checkDrained()
{
    if (!m_draining)
        return;
    const bool idle = std::ranges::none_of(
        m_servers, [](const auto &server) { return server->busy || server->waiting; });
    if (idle) {
        m_draining = false;
        emit drained();
    }
}

} // namespace tovrin3::station
