#include "commands/txdeal.h"

#include "commands/accessdaemon.h"
#include "httpserver/httprequest.h"
#include "store/storetext.h"

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// Doors of a terminal, numbered from 0 by the clients and from 1 by the access daemon.
constexpr quint32 doorCount = 4;

// Settings that the server itself lives on; a face reader registered under one of these names
// would lock every client out (the serial number can be written only once) or hand out access
// record numbers a second time.
const char *const serverSettings[] = {"DEVICESN", "RECORDID"};

} // namespace

// Opens door "doornum" (0 to 3) for good, unless long-open is switched off by the store setting
// "LONGOPEN" 2 (answered 10). The daemon's answer is only logged: 1 says the order went out.
void TxDeal::longopen_process(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const quint32 doornum = json_to_uint(datas.value(QLatin1String("doornum")));
    if (doornum >= doorCount) {
        SendReponse(request, response, sendback_respond(id, 3));
        return;
    }
    if (storetext::toNumber(send_dbus(20, 4, QStringLiteral("LONGOPEN"))) == 2) {
        SendReponse(request, response, sendback_respond(id, 10));
        return;
    }
    accessdaemon::open(quint8(doornum + 1));
    SendReponse(request, response, sendback_respond(id, 1));
}

// Passes a remote verification to the daemon and answers what it decided; 4 when it could not be
// asked. Clients have always spelled the direction "direciton"; the correct spelling is taken
// when that is missing.
void TxDeal::ycqr_process(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const auto number
        = [&datas](const char *name) { return json_to_uint(datas.value(QLatin1String(name))); };
    const quint32 doornum = number("doornum");
    const quint32 direction
        = datas.contains(QLatin1String("direciton")) ? number("direciton") : number("direction");
    if (doornum >= doorCount || direction > 1) {
        SendReponse(request, response, sendback_respond(id, 3));
        return;
    }
    const quint8 code = accessdaemon::ycqr(
        number("personid"), quint8(doornum), quint8(direction), quint8(number("result")));
    SendReponse(request, response, sendback_respond(id, code));
}

// Registers a face reader: the store settings get its key with the reader number as value, where
// the daemon looks for them.
void TxDeal::facedevice_process(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const QString key = json_to_qstring(datas.value(QLatin1String("facedevicekey")));
    const quint32 readernum = json_to_uint(datas.value(QLatin1String("readernum")));
    bool reserved = false;
    for (const char *setting : serverSettings)
        reserved = reserved || key == QLatin1String(setting);
    if (key.isEmpty() || reserved) {
        SendReponse(request, response, sendback_respond(id, 3));
        return;
    }
    const QString written
        = send_dbus(20, 3, storetext::encode(key) + QLatin1Char('.') + QString::number(readernum));
    SendReponse(request, response, sendback_respond(id, written == QLatin1String("0") ? 1 : 5));
}

// A face reader's notice, plain JSON without login: passed on to the daemon; the reader expects
// no answer beyond the empty reply.
void TxDeal::faceinput(HttpRequest &request, HttpResponse &)
{
    const QString body = bodyText(request);
    qDebug("faceinput :%s", qUtf8Printable(body));
    const QJsonObject message = QstringToJson(body);
    const auto text = [&message](const char *name) {
        return json_to_qstring(message.value(QLatin1String(name)));
    };
    const QString deviceKey = text("deviceKey");
    const QString personId = text("personId");
    const QString type = text("type");
    qDebug("devicekey :%s", qUtf8Printable(deviceKey));
    qDebug("imagepath :%s", qUtf8Printable(text("path")));
    qDebug("personid :%s", qUtf8Printable(personId));
    qDebug("type :%s", qUtf8Printable(type));
    accessdaemon::send_faceinput(personId, type, deviceKey);
}
