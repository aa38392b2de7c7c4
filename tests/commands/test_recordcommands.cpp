#include "commandclient.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QJsonArray>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

// The ten kinds as a client and the database see them, written down independently of the
// server's own field lists: the columns of the table in order under their command names, "*" for
// a key, "$" for a text, "-" for a column the commands never write.
struct KindSpec
{
    const char *kind; // "/command/<kind>/property", "/command/getinfo/<kind>"
    const char *fields;
    bool query; // has a getinfo command
    bool add; // clients may add (access records are numbered by the store)
};

const KindSpec kinds[] = {
    {"person",
        "*personid persontype accountstatus $name $group $iden $mobil $password regtime "
        "voliditystart volidityend $form1 $form2",
        true, true},
    {"cardid", "*personid $cardid $fingerid $xp $form1 $form2", true, true},
    {"record", "*recordid personid $cardid type time resultcode doornum direction $form1 $form2",
        true, false},
    {"permit",
        "*permitrank holidayflag specialday multiuser releasetime opentime openalarmtime enable "
        "verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime isremote jgms retryset "
        "fgzrflag $form1 $form2",
        true, true},
    {"doorset",
        "*doornum *direction skqnum verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime "
        "isremote jgms retryset enable -form1 -form2",
        false, true},
    {"warrant",
        "*warrantid groupid doornum direction permitrank timezoneid enable type opennum $form1 "
        "$form2",
        true, true},
    {"timezone",
        "*timezoneid starttime endtime $interval1 $interval2 $interval3 $interval4 $interval5 "
        "$interval6 $interval7 $intervals $intervalh enable $intervalf $form1 $form2",
        true, true},
    {"holiday", "*holidayid $daytime enable type $form1 $form2", true, true},
    {"specialday", "*specialdayid $daytime enable $form1 $form2", true, true},
    {"stay",
        "*stayid doornum direction holidayflag specialday mode timezoneid enable $form1 $form2 "
        "fgzrflag",
        true, true},
};

const KindSpec &spec(const QString &kind)
{
    for (const KindSpec &k : kinds) {
        if (kind == QLatin1String(k.kind))
            return k;
    }
    qFatal("no kind %s", qPrintable(kind));
}

QString table(const KindSpec &k)
{
    return QLatin1String(k.kind);
}

QString file(const KindSpec &k)
{
    return table(k) == QLatin1String("record") ? "record_database.db" : "access_database.db";
}

// One record of a kind: its "datas" for an add, its row as the table should hold it and the object
// a query should answer. Keys come from keys ("1", or "1.0" for door 1, direction 0), the other
// numbers are base plus the column's position and every text is text plus the field's name.
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
            const QString value = text + name;
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

// The records the query tests find: a kind's record of a number, with texts the store must carry.
Record numbered(const KindSpec &k, int key)
{
    return makeRecord(k, QString::number(key), 10 * key, "'.|,%2E");
}

QJsonObject order(int order, const QJsonObject &datas = {})
{
    return {{"order", order}, {"datas", datas}};
}

} // namespace

// The record maintenance and query commands against the real server: a fresh server, databases
// and login for every test, the access-control databases read and written beside it as the access
// daemon would.
class TestRecordCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyKind_data();
    void everyKind();
    void queries_data();
    void queries();
    void hostileTextsRoundTrip_data();
    void hostileTextsRoundTrip();
    void refusals_data();
    void refusals();
    void failedWritesAnswerFive_data();
    void failedWritesAnswerFive();
    void personPasswordsStayOutOfTheLog();

private:
    // Rows of the kind's table in key order, each as its values in column order.
    QList<QStringList> rows(const KindSpec &k);
    // Adds an access record directly, as the access daemon does.
    void insertRecord(const Record &record)
    {
        QVERIFY(sqlExec(server->filePath(QStringLiteral("record_database.db")),
            {QStringLiteral("insert into record values(?,?,?,?,?,?,?,?,?,?)")}, record.row));
    }
    QByteArray path(const char *format, const KindSpec &k)
    {
        return QByteArray(format).replace("%1", k.kind);
    }

    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<Client> client;
};

void TestRecordCommands::init()
{
    server = std::make_unique<ServerProcess>();
    server->writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server->start(), server->output().constData());
    client = std::make_unique<Client>(*server);
    QCOMPARE(client->login("dorx", "6172839405"), 1);
}

void TestRecordCommands::cleanup()
{
    client.reset();
    server.reset();
}

QList<QStringList> TestRecordCommands::rows(const KindSpec &k)
{
    const QStringList fields = QString::fromLatin1(k.fields).split(' ');
    QString orderBy = fields.at(0).mid(1);
    if (fields.at(1).startsWith('*'))
        orderBy += ',' + fields.at(1).mid(1);
    return sqlRows(server->filePath(file(k)),
        QStringLiteral("select * from %1 order by %2").arg(table(k), orderBy));
}

void TestRecordCommands::everyKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("keyA"); // the record added, replaced and kept
    QTest::addColumn<QString>("keyB"); // the record added and deleted
    for (const KindSpec &k : kinds) {
        // Door settings share the door: only door and direction together make the key.
        const bool door = table(k) == QLatin1String("doorset");
        QTest::newRow(k.kind) << k.kind << (door ? "1.1" : "1") << (door ? "1.2" : "2");
    }
}

// Add, fetch by key, replace, delete and clear, seen by the client and in the table itself.
void TestRecordCommands::everyKind()
{
    QFETCH(QString, kind);
    QFETCH(QString, keyA);
    QFETCH(QString, keyB);
    const KindSpec &k = spec(kind);
    const QByteArray property = path("/command/%1/property", k);
    const QByteArray getinfo = path("/command/getinfo/%1", k);
    const Record a = makeRecord(k, keyA, 100);
    const Record b = makeRecord(k, keyB, 200);
    const Record replaced = makeRecord(k, keyA, 300, "new ");

    if (k.add) {
        QCOMPARE(client->send(property, order(2, b.datas)), 1);
        QCOMPARE(client->send(property, order(2, a.datas)), 1);
    } else {
        QCOMPARE(client->send(property, order(2, a.datas)), 3);
        QVERIFY(rows(k).isEmpty());
        insertRecord(a);
        insertRecord(b);
    }
    QCOMPARE(rows(k), QList<QStringList>({a.row, b.row}));
    const QJsonObject keyOfA = makeRecord(k, keyA, 0).datas;
    if (k.query) {
        const QJsonObject reply = client->exchange(getinfo, order(4, keyOfA));
        QCOMPARE(reply.value("respond").toInt(), 1);
        QCOMPARE(reply.value("datas").toObject(), a.object);
    }

    if (k.add) {
        QCOMPARE(client->send(property, order(2, replaced.datas)), 1);
        QCOMPARE(rows(k), QList<QStringList>({replaced.row, b.row}));
    }
    QCOMPARE(client->send(property, order(3, makeRecord(k, keyB, 0).datas)), 1);
    QCOMPARE(rows(k), QList<QStringList>({k.add ? replaced.row : a.row}));
    if (k.query)
        QCOMPARE(client->send(getinfo, order(4, makeRecord(k, keyB, 0).datas)), 4);

    QCOMPARE(client->send(property, order(1)), 1);
    QVERIFY(rows(k).isEmpty());
    if (k.query)
        QCOMPARE(client->send(getinfo, order(4, keyOfA)), 4);
}

void TestRecordCommands::queries_data()
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
    QTest::newRow("10 asked from 3: 3 rows in key order, 7 empty")
        << "person" << page(0, 10) << 1 << QList<int> {1, 2, 3} << 10;
    QTest::newRow("numbers as decimal strings")
        << "person" << page("0", "2") << 1 << QList<int> {1, 2} << 2;
    QTest::newRow("100 allowed") << "person" << page(0, 100) << 1 << QList<int> {1, 2, 3} << 100;
    QTest::newRow("101 refused") << "person" << page(0, 101) << 9 << QList<int>() << 0;
    QTest::newRow("time zones refuse 101 too")
        << "timezone" << page(0, 101) << 9 << QList<int>() << 0;
    QTest::newRow("start past the end") << "person" << page(3, 5) << 4 << QList<int>() << 0;
    QTest::newRow("none asked") << "person" << page(0, 0) << 4 << QList<int>() << 0;
    QTest::newRow("stays answer the flag after the spare texts")
        << "stay" << page(0, 3) << 1 << QList<int> {1, 2, 3} << 3;
    QTest::newRow("access records from 1")
        << "record" << page(1, 10) << 1 << QList<int> {6, 7, 8, 9} << 10;
    QTest::newRow("range") << "record" << range(6, 8) << 1 << QList<int> {6, 7, 8} << 3;
    QTest::newRow("range wider than the records")
        << "record" << range(8, 20) << 1 << QList<int> {8, 9} << 13;
    QTest::newRow("range of 255 served")
        << "record" << range(0, 254) << 1 << QList<int> {5, 6, 7, 8, 9} << 255;
    QTest::newRow("range of 256 refused") << "record" << range(0, 255) << 9 << QList<int>() << 0;
    QTest::newRow("range of every number refused")
        << "record" << range(0, "4294967295") << 9 << QList<int>() << 0;
    QTest::newRow("range upside down") << "record" << range(5, 4) << 4 << QList<int>() << 0;
    QTest::newRow("range without records") << "record" << range(10, 20) << 4 << QList<int>() << 0;
}

void TestRecordCommands::queries()
{
    QFETCH(QString, kind);
    QFETCH(QJsonObject, request);
    QFETCH(int, respond);
    QFETCH(QList<int>, keys);
    QFETCH(int, size);
    const KindSpec &k = spec(kind);
    for (int key : k.add ? QList<int> {3, 1, 2} : QList<int> {5, 6, 7, 8, 9}) {
        if (k.add)
            QCOMPARE(
                client->send(path("/command/%1/property", k), order(2, numbered(k, key).datas)), 1);
        else
            insertRecord(numbered(k, key));
    }

    const QJsonObject reply = client->exchange(path("/command/getinfo/%1", k), request);
    QCOMPARE(reply.value("respond").toInt(), respond);
    QCOMPARE(reply.contains("datas"), respond == 1);
    const QJsonArray answered = reply.value("datas").toArray();
    QCOMPARE(answered.size(), size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(answered.at(i).toObject(),
            i < keys.size() ? numbered(k, keys.at(i)).object : QJsonObject());
}

void TestRecordCommands::hostileTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("command separator") << QStringLiteral("1.2.3");
    QTest::newRow("row and field separators") << QStringLiteral("a,b|c,|");
    QTest::newRow("percent escapes and placeholders") << QStringLiteral("%2E%7C%25%%1%2");
    QTest::newRow("quotes and a statement") << QStringLiteral("O'Brien \"x'); delete from person;");
    QTest::newRow("non-ASCII and beyond the BMP") << QString::fromUtf8("张三 Zoë 😀");
    QTest::newRow("control characters and NUL")
        << QString::fromUtf8("a\nb\tc") + QChar(0) + QStringLiteral("d");
    QTest::newRow("backslashes") << QStringLiteral("\\\\u0041\\");
    QTest::newRow("empty") << QString();
}

// Every text field of every kind that has texts holds the value: it reaches the table exactly,
// reads back exactly, and the records beside it keep theirs.
void TestRecordCommands::hostileTextsRoundTrip()
{
    QFETCH(QString, text);
    for (const KindSpec &k : kinds) {
        if (!k.add)
            continue;
        const QByteArray property = path("/command/%1/property", k);
        const Record before = makeRecord(k, "1.1", 10, "before ");
        const Record hostile = makeRecord(k, "2.1", 20, text);
        const Record after = makeRecord(k, "3.1", 30, "after ");
        for (const Record *r : {&before, &hostile, &after})
            QCOMPARE(client->send(property, order(2, r->datas)), 1);
        QCOMPARE(rows(k), QList<QStringList>({before.row, hostile.row, after.row}));
        if (!k.query)
            continue;
        const QJsonObject page
            = client->exchange(path("/command/getinfo/%1", k), order(5, {{"getnum", 3}}));
        QCOMPARE(page.value("datas").toArray(),
            QJsonArray({before.object, hostile.object, after.object}));
    }
}

void TestRecordCommands::refusals_data()
{
    QTest::addColumn<QByteArray>("path"); // below "/command/"; records 1 and 2 of its kind stored
    QTest::addColumn<QByteArray>("message"); // JSON members after "id" and "devicesn"
    QTest::addColumn<int>("respond");
    QTest::addColumn<int>("left"); // records left of the kind; -1: the table unchanged

    const QByteArray person = "person/property";
    QTest::newRow("half a surrogate pair")
        << person << QByteArray(R"("order":2,"datas":{"personid":1,"iden":"x\ud800"})") << 3 << -1;
    QTest::newRow("bytes that are not UTF-8")
        << QByteArray("cardid/property")
        << QByteArray("\"order\":2,\"datas\":{\"personid\":1,\"xp\":\"x\xff\"}") << 3 << -1;
    QTest::newRow("leading zero in a date")
        << QByteArray("holiday/property")
        << QByteArray(R"("order":2,"datas":{"holidayid":1,"daytime":"0101"})") << 3 << -1;
    QTest::newRow("decimal point in a date")
        << QByteArray("specialday/property")
        << QByteArray(R"("order":2,"datas":{"specialdayid":1,"daytime":"2024.0"})") << 3 << -1;
    QTest::newRow("space before a number in the first interval")
        << QByteArray("timezone/property")
        << QByteArray(R"("order":2,"datas":{"timezoneid":1,"interval1":" 8"})") << 3 << -1;
    QTest::newRow("unknown order") << person << QByteArray(R"("order":4)") << 3 << -1;
    QTest::newRow("missing order") << person << QByteArray(R"("datas":{})") << 3 << -1;
    QTest::newRow("order as a string")
        << person << QByteArray(R"("order":"3","datas":{"personid":"2"})") << 1 << 1;
    QTest::newRow("no access records added by clients")
        << QByteArray("record/property") << QByteArray(R"("order":2,"datas":{"recordid":1})") << 3
        << -1;
    QTest::newRow("unknown query order")
        << QByteArray("getinfo/person") << QByteArray(R"("order":6)") << 3 << -1;
}

// A text that would not come back as it was sent is refused with 3, and nothing is stored, not
// even the delete of the older record under the same key; so are orders the command does not
// take.
void TestRecordCommands::refusals()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, message);
    QFETCH(int, respond);
    QFETCH(int, left);
    const KindSpec &k
        = spec(path.startsWith("getinfo/") ? path.mid(8) : path.left(path.indexOf('/')));
    for (const char *key : {"1", "2"}) {
        if (k.add)
            QCOMPARE(client->send(this->path("/command/%1/property", k),
                         order(2, makeRecord(k, key, 1).datas)),
                1);
    }
    const QList<QStringList> before = rows(k);

    const QJsonObject reply = client->exchange(
        "/command/" + path, sealedText(R"({"id":"r","devicesn":"12345",)" + message + '}'));
    QCOMPARE(reply.value("respond").toInt(), respond);
    QCOMPARE(reply.value("id").toString(), QStringLiteral("r"));
    if (left < 0)
        QCOMPARE(rows(k), before);
    else
        QCOMPARE(rows(k).size(), left);
}

void TestRecordCommands::failedWritesAnswerFive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QJsonObject>("request");
    const KindSpec &k = spec("person");
    QTest::newRow("clear") << "person" << order(1);
    QTest::newRow("replace") << "person" << order(2, makeRecord(k, "1", 7).datas);
    QTest::newRow("add") << "person" << order(2, makeRecord(k, "9", 7).datas);
    QTest::newRow("delete") << "person" << order(3, {{"personid", 1}});
    QTest::newRow("clear access records") << "record" << order(1);
    QTest::newRow("delete an access record") << "record" << order(3, {{"recordid", 1}});
}

// Both database files marked read-only in their header (which holds for root too): every write
// fails, is answered 5, and the tables stay as they were and can still be read.
void TestRecordCommands::failedWritesAnswerFive()
{
    QFETCH(QString, kind);
    QFETCH(QJsonObject, request);
    const KindSpec &k = spec(kind);
    const Record existing = makeRecord(k, "1", 1);
    if (k.add)
        QCOMPARE(client->send(path("/command/%1/property", k), order(2, existing.datas)), 1);
    else
        insertRecord(existing);
    // Byte 18 of an SQLite file is its write version; one above 2 makes the file read-only. The
    // file is replaced rather than changed in place, so the server's kept connections open it
    // afresh.
    for (const char *name : {"access_database.db", "record_database.db"}) {
        const QString file = server->filePath(QLatin1String(name));
        QVERIFY(QFile::copy(file, file + ".new"));
        QFile database(file + ".new");
        QVERIFY(database.open(QIODevice::ReadWrite) && database.seek(18));
        QVERIFY(database.putChar(3));
        database.close();
        QVERIFY(std::rename(qPrintable(file + ".new"), qPrintable(file)) == 0);
    }

    QCOMPARE(client->send(path("/command/%1/property", k), request), 5);
    QCOMPARE(rows(k), QList<QStringList>({existing.row}));
    const QJsonObject read
        = client->exchange(path("/command/getinfo/%1", k), order(4, makeRecord(k, "1", 0).datas));
    QCOMPARE(read.value("datas").toObject(), existing.object);
}

// A person's password is a door PIN: it is stored and answered, but the log, at debug level, shows
// only the mask where the store commands and replies carry it.
void TestRecordCommands::personPasswordsStayOutOfTheLog()
{
    const KindSpec &k = spec("person");
    QJsonObject datas = makeRecord(k, "3", 1).datas;
    datas.insert("password", "PIN.6|0,42");
    QCOMPARE(client->send("/command/person/property", order(2, datas)), 1);
    const QJsonObject fetched = client->exchange("/command/getinfo/person", order(4, datas));
    QCOMPARE(fetched.value("datas").toObject().value("password").toString(), "PIN.6|0,42");
    QCOMPARE(client->exchange("/command/getinfo/person", order(5, {{"getnum", 2}}))
                 .value("respond")
                 .toInt(),
        1);
    const QByteArray log = server->output();
    QVERIFY(log.contains("sql cmd:1.3.3|"));
    QVERIFY(log.contains("|***|"));
    QVERIFY2(!log.contains("PIN"), log.constData());
}

QTEST_GUILESS_MAIN(TestRecordCommands)
#include "test_recordcommands.moc"
