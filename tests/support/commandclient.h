#pragma once

#include "serverprocess.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The serial number that the command tests give their servers ("DEVICESN" of sqlconfig.ini).
extern const QString serialNumber;

// Seals a message as the management client does, built from the cipher itself so that the
// server's envelope code is checked against an independent client.
QByteArray sealed(const QJsonObject &message);
QByteArray sealedText(const QByteArray &plain);
// The JSON object of a sealed reply; empty when it does not open.
QJsonObject opened(const QByteArray &body);
// A sealed message with "id", "devicesn" and the members of extra.
QByteArray message(const QJsonValue &id, const QString &devicesn, const QJsonObject &extra = {});
QByteArray loginMessage(const QString &name, const QString &password,
    const QString &devicesn = serialNumber, const QJsonValue &id = QStringLiteral("L1"));

// A browser or management client: presents the session cookie that the server set last.
class Client
{
public:
    explicit Client(const ServerProcess &server)
        : server(server)
    { }

    // The reply body to a post of body to path.
    QString post(const QByteArray &path, const QByteArray &body);
    // The opened reply to a sealed message.
    QJsonObject exchange(const QByteArray &path, const QByteArray &body);
    // The same, and its "respond" code, for a message of these members, "id" and "devicesn"
    // (serialNumber) filled in where they are missing.
    QJsonObject exchange(const QByteArray &path, QJsonObject members);
    int send(const QByteArray &path, const QJsonObject &members);
    int login(const QString &name, const QString &password);
    bool loggedIn();
    QByteArray sessionId() const { return session; }

private:
    const ServerProcess &server;
    QByteArray session;
};
