#include "commandclient.h"

#include "crypto/aescipher.h"
#include "serverprocess.h"

#include <QJsonDocument>

namespace {

const QByteArray envelopeKey = "KQWZ5830271946mv";

} // namespace

CommandClient::CommandClient(const ServerProcess &server, const QString &devicesn)
    : server(server)
    , devicesn(devicesn)
{ }

QByteArray CommandClient::post(const QByteArray &path, const QByteArray &body)
{
    const ServerProcess::Reply reply = server.post(path, body, session);
    if (!reply.sessionId.isEmpty())
        session = reply.sessionId;
    return reply.body;
}

QJsonObject CommandClient::send(const QByteArray &path, QJsonObject message)
{
    if (!message.contains(QLatin1String("id")))
        message.insert(QStringLiteral("id"), QStringLiteral("t1"));
    if (!message.contains(QLatin1String("devicesn")))
        message.insert(QStringLiteral("devicesn"), devicesn);
    return open(post(path, seal(QJsonDocument(message).toJson(QJsonDocument::Compact))));
}

int CommandClient::respond(const QByteArray &path, const QJsonObject &message)
{
    return send(path, message).value(QLatin1String("respond")).toInt(-1);
}

bool CommandClient::login(const QString &name, const QString &password)
{
    const QJsonObject datas {{"username", name}, {"password", password}};
    return respond("/command/tplogin", {{"datas", datas}}) == 1;
}

QByteArray CommandClient::seal(const QByteArray &plain)
{
    return AesCipher::Crypt(
        AesCipher::AES_128, AesCipher::ECB, plain, envelopeKey, QByteArray(), AesCipher::ZERO)
        .toBase64();
}

QJsonObject CommandClient::open(const QByteArray &body)
{
    QByteArray plain = AesCipher::Decrypt(AesCipher::AES_128, AesCipher::ECB,
        QByteArray::fromBase64(body), envelopeKey, QByteArray(), AesCipher::ZERO);
    while (plain.endsWith('\0'))
        plain.chop(1);
    return QJsonDocument::fromJson(plain).object();
}
