#include "commands/txdeal.h"

#include "store/recordfields.h"
#include "store/storetext.h"

#include <QVector>

using weblet::HttpRequest;
using weblet::HttpResponse;
using namespace records;

// What tells one kind of record from another on the command interface; the commands themselves
// are one implementation for every kind (maintain_records, query_records).
struct RecordKind
{
    quint8 table; // table code of the store command language
    const char *key; // "datas" member that holds the key
    const char *key2; // the door settings' second key member ("direction"); null elsewhere
    // The record of an add order in pipe text form; *carried false when one of its texts cannot
    // be stored exactly. Null where clients cannot add (the store numbers access records).
    QString (*pipeText)(const QJsonObject &datas, bool *carried);
    QJsonObject (*object)(const QString &row); // reply object of a row; null: no query
    const char *replyLog; // label of the debug line with a page's store reply; null: none
    bool accessRecords; // also read by number range; an unreadable query body answers 6
};

namespace {

// Result codes of the record commands.
enum Respond {
    Done = 1,
    NotOneOfTheOrders = 3, // also: a text value that would not be stored exactly as sent
    NothingFound = 4,
    WriteFailed = 5, // the store could not carry the change out
    TooMany = 9,
};

// Most objects in one page reply, and in one reply to a record-number range (the array's count
// is 8 bits wide).
constexpr quint32 pageLimit = 100;
constexpr quint32 rangeLimit = 255;

// The databases and the UTF-8 of every reply carry any text of whole characters, even NUL; half
// of a surrogate pair, which a JSON "\u" escape can produce, would come back as "?".
bool isWholeCharacters(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    return true;
}

// Fills a record from "datas": numbers given as JSON numbers or decimal strings, texts as strings
// or numbers (taken as their decimal text); a missing member reads as 0 or "".
struct FromDatas
{
    const QJsonObject &datas;
    bool carried = true;

    QJsonValue value(const char *name) const { return datas.value(QLatin1String(name)); }
    void number(const char *name, quint32 &n) { n = TxDeal::json_to_uint(value(name)); }
    void quotedNumber(const char *name, quint32 &n) { number(name, n); }
    void text(const char *name, QString &t)
    {
        t = TxDeal::json_to_qstring(value(name));
        carried = carried && isWholeCharacters(t);
    }
    void numericText(const char *name, QString &t)
    {
        text(name, t);
        carried = carried && storetext::keptByNumericColumn(t);
    }
    void sqlOnlyText(const char *, QString &) { } // door settings take no spare texts
};

// The reply object of a record: every field under its name but the spare texts, which the
// system stores and never hands out.
struct ToObject
{
    QJsonObject object;

    void number(const char *name, quint32 n) { object.insert(QLatin1String(name), qint64(n)); }
    void quotedNumber(const char *name, quint32 n) { number(name, n); }
    void text(const char *name, const QString &t)
    {
        if (qstrcmp(name, "form1") != 0 && qstrcmp(name, "form2") != 0)
            object.insert(QLatin1String(name), t);
    }
    void numericText(const char *name, const QString &t) { text(name, t); }
    void sqlOnlyText(const char *, const QString &) { }
};

template<class R> R fromDatas(const QJsonObject &datas, bool *carried)
{
    R record;
    FromDatas reader {datas};
    fields(record, reader);
    *carried = reader.carried;
    return record;
}

template<class R, QString (*toStr)(R)> QString pipeText(const QJsonObject &datas, bool *carried)
{
    return toStr(fromDatas<R>(datas, carried));
}

// A person's name is the Base64 text of its UTF-8, kept as sent; it counts only as a string.
QString personPipeText(const QJsonObject &datas, bool *carried)
{
    PersonStruct person = fromDatas<PersonStruct>(datas, carried);
    const QJsonValue name = datas.value(QLatin1String("name"));
    person.name = name.isString() ? name.toString() : QString();
    const QByteArray decoded = QByteArray::fromBase64(person.name.toUtf8());
    qDebug("name old:%s", decoded.toHex().constData());
    qDebug("name:%s", qUtf8Printable(person.name));
    qDebug("name new:%s", qUtf8Printable(QString::fromUtf8(decoded)));
    return person_to_str(person);
}

template<class R, R (*fromStr)(const QString &)> QJsonObject rowObject(const QString &row)
{
    R record = fromStr(row);
    ToObject writer;
    fields(record, writer);
    return writer.object;
}

const RecordKind personKind
    = {1, "personid", nullptr, personPipeText, TxDeal::get_person_obj, "get person:", false};
const RecordKind cardidKind = {2, "personid", nullptr, pipeText<CardidStruct, cardid_to_str>,
    TxDeal::get_cardid_obj, "get cardid:", false};
const RecordKind recordKind
    = {3, "recordid", nullptr, nullptr, TxDeal::get_record_obj, "get record:", true};
const RecordKind permitKind = {4, "permitrank", nullptr, pipeText<PermitStruct, permit_to_str>,
    TxDeal::get_permit_obj, "get permit:", false};
const RecordKind doorsetKind
    = {5, "doornum", "direction", pipeText<DoorSetStruct, doorset_to_str>, nullptr, nullptr, false};
const RecordKind warrantKind = {6, "warrantid", nullptr, pipeText<WarrantStruct, warrant_to_str>,
    TxDeal::get_warrant_obj, "get warrant:", false};
const RecordKind timezoneKind = {7, "timezoneid", nullptr,
    pipeText<TimezoneStruct, timezone_to_str>, TxDeal::get_timezone_obj, nullptr, false};
const RecordKind holidayKind = {8, "holidayid", nullptr, pipeText<HolidayStruct, holiday_to_str>,
    TxDeal::get_holiday_obj, nullptr, false};
const RecordKind specialdayKind = {9, "specialdayid", nullptr,
    pipeText<SpecialdayStruct, specialday_to_str>, TxDeal::get_specialday_obj, nullptr, false};
const RecordKind stayKind = {
    10, "stayid", nullptr, pipeText<StayStruct, stay_to_str>, TxDeal::get_stay_obj, nullptr, false};

// The data of a store reply that found something ("0." and the data); null when it found nothing.
QString foundData(const QString &reply)
{
    return reply.startsWith(QLatin1String("0.")) ? reply.mid(2) : QString();
}

} // namespace

// Each kind's commands are the one implementation applied to its description.
#define DORX_MAINTAIN(kind)                                                                        \
    void TxDeal::kind##_process(HttpRequest &request, HttpResponse &response)                      \
    {                                                                                              \
        maintain_records(request, response, kind##Kind);                                           \
    }
#define DORX_QUERY(kind, Type)                                                                     \
    void TxDeal::get_##kind(HttpRequest &request, HttpResponse &response)                          \
    {                                                                                              \
        query_records(request, response, kind##Kind);                                              \
    }                                                                                              \
    QJsonObject TxDeal::get_##kind##_obj(const QString &row)                                       \
    {                                                                                              \
        return rowObject<Type, kind##_from_str>(row);                                              \
    }

DORX_MAINTAIN(person)
DORX_MAINTAIN(cardid)
DORX_MAINTAIN(record)
DORX_MAINTAIN(permit)
DORX_MAINTAIN(doorset)
DORX_MAINTAIN(warrant)
DORX_MAINTAIN(timezone)
DORX_MAINTAIN(holiday)
DORX_MAINTAIN(specialday)
DORX_MAINTAIN(stay)
DORX_QUERY(person, PersonStruct)
DORX_QUERY(cardid, CardidStruct)
DORX_QUERY(record, RecordStruct)
DORX_QUERY(permit, PermitStruct)
DORX_QUERY(warrant, WarrantStruct)
DORX_QUERY(timezone, TimezoneStruct)
DORX_QUERY(holiday, HolidayStruct)
DORX_QUERY(specialday, SpecialdayStruct)
DORX_QUERY(stay, StayStruct)

#undef DORX_MAINTAIN
#undef DORX_QUERY

// Clears the kind's table (order 1), adds or replaces one record (2) or deletes the records of
// one key (3). Done (1) is answered only when the store carried the change out; a text value
// that the store could not keep exactly is refused (3) before anything is touched.
void TxDeal::maintain_records(HttpRequest &request, HttpResponse &response, const RecordKind &kind)
{
    QJsonObject message;
    QString id;
    bool wellFormed = true;
    if (!open_device_message(request, response, &message, &id, &wellFormed))
        return;
    const quint32 order = json_to_uint(message.value(QLatin1String("order")));
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const auto number = [&datas](const char *name) {
        return QString::number(json_to_uint(datas.value(QLatin1String(name))));
    };

    quint8 operation = 0;
    QString text;
    if (order == 1) {
        operation = 1;
    } else if (order == 3) {
        operation = 2;
        text = kind.key2 ? number(kind.key) + QLatin1Char('.') + number(kind.key2)
                         : number(kind.key);
    } else if (order == 2 && kind.pipeText) {
        bool carried = true;
        text = kind.pipeText(datas, &carried);
        if (!carried || !wellFormed) {
            qWarning("TxDeal: refused a record for table %d: a text would not be kept as sent",
                kind.table);
            SendReponse(request, response, sendback_respond(id, NotOneOfTheOrders));
            return;
        }
        operation = 3;
    } else {
        SendReponse(request, response, sendback_respond(id, NotOneOfTheOrders));
        return;
    }
    const bool done = send_dbus(kind.table, operation, text) == QLatin1String("0");
    SendReponse(request, response, sendback_respond(id, done ? Done : WriteFailed));
}

// One record by key (order 4), a page of at most 100 in key order (5), or, for access records,
// the records of a number range of at most 255 (6). Pages and ranges answer as many objects as
// were asked for, the records found first and then empty objects.
void TxDeal::query_records(HttpRequest &request, HttpResponse &response, const RecordKind &kind)
{
    QJsonObject message;
    QString id;
    const bool opened = kind.accessRecords ? open_session_message(request, response, &message, &id)
                                           : open_device_message(request, response, &message, &id);
    if (!opened)
        return;
    const quint32 order = json_to_uint(message.value(QLatin1String("order")));
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const auto number
        = [&datas](const char *name) { return json_to_uint(datas.value(QLatin1String(name))); };

    if (order == 4) {
        const QString data = foundData(send_dbus(kind.table, 4, QString::number(number(kind.key))));
        SendReponse(request, response,
            data.isNull() ? sendback_respond(id, NothingFound)
                          : sendback_data(id, Done, kind.object(data)));
        return;
    }
    quint32 wanted = 0;
    QString bounds; // "startnum.getnum" of a page, "minid.maxid" of a range
    if (order == 5) {
        wanted = number("getnum");
        if (wanted > pageLimit) {
            SendReponse(request, response, sendback_respond(id, TooMany));
            return;
        }
        bounds = QStringLiteral("%1.%2").arg(number("startnum")).arg(wanted);
    } else if (order == 6 && kind.accessRecords) {
        const quint32 lowest = number("minid");
        const quint32 highest = number("maxid");
        if (highest < lowest) {
            SendReponse(request, response, sendback_respond(id, NothingFound));
            return;
        }
        if (highest - lowest >= rangeLimit) {
            SendReponse(request, response, sendback_respond(id, TooMany));
            return;
        }
        wanted = highest - lowest + 1;
        bounds = QStringLiteral("%1.%2").arg(lowest).arg(highest);
    } else {
        SendReponse(request, response, sendback_respond(id, NotOneOfTheOrders));
        return;
    }

    const QString reply = send_dbus(kind.table, quint8(order), bounds);
    if (kind.replyLog)
        qDebug("%s%s", kind.replyLog, qUtf8Printable(store_text_for_log(kind.table, reply)));
    // Values inside the rows are encoded, so "," ends a row and nothing else does.
    const QString data = foundData(reply);
    const QVector<QStringRef> rows = data.splitRef(QLatin1Char(','));
    Q_ASSERT(wanted <= rangeLimit);
    QVector<QJsonObject> objects(static_cast<int>(wanted));
    int found = 0;
    while (found < objects.size() && found < rows.size() && !rows.at(found).isEmpty()) {
        objects[found] = kind.object(rows.at(found).toString());
        ++found;
    }
    SendReponse(request, response,
        found == 0 ? sendback_respond(id, NothingFound)
                   : sendback_data_array(id, Done, objects.constData(), quint8(wanted)));
}
