// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A SiDS server on 127.0.0.1 for the station tests: it records every request and answers each
// as the test scripts it.
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace tovrin3::testing {

class SidsServer : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        int status = 200;
        QByteArray extraHeaders{}; // "Retry-After: 1\r\n" and the like
        QByteArray body{};
        bool hold = false; // never answer; the connection stays open
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray headers; // as received, one per line
        QByteArray body;
        qint64 receivedMs = 0; // since the server was made
    };

    explicit SidsServer(QObject *parent = nullptr);

    // Listens on an unused port of 127.0.0.1, or again on the port it had.
    bool listen();
    // Stops listening: connections are refused until listen() again.
    void close() { m_server.close(); }
    QUrl url(const QString &path = QStringLiteral("/api/telemetry/")) const;
    // Answers the next requests in this order, then 200 to every further one.
    void script(const QList<Answer> &answers) { m_script = answers; }

    QList<Request> requests;
    int connections = 0;

signals:
    void requestReceived();

private:
    void readFrom(QTcpSocket *socket);

    QTcpServer m_server;
    QElapsedTimer m_clock;
    quint16 m_port = 0;
    QList<Answer> m_script;
};

} // namespace tovrin3::testing
