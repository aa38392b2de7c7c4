#include "recordcommands.h"

#include "console.h"
#include "replies.h"
#include "store/recordfields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextCodec>
#include <QVector>

#include <limits>

namespace {

struct Field
{
    QString name;
    bool text;
};

// A kind's fields as the record commands carry them, in table order: every field but the door
// settings' spare texts, which the device does not take from clients.
struct FieldCollector
{
    QVector<Field> fields;
    void number(const char *name, quint32) { fields.push_back({QLatin1String(name), false}); }
    void quotedNumber(const char *name, quint32 n) { number(name, n); }
    void text(const char *name, const QString &) { fields.push_back({QLatin1String(name), true}); }
    void numericText(const char *name, const QString &t) { text(name, t); }
    void sqlOnlyText(const char *, const QString &) { }
};

template<class R> QVector<Field> fieldsOf()
{
    R record;
    FieldCollector collector;
    records::fields(record, collector);
    return collector.fields;
}

struct Kind
{
    const char *name; // as in the command paths
    QVector<Field> (*fields)();
    int keys; // leading fields that make the key
    bool add; // clients may add (access records are numbered by the device)
    bool query; // the device answers queries (door settings have none)
    const char *example; // arguments after "dorxctl add KIND", or after "dorxctl" where no add
};

const Kind kinds[] = {
    {"person", fieldsOf<PersonStruct>, 1, true, true,
        "personid=17 persontype=1 accountstatus=1 name=张三 group=1 iden=110101199001011234 "
        "mobil=13800000000 password=1234 regtime=1700000000 voliditystart=1700000000 "
        "volidityend=1900000000"},
    {"cardid", fieldsOf<CardidStruct>, 1, true, true, "personid=17 cardid=12345678 fingerid=F17"},
    {"record", fieldsOf<RecordStruct>, 1, false, true, "records 1 500"},
    {"permit", fieldsOf<PermitStruct>, 1, true, true,
        "permitrank=1 holidayflag=1 multiuser=1 releasetime=5 opentime=10 openalarmtime=30 "
        "enable=1 verifymode=1"},
    {"doorset", fieldsOf<DoorSetStruct>, 2, true, false,
        "doornum=1 direction=0 skqnum=1 verifymode=1 enable=1"},
    {"warrant", fieldsOf<WarrantStruct>, 1, true, true,
        "warrantid=1 groupid=1 doornum=1 direction=0 permitrank=1 timezoneid=1 enable=1 "
        "opennum=1"},
    {"timezone", fieldsOf<TimezoneStruct>, 1, true, true,
        "timezoneid=1 starttime=20240101 endtime=20241231 interval1=08:00-18:00 "
        "interval2=08:00-18:00 enable=1"},
    {"holiday", fieldsOf<HolidayStruct>, 1, true, true,
        "holidayid=1 daytime=20241001 enable=1 type=1"},
    {"specialday", fieldsOf<SpecialdayStruct>, 1, true, true,
        "specialdayid=1 daytime=20240210 enable=1"},
    {"stay", fieldsOf<StayStruct>, 1, true, true,
        "stayid=1 doornum=1 direction=0 mode=1 timezoneid=1 enable=1"},
};

// Records in one page reply, and record numbers in one range reply, as the device allows.
constexpr quint32 pageSize = 100;
constexpr quint64 rangeSize = 255;

const Kind *kindNamed(const QString &name)
{
    for (const Kind &kind : kinds) {
        if (name == QLatin1String(kind.name))
            return &kind;
    }
    return nullptr;
}

QString kindNames()
{
    QStringList names;
    for (const Kind &kind : kinds)
        names << QLatin1String(kind.name);
    return names.join(QLatin1String(", "));
}

QString keyUsage(const Kind &kind)
{
    return kind.keys == 2 ? QStringLiteral("DOOR DIRECTION") : QStringLiteral("KEY");
}

// A number as the device reads it: unsigned decimal of at most 32 bits. Sent as a string, which
// the device reads in full, where a JSON number above 31 bits would read as 0.
bool isNumber(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+\\z"));
    bool fits = false;
    text.toUInt(&fits);
    return fits && digits.match(text).hasMatch();
}

bool isPersonName(const Kind &kind, const Field &field)
{
    return qstrcmp(kind.name, "person") == 0 && field.name == QLatin1String("name");
}

// A person's name as the installer reads it: the device keeps the Base64 of its UTF-8; a stored
// name that is not that (written by another client) is shown as stored.
QString readableName(const QString &stored)
{
    const QByteArray base64 = stored.toLatin1();
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.toBase64() != base64)
        return stored;
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(
        decoded.decoded.constData(), decoded.decoded.size(), &state);
    return state.invalidChars == 0 ? text : stored;
}

QString quoted(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// One line of FIELD=VALUE in table order, texts quoted as JSON strings.
QByteArray recordLine(const Kind &kind, const QJsonObject &object)
{
    QStringList parts;
    for (const Field &field : kind.fields()) {
        const QJsonValue value = object.value(field.name);
        if (value.isUndefined())
            continue; // the spare texts, which the device never hands out
        QString shown;
        if (!field.text)
            shown = QString::number(qint64(value.toDouble()));
        else
            shown = quoted(
                isPersonName(kind, field) ? readableName(value.toString()) : value.toString());
        parts << field.name + QLatin1Char('=') + shown;
    }
    return parts.join(QLatin1Char(' ')).toUtf8();
}

class RecordCommand
{
public:
    RecordCommand(const Kind &kind, const SealedExchange &exchange)
        : kind(kind)
        , exchange(exchange)
    { }

    int add(const QStringList &assignments);
    int show(const QStringList &key);
    int list();
    int remove(const QStringList &key);
    int clear();
    int range(quint32 first, quint32 last);

private:
    int lastRecordNumber(quint64 *number);
    // Sends order with datas to the kind's maintenance or query path; a refusal is reported,
    // except "nothing found" where found is given: that answers ExitDone with *found false.
    int send(
        bool query, int order, const QJsonObject &datas, QJsonObject *reply, bool *found = nullptr);
    // The key arguments as "datas" members; false (reported) when they are not numbers.
    bool keyDatas(const QStringList &key, QJsonObject *datas);

    const Kind &kind;
    const SealedExchange &exchange;
};

int RecordCommand::send(
    bool query, int order, const QJsonObject &datas, QJsonObject *reply, bool *found)
{
    const QString path = query ? QStringLiteral("/command/getinfo/%1").arg(kind.name)
                               : QStringLiteral("/command/%1/property").arg(kind.name);
    QByteArray answer;
    const int status = exchange(path, QJsonObject {{"order", order}, {"datas", datas}}, &answer);
    *reply = QJsonDocument::fromJson(answer).object();
    if (found)
        *found = status == ExitDone;
    if (status != ExitRefused)
        return status;
    if (found && replies::respondOf(answer) == 4)
        return ExitDone;
    return replies::refusal(path, answer);
}

bool RecordCommand::keyDatas(const QStringList &key, QJsonObject *datas)
{
    const QVector<Field> fields = kind.fields();
    for (int i = 0; i < kind.keys; ++i) {
        if (!isNumber(key.at(i))) {
            fail(ExitUsage,
                QStringLiteral("%1 is not a number (%2)").arg(key.at(i), fields.at(i).name));
            return false;
        }
        datas->insert(fields.at(i).name, key.at(i));
    }
    return true;
}

int RecordCommand::add(const QStringList &assignments)
{
    const QVector<Field> fields = kind.fields();
    QStringList names;
    for (const Field &field : fields)
        names << field.name;
    QJsonObject datas;
    for (const QString &assignment : assignments) {
        const int equals = assignment.indexOf(QLatin1Char('='));
        const int position = names.indexOf(assignment.left(equals));
        if (equals < 0 || position < 0)
            return fail(ExitUsage,
                QStringLiteral("not FIELD=VALUE with a field of %1 (%2): %3")
                    .arg(kind.name, names.join(QLatin1Char(' ')), assignment));
        const Field &field = fields.at(position);
        const QString value = assignment.mid(equals + 1);
        if (!field.text && !isNumber(value))
            return fail(ExitUsage,
                QStringLiteral("%1 must be a number from 0 to 4294967295, not %2")
                    .arg(field.name, value));
        datas.insert(field.name,
            isPersonName(kind, field) ? QString::fromLatin1(value.toUtf8().toBase64()) : value);
    }
    for (int i = 0; i < kind.keys; ++i) {
        if (!datas.contains(names.at(i)))
            return fail(
                ExitUsage, QStringLiteral("%1 needs its key %2").arg(kind.name, names.at(i)));
    }
    QJsonObject reply;
    const int status = send(false, 2, datas, &reply);
    if (status == ExitDone)
        printLine("stored");
    return status;
}

int RecordCommand::show(const QStringList &key)
{
    QJsonObject datas;
    if (!keyDatas(key, &datas))
        return ExitUsage;
    QJsonObject reply;
    const int status = send(true, 4, datas, &reply);
    if (status == ExitDone)
        printLine(recordLine(kind, reply.value(QLatin1String("datas")).toObject()));
    return status;
}

// Page after page until one comes back short; "nothing found" only ends the list.
int RecordCommand::list()
{
    for (quint32 start = 0;; start += pageSize) {
        QJsonObject reply;
        bool any = false;
        const int status = send(
            true, 5, {{"startnum", qint64(start)}, {"getnum", qint64(pageSize)}}, &reply, &any);
        if (status != ExitDone || !any)
            return status;
        quint32 found = 0;
        for (const QJsonValue &object : reply.value(QLatin1String("datas")).toArray()) {
            if (!object.toObject().isEmpty()) {
                printLine(recordLine(kind, object.toObject()));
                ++found;
            }
        }
        if (found < pageSize)
            return ExitDone;
    }
}

int RecordCommand::remove(const QStringList &key)
{
    QJsonObject datas;
    if (!keyDatas(key, &datas))
        return ExitUsage;
    QJsonObject reply;
    const int status = send(false, 3, datas, &reply);
    if (status == ExitDone)
        printLine("deleted");
    return status;
}

int RecordCommand::clear()
{
    QJsonObject reply;
    const int status = send(false, 1, QJsonObject(), &reply);
    if (status == ExitDone)
        printLine("cleared");
    return status;
}

// In pieces of as many numbers as one reply may hold, up to the last record there is; a piece
// without records is no error.
int RecordCommand::range(quint32 first, quint32 last)
{
    quint64 highest = 0;
    const int status = lastRecordNumber(&highest);
    if (status != ExitDone)
        return status;
    for (quint64 low = first; low <= qMin<quint64>(last, highest); low += rangeSize) {
        const quint64 high = qMin<quint64>(low + rangeSize - 1, last);
        QJsonObject reply;
        bool any = false;
        const int status = send(true, 6,
            {{"minid", QString::number(low)}, {"maxid", QString::number(high)}}, &reply, &any);
        if (status != ExitDone)
            return status;
        if (!any)
            continue;
        for (const QJsonValue &object : reply.value(QLatin1String("datas")).toArray()) {
            if (!object.toObject().isEmpty())
                printLine(recordLine(kind, object.toObject()));
        }
    }
    return ExitDone;
}

// The number of the last access record in number order (0 when there is none), read with pages
// of one record: the offset of the last record is found by doubling, then halving, in about
// twice the binary logarithm of the number of records in requests.
int RecordCommand::lastRecordNumber(quint64 *number)
{
    quint64 last = 0;
    const auto recordAt = [&](quint64 offset, bool *exists) {
        QJsonObject reply;
        const int status
            = send(true, 5, {{"startnum", QString::number(offset)}, {"getnum", 1}}, &reply, exists);
        if (status == ExitDone && *exists)
            last = quint64(
                reply.value(QLatin1String("datas"))[0][QLatin1String("recordid")].toDouble());
        return status;
    };
    *number = 0;
    bool exists = false;
    int status = recordAt(0, &exists);
    if (status != ExitDone || !exists)
        return status;
    // A record stands at offset below, none at offset above.
    quint64 below = 0;
    quint64 above = 1;
    // The device takes offsets of 32 bits.
    for (; above <= std::numeric_limits<quint32>::max(); above *= 2) {
        status = recordAt(above, &exists);
        if (status != ExitDone)
            return status;
        if (!exists)
            break;
        below = above;
    }
    while (above - below > 1) {
        const quint64 middle = below + (above - below) / 2;
        status = recordAt(middle, &exists);
        if (status != ExitDone)
            return status;
        (exists ? below : above) = middle;
    }
    status = recordAt(below, &exists);
    *number = last;
    return status;
}

} // namespace

bool isRecordCommand(const QString &command)
{
    static const QStringList commands
        = {"add", "show", "list", "delete", "clear", QStringLiteral("records")};
    return commands.contains(command);
}

int runRecordCommand(const QStringList &words, const SealedExchange &exchange)
{
    const QString command = words.value(0);
    if (command == QLatin1String("records")) {
        if (words.size() != 3 || !isNumber(words.at(1)) || !isNumber(words.at(2))
            || words.at(2).toUInt() < words.at(1).toUInt())
            return fail(ExitUsage,
                QStringLiteral("usage: dorxctl records FIRST LAST (record numbers, FIRST not "
                               "above LAST)"));
        return RecordCommand(*kindNamed(QStringLiteral("record")), exchange)
            .range(words.at(1).toUInt(), words.at(2).toUInt());
    }

    const Kind *kind = kindNamed(words.value(1));
    if (!kind)
        return fail(ExitUsage,
            QStringLiteral("usage: dorxctl %1 KIND ..., KIND one of %2").arg(command, kindNames()));
    const QStringList arguments = words.mid(2);
    RecordCommand run(*kind, exchange);
    const auto usage = [&](const QString &form) {
        return fail(ExitUsage,
            QStringLiteral("usage: dorxctl %1 %2 %3 (see --help)").arg(command, kind->name, form));
    };
    if (command == QLatin1String("add")) {
        if (!kind->add)
            return fail(ExitUsage,
                QStringLiteral("access records are added by the access daemon, not by clients"));
        return arguments.isEmpty() ? usage(QStringLiteral("FIELD=VALUE...")) : run.add(arguments);
    }
    if (command == QLatin1String("delete"))
        return arguments.size() == kind->keys ? run.remove(arguments) : usage(keyUsage(*kind));
    if (command == QLatin1String("clear"))
        return arguments.isEmpty() ? run.clear() : usage(QString());
    if (!kind->query)
        return fail(ExitUsage, QStringLiteral("the device cannot read door settings back"));
    if (command == QLatin1String("show"))
        return arguments.size() == kind->keys ? run.show(arguments) : usage(keyUsage(*kind));
    Q_ASSERT(command == QLatin1String("list"));
    return arguments.isEmpty() ? run.list() : usage(QString());
}

QByteArray recordCommandsHelp()
{
    QString help = QStringLiteral(
        "\nRecords (after login; KIND is one of the kinds below):\n"
        "  add KIND FIELD=VALUE...  Add a record, or replace the one with the same key; fields\n"
        "                           left out are 0 or empty. Numbers are decimal; a person's\n"
        "                           name is plain text (the device keeps it in Base64).\n"
        "  show KIND KEY            Print the record with that key.\n"
        "  list KIND                Print every record of the kind, in key order.\n"
        "  delete KIND KEY          Delete the record with that key.\n"
        "  clear KIND               Delete every record of the kind.\n"
        "  records FIRST LAST       Print the access records numbered FIRST to LAST.\n"
        "A record is printed as one line of FIELD=VALUE, texts in double quotes. Door settings\n"
        "are keyed by DOOR DIRECTION and cannot be read back; access records are added by the\n"
        "access daemon only.\n"
        "Kinds, their fields (key first) and an example each:\n");
    for (const Kind &kind : kinds) {
        // The field names wrapped below the kind; the example stays one line to be copied.
        QString line = QStringLiteral("  %1").arg(QLatin1String(kind.name), -11);
        for (const Field &field : kind.fields()) {
            if (line.size() + 1 + field.name.size() > 99) {
                help += line + QLatin1Char('\n');
                line = QString(13, QLatin1Char(' '));
            }
            line += QLatin1Char(' ') + field.name;
        }
        help += line + QLatin1Char('\n');
        help += kind.add ? QStringLiteral("      dorxctl add %1 %2\n").arg(kind.name, kind.example)
                         : QStringLiteral("      dorxctl %1\n").arg(kind.example);
    }
    return help.toUtf8();
}
