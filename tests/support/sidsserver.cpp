// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidsserver.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace tovrin3::testing {

SidsServer::SidsServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        }
    });
}

bool SidsServer::listen()
{
    if (m_server.isListening())
        return true;
    if (!m_server.listen(QHostAddress::LocalHost, m_port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

QUrl SidsServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

// Requests on one connection come one after another; each is answered before the next is read.
void SidsServer::readFrom(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            break;
        const QByteArray head = buffer.first(headEnd);
        qsizetype length = 0;
        for (const QByteArray &line : head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (buffer.size() < headEnd + 4 + length)
            break;
        Request request;
        const QList<QByteArray> firstLine = head.first(head.indexOf("\r\n")).split(' ');
        request.method = firstLine.value(0);
        request.path = firstLine.value(1);
        request.headers = head.mid(head.indexOf("\r\n") + 2);
        request.body = buffer.mid(headEnd + 4, length);
        request.receivedMs = m_clock.elapsed();
        buffer.remove(0, headEnd + 4 + length);
        requests.append(request);
        const Answer answer = m_script.isEmpty() ? Answer{} : m_script.takeFirst();
        emit requestReceived();
        if (answer.hold)
            continue;
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Scripted\r\n" +
                      "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n" +
                      answer.extraHeaders + "\r\n" + answer.body);
    }
    socket->setProperty("buffer", buffer);
}

} // namespace tovrin3::testing
