#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class ServerProcess;

// A management client of the test's own: seals messages with the cipher itself, not with the
// server's envelope code, so the server is checked against an independent client; presents the
// session cookie that the server set last.
class CommandClient
{
public:
    explicit CommandClient(const ServerProcess &server, const QString &devicesn = "12345");

    // Posts body as it stands; the reply body, empty when none came.
    QByteArray post(const QByteArray &path, const QByteArray &body);
    // Seals message (with "id" and "devicesn" filled in where missing), posts it and opens the
    // reply; an empty object when the reply does not open.
    QJsonObject send(const QByteArray &path, QJsonObject message);
    // send's reply code; -1 when there was none.
    int respond(const QByteArray &path, const QJsonObject &message);
    // Encrypted login; true when the server answered 1.
    bool login(const QString &name = "dorx", const QString &password = "6172839405");

    // The session cookie's value, once the server has set one.
    QByteArray sessionId() const { return session; }

    static QByteArray seal(const QByteArray &plain);
    static QJsonObject open(const QByteArray &body);

private:
    const ServerProcess &server;
    QString devicesn;
    QByteArray session;
};
