#include "commands/accessdaemon.h"
#include "commands/txdeal.h"

#include "platform/platform.h"

#include <QDateTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// Result code of a change the device could not store or carry out.
constexpr int notDone = 5;

// The device parameters: member of "datas" and key of "sqlconfig.ini", in the order they are
// stored. The device information answers each under its key in lower case.
struct Parameter
{
    const char *member;
    const char *key;
};
const Parameter parameters[] = {
    {"exit", "EXIT"},
    {"longopen", "LONGOPEN"},
    {"localalarm", "LOCALALARM"},
    {"readeronline", "READERONLINE"},
    {"lockerror", "LOCKERROR"},
    {"readerat", "READERAT"},
    {"acufc", "ACUFC"},
    {"acukg", "ACUKG"},
    {"masterpower", "MASTERPOWER"},
    {"acpower", "ACPOWER"},
    {"backpower", "BACKPOWER"},
    {"hs", "HS"},
    {"releasetime", "RELEASETIME"},
    {"opentime", "OPENTIME"},
    {"openalarmtime", "OPENALARMTIME"},
    {"doorenable1", "DOORENABLE1"},
    {"doorenable2", "DOORENABLE2"},
    {"doorenable3", "DOORENABLE3"},
    {"doorenable4", "DOORENABLE4"},
    {"yysz", "YYSZ"},
    {"cellmin", "CELL_VOLATAGE_MIN"},
    {"cellmax", "CELL_VOLATAGE_MAX"},
    {"chargevol", "CHARGE_VOLATAGE_MIN"},
};

// Firmware of major version 8 has no "HS" setting of its own; the device information always
// shows it as 3 there.
bool firmwareWithoutHs(const QString &firmware)
{
    return !firmware.isEmpty() && firmware.section(QLatin1Char('.'), 0, 0) == QLatin1String("8");
}

// The counts of the store's reply to 80, by their number in it (1 persons ... 12 records).
struct Count
{
    const char *member;
    int number;
};
const Count counts[] = {
    {"person", 1},
    {"cardid", 2},
    {"permit", 3},
    {"warrant", 5},
    {"timezone", 6},
    {"holiday", 7},
    {"stay", 9},
    {"recordidmin", 10},
    {"recordidmax", 11},
    {"record", 12},
};

} // namespace

// Opens an encrypted device message into *message and *id; answers 2 itself, and returns
// false, when its "devicesn" is not this device's. *wellFormed as for decode_aes.
bool TxDeal::open_device_message(HttpRequest &request, HttpResponse &response, QJsonObject *message,
    QString *id, bool *wellFormed)
{
    *message = QstringToJson(decode_aes(bodyText(request), wellFormed));
    return for_this_device(request, response, *message, id);
}

// Reads the "id" of message into *id; answers 2 itself, and returns false, when its "devicesn"
// is not this device's.
bool TxDeal::for_this_device(
    HttpRequest &request, HttpResponse &response, const QJsonObject &message, QString *id)
{
    *id = json_to_qstring(message.value(QLatin1String("id")));
    if (json_to_qstring(message.value(QLatin1String("devicesn")))
        != read_userset(QStringLiteral("DEVICESN"))) {
        SendReponse(request, response, sendback_respond(*id, 2));
        return false;
    }
    return true;
}

// Stores every non-zero device parameter of "datas", tells the access daemon, and sets the
// clock when "datas" has a "time" ("yyyy-MM-dd hh:mm:ss"). A time that is not one is refused
// with 3 before anything changes; a parameter or clock that could not be set answers 5.
void TxDeal::system_process(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const QString time = json_to_qstring(datas.value(QLatin1String("time")));
    QDate day;
    QTime clock;
    if (!time.isEmpty()
        && !read_clock(time.section(QLatin1Char(' '), 0, 0), time.section(QLatin1Char(' '), 1),
            &day, &clock)) {
        SendReponse(request, response, sendback_respond(id, 3));
        return;
    }

    bool stored = true;
    for (const Parameter &parameter : parameters) {
        const quint32 value = json_to_uint(datas.value(QLatin1String(parameter.member)));
        if (value == 0)
            continue;
        if (qstrcmp(parameter.key, "HS") == 0
            && firmwareWithoutHs(send_dbus(20, 4, QStringLiteral("FIRMWARE"))))
            continue;
        if (send_dbus(20, 3, QStringLiteral("%1.%2").arg(QLatin1String(parameter.key)).arg(value))
            != QLatin1String("0")) {
            stored = false;
            break;
        }
    }
    // Also after a failure: what was stored before it has changed.
    accessdaemon::sendchange();
    if (!stored) {
        SendReponse(request, response, sendback_respond(id, notDone));
        return;
    }
    if (!time.isEmpty()) {
        if (!platform::setClock(day, clock)) {
            SendReponse(request, response, sendback_respond(id, notDone));
            return;
        }
        accessdaemon::checktime();
    }
    SendReponse(request, response, sendback_respond(id, 1));
}

// The counts, the time and the device parameters; 3 when the store could not count.
void TxDeal::get_system(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_device_message(request, response, &message, &id))
        return;
    const QString counted = send_dbus(80, 0, QString());
    if (counted.section(QLatin1Char('.'), 0, 0) != QLatin1String("0")) {
        SendReponse(request, response, sendback_respond(id, 3));
        return;
    }
    SendReponse(request, response, sendback_data(id, 1, get_system_obj(counted)));
}

// The device information of the store's reply to 80 ("0." and twelve counts).
QJsonObject TxDeal::get_system_obj(const QString &counted)
{
    const QStringList numbers = counted.split(QLatin1Char('.'));
    QJsonObject object;
    for (const Count &count : counts)
        object.insert(QLatin1String(count.member), qint64(numbers.value(count.number).toUInt()));
    object.insert(QStringLiteral("time"),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    for (const Parameter &parameter : parameters) {
        const QString value = send_dbus(20, 4, QLatin1String(parameter.key));
        if (!value.isEmpty())
            object.insert(QString::fromLatin1(parameter.key).toLower(), qint64(value.toUInt()));
    }
    if (firmwareWithoutHs(send_dbus(20, 4, QStringLiteral("FIRMWARE"))))
        object.insert(QStringLiteral("hs"), 3);
    return object;
}
