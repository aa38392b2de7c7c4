#include "commands/txdeal.h"

#include "httpserver/httprequest.h"

#include <QHostAddress>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// Serial numbers are the last five characters of whatever the installer sent.
constexpr int serialNumberLength = 5;

} // namespace

// Writes the serial number or the door count, each only once. Installers send the text by hand,
// so line ends and spaces are dropped before the length decides which of the two it is.
void TxDeal::writesn(HttpRequest &request, HttpResponse &response)
{
    QString text = bodyText(request);
    text.remove(QStringLiteral("\r\n"));
    text.remove(QLatin1Char(' '));

    if (text.size() >= serialNumberLength) {
        const QString stored = read_userset(QStringLiteral("DEVICESN"));
        if (!stored.isEmpty()) {
            SendReponse(request, response, QStringLiteral("ERROR-%1").arg(stored));
            return;
        }
        const QString serialNumber = text.right(serialNumberLength);
        SendReponse(request, response,
            write_userset(QStringLiteral("DEVICESN"), serialNumber)
                ? QStringLiteral("OK-%1").arg(serialNumber)
                : QStringLiteral("error-write"));
        return;
    }
    if (text.size() == 1) {
        const QChar doors = text.at(0);
        if (doors < QLatin1Char('1') || doors > QLatin1Char('8')) {
            SendReponse(request, response, QStringLiteral("error-para"));
            return;
        }
        if (!read_netset(QStringLiteral("DOORCOUNT")).isEmpty()) {
            SendReponse(request, response, QStringLiteral("ERROR-writed"));
            return;
        }
        SendReponse(request, response,
            write_netset(QStringLiteral("DOORCOUNT"), text) ? QStringLiteral("OK-%1").arg(text)
                                                            : QStringLiteral("error-write"));
        return;
    }
    // Two to four characters are neither a serial number nor a door count: an empty answer.
    SendReponse(request, response, QString());
}

// Hands out the next value of the transaction counter of the caller's address; "processtag"
// lets several programs on one computer keep counters of their own.
void TxDeal::get_txid(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QString processTag = json_to_qstring(message.value(QLatin1String("processtag")));
    const QString key = request.getPeerAddress().toString() + processTag;
    qDebug("ip :%s", qUtf8Printable(key));
    SendReponse(request, response, sendback_data_txid(id, 1, get_txid_obj(key), key));
}
