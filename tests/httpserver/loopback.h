#pragma once

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

// Two connected loopback sockets in the test's thread: `client` is the test's end, `server` the
// end a connection handler would own.
class Loopback
{
public:
    Loopback()
    {
        listener.listen(QHostAddress::LocalHost, 0);
        client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (client.waitForConnected(5000) && listener.waitForNewConnection(5000))
            server = listener.nextPendingConnection();
    }

    // Writes bytes at the client end and waits until all of them are readable at the server.
    bool deliver(const QByteArray &bytes)
    {
        const qint64 target = server ? server->bytesAvailable() + bytes.size() : -1;
        client.write(bytes);
        for (QDeadlineTimer deadline(10000);
             server && server->bytesAvailable() < target && !deadline.hasExpired();) {
            client.waitForBytesWritten(10);
            server->waitForReadyRead(10);
        }
        return server && server->bytesAvailable() >= target;
    }

    // What the server end wrote: at least count bytes, unless 10 s pass or it closes first.
    QByteArray receive(qint64 count)
    {
        QByteArray bytes = client.readAll();
        for (QDeadlineTimer deadline(10000); bytes.size() < count && !deadline.hasExpired()
             && client.state() == QAbstractSocket::ConnectedState;) {
            server->waitForBytesWritten(10);
            if (client.waitForReadyRead(10))
                bytes += client.readAll();
        }
        return bytes + client.readAll();
    }

    QTcpServer listener;
    QTcpSocket client;
    QTcpSocket *server = nullptr;
};
