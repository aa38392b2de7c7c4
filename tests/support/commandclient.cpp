#include "commandclient.h"

#include "crypto/aescipher.h"

#include <QJsonDocument>

static const QByteArray envelopeKey = "KQWZ5830271946mv";
const QString serialNumber = "12345";

QByteArray sealed(const QJsonObject &message)
{
    return sealedText(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QByteArray sealedText(const QByteArray &plain)
{
    return AesCipher::Crypt(
        AesCipher::AES_128, AesCipher::ECB, plain, envelopeKey, QByteArray(), AesCipher::ZERO)
        .toBase64();
}

QJsonObject opened(const QByteArray &body)
{
    QByteArray plain = AesCipher::Decrypt(AesCipher::AES_128, AesCipher::ECB,
        QByteArray::fromBase64(body), envelopeKey, QByteArray(), AesCipher::ZERO);
    while (plain.endsWith('\0'))
        plain.chop(1);
    return QJsonDocument::fromJson(plain).object();
}

QByteArray message(const QJsonValue &id, const QString &devicesn, const QJsonObject &extra)
{
    QJsonObject object = extra;
    object.insert("id", id);
    object.insert("devicesn", devicesn);
    return sealed(object);
}

QByteArray loginMessage(
    const QString &name, const QString &password, const QString &devicesn, const QJsonValue &id)
{
    return message(
        id, devicesn, {{"datas", QJsonObject {{"username", name}, {"password", password}}}});
}

QString Client::post(const QByteArray &path, const QByteArray &body)
{
    const ServerProcess::Reply reply = server.post(path, body, session);
    if (!reply.sessionId.isEmpty())
        session = reply.sessionId;
    return QString::fromUtf8(reply.body);
}

QJsonObject Client::exchange(const QByteArray &path, const QByteArray &body)
{
    return opened(post(path, body).toLatin1());
}

QJsonObject Client::exchange(const QByteArray &path, QJsonObject members)
{
    const QJsonValue id = members.value("id");
    return exchange(path,
        message(id.isUndefined() ? "t1" : id, members.value("devicesn").toString(serialNumber),
            members));
}

int Client::send(const QByteArray &path, const QJsonObject &members)
{
    return exchange(path, members).value("respond").toInt(-1);
}

int Client::login(const QString &name, const QString &password)
{
    return exchange("/command/tplogin", loginMessage(name, password)).value("respond").toInt(-1);
}

bool Client::loggedIn()
{
    return post("/command/operator_get", "").startsWith("OK");
}
