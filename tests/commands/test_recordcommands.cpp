#include "commandclient.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QJsonArray>
#include <QtTest>

#include <algorithm>

namespace {

// The kinds whose commands take paths of their own (the person's name and password; access
// records, added by the daemon alone and read by number range; door settings, keyed on two numbers
// without a query; holidays for the generic path, their date a text kept in a numeric column),
// written down independently of the server's field lists: the columns of the table in order under
// their command names, "*" for a key, "$" for a text, "-" for a column the commands never write.
struct KindSpec
{
    const char *kind; // "/command/<kind>/property", "/command/getinfo/<kind>"
    const char *fields;
    bool add, query; // clients may add; a getinfo command exists
};
const KindSpec kinds[] = {
    {"person",
        "*personid persontype accountstatus $name $group $iden $mobil $password regtime "
        "voliditystart volidityend $form1 $form2",
        true, true},
    {"record", "*recordid personid $cardid type time resultcode doornum direction $form1 $form2",
        false, true},
    {"doorset",
        "*doornum *direction skqnum verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime "
        "isremote jgms retryset enable -form1 -form2",
        true, false},
    {"holiday", "*holidayid $daytime enable type $form1 $form2", true, true},
};

const KindSpec &spec(const QString &kind)
{
    return *std::find_if(std::begin(kinds), std::end(kinds),
        [&kind](const KindSpec &k) { return kind == QLatin1String(k.kind); });
}

// Separators of the store's language, escapes, quotes, a statement, non-ASCII, a line end, NUL.
const QString hostile = QString::fromUtf8("O'Brien \"x'); delete from person; \\u0041 1.2.3 "
                                          "a,b|c %2E%7C%% %1 张三 😀\n")
    + QChar(0);

// One record of a kind: its "datas" for an add, its row as the table should hold it and the object
// a query should answer. Keys come from keys ("1", or "1.0" for door 1, direction 0), the other
// numbers are base plus the column's position and every text is text plus the field's name
// (passwords begin with "PIN", which the log must never show).
struct Record
{
    QJsonObject datas;
    QStringList row;
    QJsonObject object;
};

Record makeRecord(const KindSpec &k, const QString &keys, quint32 base, const QString &text = "")
{
    Record r;
    const QStringList keyValues = keys.split('.');
    int key = 0;
    const QStringList fields = QString::fromLatin1(k.fields).split(' ');
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = fields.at(i).mid(fields.at(i).at(0).isLetter() ? 0 : 1);
        const QChar mark = fields.at(i).at(0);
        if (mark == '-') {
            r.row << QString();
        } else if (mark == '$') {
            const QString value = (name == "password" ? "PIN" : "") + text + name;
            r.datas.insert(name, value);
            r.row << value;
            if (!name.startsWith(QLatin1String("form")))
                r.object.insert(name, value);
        } else {
            const qint64 value = mark == '*' ? keyValues.at(key++).toLongLong() : base + i;
            r.datas.insert(name, value);
            r.row << QString::number(value);
            r.object.insert(name, value);
        }
    }
    return r;
}

Record numbered(const KindSpec &k, int key)
{
    return makeRecord(k, QString::number(key), 10 * key, "'.|,%2E");
}

QByteArray path(const char *format, const KindSpec &k)
{
    return QByteArray(format).replace("%1", k.kind);
}

QJsonObject order(int order, const QJsonObject &datas = {})
{
    return {{"order", order}, {"datas", datas}};
}

} // namespace

// The record maintenance and query commands against one real server, the access-control databases
// read and written beside it as the access daemon would, their tables emptied before each test.
class TestRecordCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void everyPath_data();
    void everyPath();
    void orders_data();
    void orders();
    void failedWriteAnswersFive();

private:
    // Rows of the kind's table in key order, each as its values in column order.
    QList<QStringList> rows(const KindSpec &k);
    // Stores the record as a client (or, for access records, the access daemon) would.
    void store(const KindSpec &k, const Record &record)
    {
        if (k.add)
            QCOMPARE(client.send(path("/command/%1/property", k), order(2, record.datas)), 1);
        else
            QVERIFY(sqlExec(server.filePath(QStringLiteral("record_database.db")),
                {QStringLiteral("insert into record values(?,?,?,?,?,?,?,?,?,?)")}, record.row));
    }

    ServerProcess server;
    Client client {server};
};

void TestRecordCommands::initTestCase()
{
    server.writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server.start(), server.output().constData());
    QCOMPARE(client.login("dorx", "6172839405"), 1);
}

void TestRecordCommands::init()
{
    QVERIFY(sqlExec(server.filePath(QStringLiteral("access_database.db")),
        {"drop trigger if exists refuse", "delete from person", "delete from doorset",
            "delete from holiday"}));
    QVERIFY(sqlExec(server.filePath(QStringLiteral("record_database.db")), {"delete from record"}));
}

QList<QStringList> TestRecordCommands::rows(const KindSpec &k)
{
    const QStringList fields = QString::fromLatin1(k.fields).split(' ');
    QString orderBy = fields.at(0).mid(1);
    if (fields.at(1).startsWith('*'))
        orderBy += ',' + fields.at(1).mid(1);
    return sqlRows(server.filePath(k.add ? "access_database.db" : "record_database.db"),
        QStringLiteral("select * from %1 order by %2").arg(k.kind, orderBy));
}

void TestRecordCommands::everyPath_data()
{
    QTest::addColumn<QString>("kind");
    for (const KindSpec &k : kinds)
        QTest::newRow(k.kind) << k.kind;
}

// Add, fetch by key, replace, delete and clear, seen by the client and in the table itself; every
// text holds the hostile text exactly, and the record beside it keeps its own.
void TestRecordCommands::everyPath()
{
    QFETCH(QString, kind);
    // A is added, replaced and kept, B added and deleted; door settings share the door: only
    // door and direction together make their key.
    const bool door = kind == QLatin1String("doorset");
    const QString keyA = door ? "1.1" : "1", keyB = door ? "1.2" : "2";
    const KindSpec &k = spec(kind);
    const QByteArray property = path("/command/%1/property", k);
    const QByteArray getinfo = path("/command/getinfo/%1", k);
    const Record a = makeRecord(k, keyA, 100, hostile);
    const Record b = makeRecord(k, keyB, 200);
    const Record replaced = makeRecord(k, keyA, 300, "new " + hostile);

    for (const Record *r : {&b, &a})
        store(k, *r);
    QCOMPARE(rows(k), QList<QStringList>({a.row, b.row}));
    const QJsonObject keyOfA = makeRecord(k, keyA, 0).datas;
    if (k.query) {
        const QJsonObject reply = client.exchange(getinfo, order(4, keyOfA));
        QCOMPARE(reply.value("respond").toInt(), 1);
        QCOMPARE(reply.value("datas").toObject(), a.object);
    }

    if (k.add) {
        QCOMPARE(client.send(property, order(2, replaced.datas)), 1);
        QCOMPARE(rows(k), QList<QStringList>({replaced.row, b.row}));
    }
    QCOMPARE(client.send(property, order(3, makeRecord(k, keyB, 0).datas)), 1);
    QCOMPARE(rows(k), QList<QStringList>({k.add ? replaced.row : a.row}));
    if (k.query)
        QCOMPARE(client.send(getinfo, order(4, makeRecord(k, keyB, 0).datas)), 4);

    QCOMPARE(client.send(property, order(1)), 1);
    QVERIFY(rows(k).isEmpty());
    if (k.query)
        QCOMPARE(client.send(getinfo, order(4, keyOfA)), 4);
}

void TestRecordCommands::orders_data()
{
    QTest::addColumn<QByteArray>("path"); // below "/command/"; records 3, 1, 2 (5 to 9) stored
    QTest::addColumn<QByteArray>("message"); // JSON members after "id" and "devicesn"
    QTest::addColumn<int>("respond");
    QTest::addColumn<QList<int>>("keys"); // the records answered, then empty objects
    QTest::addColumn<int>("size");
    const auto row = [](const char *name, const char *path, const char *message, int respond,
                         const QList<int> &keys = {}, int size = 0) {
        QTest::newRow(name) << QByteArray(path) << QByteArray(message) << respond << keys << size;
    };
    const char *person = "getinfo/person", *record = "getinfo/record";
    row("100 allowed: 3 rows in key order, 97 empty", person,
        R"("order":5,"datas":{"startnum":0,"getnum":100})", 1, {1, 2, 3}, 100);
    row("numbers as decimal strings", person,
        R"("order":"5","datas":{"startnum":"1","getnum":"1"})", 1, {2}, 1);
    row("101 refused", person, R"("order":5,"datas":{"getnum":101})", 9);
    row("start past the end", person, R"("order":5,"datas":{"startnum":3,"getnum":5})", 4);
    row("range", record, R"("order":6,"datas":{"minid":6,"maxid":8})", 1, {6, 7, 8}, 3);
    row("range of 255 served", record, R"("order":6,"datas":{"minid":0,"maxid":254})", 1,
        {5, 6, 7, 8, 9}, 255);
    row("range of 256 refused", record, R"("order":6,"datas":{"minid":0,"maxid":255})", 9);
    row("range of every number refused", record,
        R"("order":6,"datas":{"minid":0,"maxid":"4294967295"})", 9);
    row("range upside down", record, R"("order":6,"datas":{"minid":5,"maxid":4})", 4);
    // A text that would not come back as it was sent is refused with 3, and nothing is stored, not
    // even the delete of the older record under the same key; so are orders a command lacks.
    const char *add = "person/property";
    row("half a surrogate pair", add, R"("order":2,"datas":{"personid":1,"iden":"x\ud800"})", 3);
    row("bytes that are not UTF-8", add,
        "\"order\":2,\"datas\":{\"personid\":1,\"iden\":\"x\xff\"}", 3);
    row("leading zero in a date", "holiday/property",
        R"("order":2,"datas":{"holidayid":1,"daytime":"0101"})", 3);
    row("unknown order", add, R"("order":4)", 3);
    row("no access records added by clients", "record/property",
        R"("order":2,"datas":{"recordid":1})", 3);
    row("unknown query order", person, R"("order":6)", 3);
}

// Nothing but the reply changes; the log shows persons' passwords, PINs of the doors, only masked.
void TestRecordCommands::orders()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, message);
    QFETCH(int, respond);
    QFETCH(QList<int>, keys);
    QFETCH(int, size);
    const KindSpec &k
        = spec(path.startsWith("getinfo/") ? path.mid(8) : path.left(path.indexOf('/')));
    for (int key : k.add ? QList<int> {3, 1, 2} : QList<int> {5, 6, 7, 8, 9})
        store(k, numbered(k, key));
    const QList<QStringList> before = rows(k);

    const QJsonObject reply = client.exchange(
        "/command/" + path, sealedText(R"({"id":"r","devicesn":"12345",)" + message + '}'));
    QCOMPARE(reply.value("respond").toInt(), respond);
    QCOMPARE(reply.value("id").toString(), QStringLiteral("r"));
    QCOMPARE(reply.contains("datas"), respond == 1);
    const QJsonArray answered = reply.value("datas").toArray();
    QCOMPARE(answered.size(), size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(answered.at(i).toObject(),
            i < keys.size() ? numbered(k, keys.at(i)).object : QJsonObject());
    QCOMPARE(rows(k), before);
    const QByteArray log = server.output();
    QVERIFY(!path.contains("person") || (log.contains("sql cmd:1.3.3|") && log.contains("|***|")));
    QVERIFY2(!log.contains("PIN"), log.constData());
}

// A write the store cannot carry out (refused by a trigger here, by a full disk or a read-only file
// on a terminal) is answered 5, and the record stays as it was.
void TestRecordCommands::failedWriteAnswersFive()
{
    const KindSpec &k = spec("person");
    store(k, numbered(k, 1));
    QVERIFY(sqlExec(server.filePath(QStringLiteral("access_database.db")),
        {"create trigger refuse before insert on person begin select raise(abort, 'full'); end"}));
    QCOMPARE(client.send("/command/person/property", order(2, makeRecord(k, "1", 7).datas)), 5);
    QCOMPARE(rows(k), QList<QStringList>({numbered(k, 1).row}));
}

QTEST_GUILESS_MAIN(TestRecordCommands)
#include "test_recordcommands.moc"
