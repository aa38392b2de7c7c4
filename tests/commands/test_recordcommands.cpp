#include "commandclient.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QJsonArray>
#include <QtTest>

#include <algorithm>
#include <cstdio>

namespace {

// The kinds whose commands take paths of their own, written down independently of the server's
// field lists: the columns of the table in order under their command names, "*" for a key, "$" for
// a text, "-" for a column the commands never write. Holidays stand for the kinds that only take
// the generic path (their date is a text the store keeps in a numeric column); the person's name
// and password have code of their own, access records are added by the daemon alone and read by
// number range, door settings have a key of two parts and no query.
struct KindSpec
{
    const char *kind; // "/command/<kind>/property", "/command/getinfo/<kind>"
    const char *fields;
};
const KindSpec kinds[] = {
    {"person",
        "*personid persontype accountstatus $name $group $iden $mobil $password regtime "
        "voliditystart volidityend $form1 $form2"},
    {"record", "*recordid personid $cardid type time resultcode doornum direction $form1 $form2"},
    {"doorset",
        "*doornum *direction skqnum verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime "
        "isremote jgms retryset enable -form1 -form2"},
    {"holiday", "*holidayid $daytime enable type $form1 $form2"},
};

const KindSpec &spec(const QString &kind)
{
    return *std::find_if(std::begin(kinds), std::end(kinds),
        [&kind](const KindSpec &k) { return kind == QLatin1String(k.kind); });
}
bool adds(const KindSpec &k)
{
    return qstrcmp(k.kind, "record") != 0;
}
bool queries(const KindSpec &k)
{
    return qstrcmp(k.kind, "doorset") != 0;
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
    void pagesAndRanges_data();
    void pagesAndRanges();
    void refusals_data();
    void refusals();
    void failedWriteAnswersFive();
    void personPasswordsStayOutOfTheLog();

private:
    // Rows of the kind's table in key order, each as its values in column order.
    QList<QStringList> rows(const KindSpec &k);
    // Stores the record as a client (or, for access records, the access daemon) would.
    void store(const KindSpec &k, const Record &record)
    {
        if (adds(k))
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
        {"delete from person", "delete from doorset", "delete from holiday"}));
    QVERIFY(sqlExec(server.filePath(QStringLiteral("record_database.db")), {"delete from record"}));
}

QList<QStringList> TestRecordCommands::rows(const KindSpec &k)
{
    const QStringList fields = QString::fromLatin1(k.fields).split(' ');
    QString orderBy = fields.at(0).mid(1);
    if (fields.at(1).startsWith('*'))
        orderBy += ',' + fields.at(1).mid(1);
    return sqlRows(server.filePath(adds(k) ? "access_database.db" : "record_database.db"),
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
    if (queries(k)) {
        const QJsonObject reply = client.exchange(getinfo, order(4, keyOfA));
        QCOMPARE(reply.value("respond").toInt(), 1);
        QCOMPARE(reply.value("datas").toObject(), a.object);
    }

    if (adds(k)) {
        QCOMPARE(client.send(property, order(2, replaced.datas)), 1);
        QCOMPARE(rows(k), QList<QStringList>({replaced.row, b.row}));
    }
    QCOMPARE(client.send(property, order(3, makeRecord(k, keyB, 0).datas)), 1);
    QCOMPARE(rows(k), QList<QStringList>({adds(k) ? replaced.row : a.row}));
    if (queries(k))
        QCOMPARE(client.send(getinfo, order(4, makeRecord(k, keyB, 0).datas)), 4);

    QCOMPARE(client.send(property, order(1)), 1);
    QVERIFY(rows(k).isEmpty());
    if (queries(k))
        QCOMPARE(client.send(getinfo, order(4, keyOfA)), 4);
}

void TestRecordCommands::pagesAndRanges_data()
{
    QTest::addColumn<QString>("kind"); // persons 3, 1, 2 added; access records 5 to 9 stored
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QList<int>>("keys"); // the records answered, then empty objects
    QTest::addColumn<int>("size");

    const auto page = [](const QJsonValue &startnum, const QJsonValue &getnum) {
        return order(5, {{"startnum", startnum}, {"getnum", getnum}});
    };
    const auto range = [](const QJsonValue &minid, const QJsonValue &maxid) {
        return order(6, {{"minid", minid}, {"maxid", maxid}});
    };
    const auto row = [](const char *name, const char *kind, const QJsonObject &request, int respond,
                         const QList<int> &keys = {}, int size = 0) {
        QTest::newRow(name) << kind << request << respond << keys << size;
    };
    row("100 allowed: 3 rows in key order, 97 empty", "person", page(0, 100), 1, {1, 2, 3}, 100);
    row("numbers as decimal strings", "person", page("1", "1"), 1, {2}, 1);
    row("101 refused", "person", page(0, 101), 9);
    row("start past the end", "person", page(3, 5), 4);
    row("range", "record", range(6, 8), 1, {6, 7, 8}, 3);
    row("range of 255 served", "record", range(0, 254), 1, {5, 6, 7, 8, 9}, 255);
    row("range of 256 refused", "record", range(0, 255), 9);
    row("range of every number refused", "record", range(0, "4294967295"), 9);
    row("range upside down", "record", range(5, 4), 4);
}

void TestRecordCommands::pagesAndRanges()
{
    QFETCH(QString, kind);
    QFETCH(QJsonObject, request);
    QFETCH(int, respond);
    QFETCH(QList<int>, keys);
    QFETCH(int, size);
    const KindSpec &k = spec(kind);
    for (int key : adds(k) ? QList<int> {3, 1, 2} : QList<int> {5, 6, 7, 8, 9})
        store(k, numbered(k, key));

    const QJsonObject reply = client.exchange(path("/command/getinfo/%1", k), request);
    QCOMPARE(reply.value("respond").toInt(), respond);
    QCOMPARE(reply.contains("datas"), respond == 1);
    const QJsonArray answered = reply.value("datas").toArray();
    QCOMPARE(answered.size(), size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(answered.at(i).toObject(),
            i < keys.size() ? numbered(k, keys.at(i)).object : QJsonObject());
}

void TestRecordCommands::refusals_data()
{
    QTest::addColumn<QByteArray>("path"); // below "/command/"; records 1 and 2 of its kind stored
    QTest::addColumn<QByteArray>("message"); // JSON members after "id" and "devicesn"
    const auto row = [](const char *name, const char *path, const char *message) {
        QTest::newRow(name) << QByteArray(path) << QByteArray(message);
    };
    const char *person = "person/property";
    row("half a surrogate pair", person, R"("order":2,"datas":{"personid":1,"iden":"x\ud800"})");
    row("bytes that are not UTF-8", person,
        "\"order\":2,\"datas\":{\"personid\":1,\"iden\":\"x\xff\"}");
    row("leading zero in a date", "holiday/property",
        R"("order":2,"datas":{"holidayid":1,"daytime":"0101"})");
    row("unknown order", person, R"("order":4)");
    row("no access records added by clients", "record/property",
        R"("order":2,"datas":{"recordid":1})");
    row("unknown query order", "getinfo/person", R"("order":6)");
}

// A text that would not come back as it was sent is refused with 3, and nothing is stored, not
// even the delete of the older record under the same key; so are orders the command does not
// take.
void TestRecordCommands::refusals()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, message);
    const KindSpec &k
        = spec(path.startsWith("getinfo/") ? path.mid(8) : path.left(path.indexOf('/')));
    for (const char *key : {"1", "2"}) {
        if (adds(k))
            store(k, makeRecord(k, key, 1));
    }
    const QList<QStringList> before = rows(k);

    const QJsonObject reply = client.exchange(
        "/command/" + path, sealedText(R"({"id":"r","devicesn":"12345",)" + message + '}'));
    QCOMPARE(reply.value("respond").toInt(), 3);
    QCOMPARE(reply.value("id").toString(), QStringLiteral("r"));
    QCOMPARE(rows(k), before);
}

// The database file marked read-only in its header (which holds for root too): a write fails, is
// answered 5, and the table stays as it was and can still be read. Byte 18 of an SQLite file is
// its write version; one above 2 makes the file read-only. The file is replaced rather than
// changed in place, so the server's kept connections open it afresh.
void TestRecordCommands::failedWriteAnswersFive()
{
    const KindSpec &k = spec("person");
    const Record existing = makeRecord(k, "1", 1);
    store(k, existing);
    const QString file = server.filePath(QStringLiteral("access_database.db"));
    const auto setWriteVersion = [&file](char version, char *previous) {
        QFile copy(file + ".new");
        const bool changed = QFile::copy(file, copy.fileName()) && copy.open(QIODevice::ReadWrite)
            && copy.seek(18) && copy.getChar(previous) && copy.seek(18) && copy.putChar(version);
        copy.close();
        return changed && std::rename(qPrintable(copy.fileName()), qPrintable(file)) == 0;
    };
    char writable = 0, readOnly = 0;
    QVERIFY(setWriteVersion(3, &writable));
    QCOMPARE(client.send("/command/person/property", order(2, makeRecord(k, "1", 7).datas)), 5);
    QCOMPARE(rows(k), QList<QStringList>({existing.row}));
    const QJsonObject read = client.exchange("/command/getinfo/person", order(4, existing.datas));
    QVERIFY(setWriteVersion(writable, &readOnly));
    QCOMPARE(read.value("datas").toObject(), existing.object);
}

// A person's password is a door PIN: it is stored and answered, but the log, at debug level, shows
// only the mask where the store commands and page replies carry it.
void TestRecordCommands::personPasswordsStayOutOfTheLog()
{
    const KindSpec &k = spec("person");
    store(k, makeRecord(k, "3", 1, "6|0,4.2"));
    const QJsonObject page = client.exchange("/command/getinfo/person", order(5, {{"getnum", 2}}));
    QCOMPARE(page.value("datas").toArray().at(0).toObject().value("password").toString(),
        QStringLiteral("PIN6|0,4.2password"));
    const QByteArray log = server.output();
    QVERIFY(log.contains("sql cmd:1.3.3|"));
    QVERIFY(log.contains("|***|"));
    QVERIFY2(!log.contains("PIN"), log.constData());
}

QTEST_GUILESS_MAIN(TestRecordCommands)
#include "test_recordcommands.moc"
