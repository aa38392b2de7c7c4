#include "commandclient.h"
#include "serverprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
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
    void pages_data();
    void pages();
    void accessRecords_data();
    void accessRecords();
    void hostileTextsRoundTrip_data();
    void hostileTextsRoundTrip();
    void textsThatWouldChangeAreRefused_data();
    void textsThatWouldChangeAreRefused();
    void codes_data();
    void codes();
    void failedWritesAnswerFive_data();
    void failedWritesAnswerFive();
    void personPasswordsStayOutOfTheLog();

private:
    // Rows of the kind's table in key order, each as its values in column order.
    QList<QStringList> rows(const KindSpec &k);
    // Runs statements on a database file of the server; false when one fails.
    bool sql(const QString &file, const QStringList &statements);
    // Adds an access record directly, as the access daemon does.
    void insertRecord(const Record &record);
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
    QList<QStringList> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        db.setDatabaseName(server->filePath(file(k)));
        if (!db.open())
            qWarning("cannot open %s", qPrintable(file(k)));
        QSqlQuery query(QStringLiteral("select * from %1 order by %2").arg(table(k), orderBy), db);
        while (query.next()) {
            QStringList values;
            for (int column = 0; column < query.record().count(); ++column)
                values << query.value(column).toString();
            result << values;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

bool TestRecordCommands::sql(const QString &file, const QStringList &statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "write");
        db.setDatabaseName(server->filePath(file));
        ok = db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements)
            ok = ok && query.exec(statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("write"));
    return ok;
}

void TestRecordCommands::insertRecord(const Record &record)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "daemon");
        db.setDatabaseName(server->filePath(QStringLiteral("record_database.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.prepare(QStringLiteral("insert into record values(?,?,?,?,?,?,?,?,?,?)")));
        for (const QString &value : record.row)
            query.addBindValue(value);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("daemon"));
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

void TestRecordCommands::pages_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QJsonValue>("startnum");
    QTest::addColumn<QJsonValue>("getnum");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QList<int>>("keys"); // the records of the page, then empty objects
    QTest::addColumn<int>("size");

    QTest::newRow("10 asked from 3: 3 rows in key order, 7 empty")
        << "person" << QJsonValue(0) << QJsonValue(10) << 1 << QList<int> {1, 2, 3} << 10;
    QTest::newRow("start skips rows")
        << "person" << QJsonValue(1) << QJsonValue(10) << 1 << QList<int> {2, 3} << 10;
    QTest::newRow("numbers as decimal strings")
        << "person" << QJsonValue("0") << QJsonValue("2") << 1 << QList<int> {1, 2} << 2;
    QTest::newRow("100 allowed") << "person" << QJsonValue(0) << QJsonValue(100) << 1
                                 << QList<int> {1, 2, 3} << 100;
    QTest::newRow("101 refused") << "person" << QJsonValue(0) << QJsonValue(101) << 9
                                 << QList<int>() << 0;
    QTest::newRow("time zones refuse 101 too")
        << "timezone" << QJsonValue(0) << QJsonValue(101) << 9 << QList<int>() << 0;
    QTest::newRow("start past the end")
        << "person" << QJsonValue(3) << QJsonValue(5) << 4 << QList<int>() << 0;
    QTest::newRow("none asked") << "person" << QJsonValue(0) << QJsonValue(0) << 4 << QList<int>()
                                << 0;
    QTest::newRow("stays answer the flag after the spare texts")
        << "stay" << QJsonValue(0) << QJsonValue(3) << 1 << QList<int> {1, 2, 3} << 3;
}

void TestRecordCommands::pages()
{
    QFETCH(QString, kind);
    QFETCH(QJsonValue, startnum);
    QFETCH(QJsonValue, getnum);
    QFETCH(int, respond);
    QFETCH(QList<int>, keys);
    QFETCH(int, size);
    const KindSpec &k = spec(kind);
    for (const char *key : {"3", "1", "2"})
        QCOMPARE(client->send(path("/command/%1/property", k),
                     order(2, makeRecord(k, key, 10 * QByteArray(key).toUInt()).datas)),
            1);

    const QJsonObject reply = client->exchange(
        path("/command/getinfo/%1", k), order(5, {{"startnum", startnum}, {"getnum", getnum}}));
    QCOMPARE(reply.value("respond").toInt(), respond);
    if (respond != 1) {
        QVERIFY(!reply.contains("datas"));
        return;
    }
    const QJsonArray page = reply.value("datas").toArray();
    QCOMPARE(page.size(), size);
    for (int i = 0; i < size; ++i) {
        const QJsonObject expected = i < keys.size()
            ? makeRecord(k, QString::number(keys.at(i)), 10 * keys.at(i)).object
            : QJsonObject();
        QCOMPARE(page.at(i).toObject(), expected);
    }
}

void TestRecordCommands::accessRecords_data()
{
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QList<int>>("numbers"); // the records answered, then empty objects
    QTest::addColumn<int>("size");

    const auto range = [](const QJsonValue &minid, const QJsonValue &maxid) {
        return order(6, {{"minid", minid}, {"maxid", maxid}});
    };
    QTest::newRow("by number") << order(4, {{"recordid", 7}}) << 1 << QList<int> {7} << -1;
    QTest::newRow("page") << order(5, {{"startnum", 1}, {"getnum", 10}}) << 1
                          << QList<int> {6, 7, 8, 9} << 10;
    QTest::newRow("range") << range(6, 8) << 1 << QList<int> {6, 7, 8} << 3;
    QTest::newRow("range wider than the records") << range(8, 20) << 1 << QList<int> {8, 9} << 13;
    QTest::newRow("range of 255 served") << range(0, 254) << 1 << QList<int> {5, 6, 7, 8, 9} << 255;
    QTest::newRow("range of 256 refused") << range(0, 255) << 9 << QList<int>() << 0;
    QTest::newRow("range of every number refused")
        << range(0, "4294967295") << 9 << QList<int>() << 0;
    QTest::newRow("range upside down") << range(5, 4) << 4 << QList<int>() << 0;
    QTest::newRow("range without records") << range(10, 20) << 4 << QList<int>() << 0;
    QTest::newRow("unknown number") << order(4, {{"recordid", 4}}) << 4 << QList<int>() << 0;
}

// Records 5 to 9, inserted as the access daemon inserts them, each with a hostile card text.
void TestRecordCommands::accessRecords()
{
    QFETCH(QJsonObject, request);
    QFETCH(int, respond);
    QFETCH(QList<int>, numbers);
    QFETCH(int, size);
    const KindSpec &k = spec("record");
    for (int number = 5; number <= 9; ++number)
        insertRecord(makeRecord(k, QString::number(number), number, "'.|,%2E"));

    const QJsonObject reply = client->exchange("/command/getinfo/record", request);
    QCOMPARE(reply.value("respond").toInt(), respond);
    if (respond != 1)
        return;
    const auto expected = [&](int i) {
        return i < numbers.size()
            ? makeRecord(k, QString::number(numbers.at(i)), numbers.at(i), "'.|,%2E").object
            : QJsonObject();
    };
    if (size < 0) {
        QCOMPARE(reply.value("datas").toObject(), expected(0));
        return;
    }
    const QJsonArray answered = reply.value("datas").toArray();
    QCOMPARE(answered.size(), size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(answered.at(i).toObject(), expected(i));
}

void TestRecordCommands::hostileTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("command separator") << QStringLiteral("1.2.3");
    QTest::newRow("row and field separators") << QStringLiteral("a,b|c,|");
    QTest::newRow("percent escapes") << QStringLiteral("%2E%7C%25%");
    QTest::newRow("placeholders") << QStringLiteral("%1%2");
    QTest::newRow("quotes") << QStringLiteral("O'Brien \"x\"");
    QTest::newRow("statement") << QStringLiteral("x'); delete from person; --");
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

void TestRecordCommands::textsThatWouldChangeAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("datas"); // JSON text as it is sent, before sealing

    QTest::newRow("half a surrogate pair")
        << "person" << QByteArray(R"({"personid":5,"iden":"x\ud800"})");
    QTest::newRow("bytes that are not UTF-8")
        << "cardid" << QByteArray("{\"personid\":5,\"xp\":\"x\xff\"}");
    QTest::newRow("leading zero in a date")
        << "holiday" << QByteArray(R"({"holidayid":5,"daytime":"0101"})");
    QTest::newRow("decimal point in a date")
        << "specialday" << QByteArray(R"({"specialdayid":5,"daytime":"2024.0"})");
    QTest::newRow("space before a number in the first interval")
        << "timezone" << QByteArray(R"({"timezoneid":5,"interval1":" 8"})");
}

// Nothing is stored, not even the delete of an older record under the same key.
void TestRecordCommands::textsThatWouldChangeAreRefused()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, datas);
    const KindSpec &k = spec(kind);
    const QByteArray property = path("/command/%1/property", k);
    QCOMPARE(client->send(property, order(2, makeRecord(k, "5", 1).datas)), 1);
    const QList<QStringList> before = rows(k);

    const QByteArray message = R"({"id":"r","devicesn":"12345","order":2,"datas":)" + datas + '}';
    const QJsonObject reply = client->exchange(property, sealedText(message));
    QCOMPARE(reply.value("respond").toInt(), 3);
    QCOMPARE(reply.value("id").toString(), QStringLiteral("r"));
    QCOMPARE(rows(k), before);
}

void TestRecordCommands::codes_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body"); // "{...}" is sealed, anything else sent as it stands
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("persons"); // persons left of 1 and 2

    const QByteArray property = "/command/person/property";
    const QByteArray sn = R"("id":"c","devicesn":"12345")";
    QTest::newRow("unknown order") << property << "{" + sn + R"(,"order":4})" << 3 << "c" << 2;
    QTest::newRow("missing order") << property << "{" + sn + "}" << 3 << "c" << 2;
    QTest::newRow("order as a string")
        << property << "{" + sn + R"(,"order":"3","datas":{"personid":"2"}})" << 1 << "c" << 1;
    QTest::newRow("wrong device") << property
                                  << QByteArray(R"({"id":"c","devicesn":"54321","order":1})") << 2
                                  << "c" << 2;
    QTest::newRow("no access records added by clients")
        << QByteArray("/command/record/property")
        << "{" + sn + R"(,"order":2,"datas":{"recordid":1}})" << 3 << "c" << 2;
    QTest::newRow("unknown query order")
        << QByteArray("/command/getinfo/person") << "{" + sn + R"(,"order":6})" << 3 << "c" << 2;
    QTest::newRow("unreadable query")
        << QByteArray("/command/getinfo/person") << QByteArray("not sealed") << 2 << "" << 2;
    QTest::newRow("unreadable access-record query")
        << QByteArray("/command/getinfo/record") << QByteArray("not sealed") << 6 << "" << 2;
}

void TestRecordCommands::codes()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    QFETCH(int, persons);
    const KindSpec &k = spec("person");
    for (const char *key : {"1", "2"})
        QCOMPARE(
            client->send("/command/person/property", order(2, makeRecord(k, key, 1).datas)), 1);

    const QJsonObject reply
        = client->exchange(path, body.startsWith('{') ? sealedText(body) : body);
    QCOMPARE(reply.value("respond").toInt(), respond);
    QCOMPARE(reply.value("id").toString(), id);
    QCOMPARE(rows(k).size(), persons);
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
