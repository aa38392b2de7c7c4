#include "commands/accessdaemon.h"
#include "conversation.h"
#include "crypto/des.h"
#include "crypto/envelope.h"
#include "daemonbus.h"
#include "sqlfile.h"

#include <QTcpSocket>
#include <QtTest>

namespace {

const QString config = "; kept\n[listener]\nreadTimeout=2000\n[login]\nthrottleLockout=1000\n"
                       "[daemon]\ncallTimeout=500\n[platform]\nnetworkFile=net/interfaces\n";

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
const QString hostile = QString("O'Brien \"x'); delete from person; \\u0041 1.2.3 "
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

QJsonObject order(int order, const QJsonObject &datas = {})
{
    return {{"order", order}, {"datas", datas}};
}

// A network form that passes every check, then the row's changes: the later field wins.
QByteArray networkForm(const QString &changes)
{
    return "tcpip_ip0=10&tcpip_ip1=0&tcpip_ip2=0&tcpip_ip3=5&tcpip_mk0=255&tcpip_mk1=255&"
           "tcpip_mk2=255&tcpip_mk3=0&tcpip_dg0=10&tcpip_dg1=0&tcpip_dg2=0&tcpip_dg3=1&"
           "tcpip_svr1_0=10&tcpip_svr1_1=0&tcpip_svr1_2=0&tcpip_svr1_3=77&tcpip_svr2_0=10&"
           "tcpip_svr2_1=0&tcpip_svr2_2=&tcpip_svr2_3=78&tcpip_Port=15000&tcpip_ServerPort=16000&"
        + changes.toUtf8();
}

const QByteArray oldNetworkFile = "\nauto eth0\niface eth0 inet dhcp";
// The one date and time the recording shell fails to set.
const QString refusedDate = "date -s '2024-03-01 00:00:00'";

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QString superUser = "超级用户";
const QString operatorType = "操作员";
const QByteArray defaultHex = des0_out("6172839405").toLatin1();
// Permission bits of the group and of others: files with secrets have none of them.
const QFile::Permissions groupAndOthers(0x0077);
using Rows = QList<QStringList>;

// Makes the operators of the database file users alone, then runs the statements.
bool seed(const QString &file, const Rows &users, const QStringList &statements = {})
{
    QStringList all = {"drop trigger if exists i", "drop trigger if exists u", "delete from user",
        "delete from txid"};
    for (const QStringList &row : users)
        all << "insert into user values('" + row.join("','") + "')";
    return sqlExec(file, all + statements);
}

} // namespace

// The commands against one real server, under the C locale as on devices (names must still arrive
// intact), with the recording shell and, on a private bus of the test's own that came after the
// server, the fake access daemon, which notes what reaches it. Each test starts from fresh settings
// files, network file, shell log, operators, counters and access tables, without the daemon, with a
// client of its own logged in. Daemon calls may take 500 ms.
class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void everyPath_data();
    void everyPath();
    void orders_data();
    void orders();
    void callTimeoutIsBounded();
    void daemonCommands_data();
    void daemonCommands();
    void hungDaemonHoldsNobodyForLong();
    void busThatComesLaterOrStartsAgainIsReached();
    void tpnetcfg_set_writes_the_network_file_data();
    void tpnetcfg_set_writes_the_network_file();
    void failed_network_write_keeps_the_old_file();
    void conversations_data();
    void conversations();
    void deviceParameters();
    void tpupload_data();
    void tpupload();
    void tpdefault_restores_the_factory_settings();
    void reboot_follows_the_reply();
    void tplogin();
    void writesnOnceAndFilesWithSecretsPrivate();
    void txidCountsPerAddressThenLogoutEndsTheSession();
    void tpactiveWritesTheLoginGroupAlone();
    void loginsAreThrottledPerAddress();

private:
    QList<QStringList> rows(const KindSpec &k);
    // Stores the record as a client (or, for access records, the access daemon) would.
    void store(const KindSpec &k, const Record &record)
    {
        if (k.add)
            QCOMPARE(client->send(
                         "/command/" + QByteArray(k.kind) + "/property", order(2, record.datas)),
                1);
        else
            QVERIFY(sqlExec(server.filePath("record_database.db"),
                {"insert into record values(?,?,?,?,?,?,?,?,?,?)"}, record.row));
    }
    QString iniValue(const QString &file, const QString &key)
    {
        return QSettings(server.filePath(file), QSettings::IniFormat).value(key).toString();
    }
    QString networkFile() const { return server.filePath("net/interfaces"); }
    QString backupCommand() const { return QString("cp %1 %1_bak").arg(networkFile()); }
    QString database() const { return server.filePath("login_sql.db"); }

    DaemonBus bus;
    ServerProcess server;
    std::unique_ptr<Client> client;
};

void TestCommands::initTestCase()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C");
    environment.remove("LANG");
    server.qprocess().setProcessEnvironment(environment);
    server.useBus(bus.address());
    server.writeConfig(config);
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n");
    QVERIFY2(server.start(), server.output().constData());
    // The databases are made after the port opens; the tests write them beside the server.
    QTRY_VERIFY_WITH_TIMEOUT(server.output().contains("Application has started"), 15000);
    QVERIFY(bus.startBus());
}

void TestCommands::init()
{
    bus.stopDaemon();
    for (const char *name : {"shell.log", "netconfig.ini"})
        QFile::remove(server.filePath(name));
    for (const char *folder : {"net", "uploads"})
        QDir(server.filePath(folder)).removeRecursively();
    server.writeConfig(config);
    server.writeFile("net/interfaces", oldNetworkFile);
    server.writeFile("uploads/keep", QByteArray());
    server.writeFile("shell.fail", refusedDate.toUtf8() + '\n');
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n");
    QVERIFY(seed(database(), {{"dorx", "6172839405", superUser, "1"}}));
    QVERIFY(sqlExec(server.filePath("access_database.db"),
        {"drop trigger if exists refuse", "delete from person", "delete from doorset",
            "delete from holiday"}));
    QVERIFY(sqlExec(server.filePath("record_database.db"),
        {"drop trigger if exists refuse", "delete from record"}));
    client = std::make_unique<Client>(server);
    QCOMPARE(client->login("dorx", "6172839405"), 1);
}

QList<QStringList> TestCommands::rows(const KindSpec &k)
{
    const QStringList fields = QString::fromLatin1(k.fields).split(' ');
    QString orderBy = fields.at(0).mid(1);
    if (fields.at(1).startsWith('*'))
        orderBy += ',' + fields.at(1).mid(1);
    return sqlRows(server.filePath(k.add ? "access_database.db" : "record_database.db"),
        QString("select * from %1 order by %2").arg(k.kind, orderBy));
}

void TestCommands::everyPath_data()
{
    QTest::addColumn<QString>("kind");
    for (const KindSpec &k : kinds)
        QTest::newRow(k.kind) << k.kind;
}

// Add, fetch by key, replace, delete and clear, seen by the client and in the table itself; every
// text holds the hostile text exactly, and the record beside it keeps its own.
void TestCommands::everyPath()
{
    QFETCH(QString, kind);
    // A is added, replaced and kept, B added and deleted; door settings share the door: only
    // door and direction together make their key.
    const bool door = kind == QLatin1String("doorset");
    const QString keyA = door ? "1.1" : "1", keyB = door ? "1.2" : "2";
    const KindSpec &k = spec(kind);
    const QByteArray property = "/command/" + QByteArray(k.kind) + "/property";
    const QByteArray getinfo = "/command/getinfo/" + QByteArray(k.kind);
    const Record a = makeRecord(k, keyA, 100, hostile);
    const Record b = makeRecord(k, keyB, 200);
    const Record replaced = makeRecord(k, keyA, 300, "new " + hostile);

    for (const Record *r : {&b, &a})
        store(k, *r);
    QCOMPARE(rows(k), QList<QStringList>({a.row, b.row}));
    const QJsonObject keyOfA = makeRecord(k, keyA, 0).datas;
    if (k.query)
        QCOMPARE(client->exchange(getinfo, order(4, keyOfA)),
            QJsonObject(
                {{"respond", 1}, {"id", "t1"}, {"devicesn", serialNumber}, {"datas", a.object}}));

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

void TestCommands::orders_data()
{
    QTest::addColumn<QByteArray>("path"); // below "/command/"; records 3, 1, 2 (5 to 9) stored
    QTest::addColumn<QByteArray>("message"); // JSON members after "id" and "devicesn"
    QTest::addColumn<int>("respond");
    QTest::addColumn<QList<int>>("keys"); // the records answered, then empty objects
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("refused"); // statement a trigger refuses, as a full disk would
    const auto row = [](const char *name, const char *path, const char *message, int respond,
                         const QList<int> &keys = {}, int size = 0, const char *refused = "") {
        QTest::newRow(name) << QByteArray(path) << QByteArray(message) << respond << keys << size
                            << refused;
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
    row("decimal point in a date", "holiday/property",
        R"("order":2,"datas":{"holidayid":1,"daytime":"2024.0"})", 3);
    row("space before a number", "holiday/property",
        R"("order":2,"datas":{"holidayid":1,"daytime":" 8"})", 3);
    row("unknown order", add, R"("order":4)", 3);
    row("no access records added by clients", "record/property",
        R"("order":2,"datas":{"recordid":1})", 3);
    row("unknown query order", person, R"("order":6)", 3);
    // A write the store cannot carry out is answered 5.
    row("replace not stored", add, R"("order":2,"datas":{"personid":1})", 5, {}, 0, "insert");
    row("delete not done", add, R"("order":3,"datas":{"personid":1})", 5, {}, 0, "delete");
    row("clear not done", add, R"("order":1)", 5, {}, 0, "delete");
    row("access record delete not done", "record/property", R"("order":3,"datas":{"recordid":5})",
        5, {}, 0, "delete");
    row("access records clear not done", "record/property", R"("order":1)", 5, {}, 0, "delete");
}

// Nothing but the reply changes; the log shows persons' passwords, PINs of the doors, only masked.
void TestCommands::orders()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, message);
    QFETCH(int, respond);
    QFETCH(QList<int>, keys);
    QFETCH(int, size);
    QFETCH(QString, refused);
    const KindSpec &k
        = spec(path.startsWith("getinfo/") ? path.mid(8) : path.left(path.indexOf('/')));
    for (int key : k.add ? QList<int> {3, 1, 2} : QList<int> {5, 6, 7, 8, 9})
        store(k, numbered(k, key));
    const QList<QStringList> before = rows(k);
    QVERIFY(refused.isEmpty()
        || sqlExec(server.filePath(k.add ? "access_database.db" : "record_database.db"),
            {QString("create trigger refuse before %1 on %2 begin select raise(abort, "
                     "'full'); end")
                    .arg(refused, k.kind)}));

    const QJsonObject reply = client->exchange(
        "/command/" + path, sealedText(R"({"id":"r","devicesn":"12345",)" + message + '}'));
    QJsonObject expected {{"respond", respond}, {"id", "r"}, {"devicesn", serialNumber}};
    QJsonArray answered;
    for (int i = 0; i < size; ++i)
        answered << (i < keys.size() ? numbered(k, keys.at(i)).object : QJsonObject());
    if (respond == 1)
        expected.insert("datas", answered);
    QCOMPARE(reply, expected);
    QCOMPARE(rows(k), before);
    const QByteArray log = server.output();
    QVERIFY(!path.contains("person") || (log.contains("sql cmd:1.3.3|") && log.contains("|***|")));
    QVERIFY2(!log.contains("PIN"), log.constData());
}

// A value that is not positive would be the bus's own 25 s.
void TestCommands::callTimeoutIsBounded()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings.setValue("callTimeout", "0");
    QTest::ignoreMessage(
        QtWarningMsg, "AccessDaemon: callTimeout must be a positive number of ms, using 3000");
    QCOMPARE(DaemonConfig::read(settings).callTimeoutMs, 3000);
}

void TestCommands::daemonCommands_data()
{
    QTest::addColumn<QString>("answer"); // of the daemon to "ycqr.7.3.1.2"; "-": no daemon
    QTest::addColumn<QByteArray>("setting"); // a line added to "sqlconfig.ini" before
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body"); // its "id" is the reply's
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands"); // the daemon's, then the shell's after "$ "
    QTest::addColumn<QString>("after"); // "KEY=value" of "sqlconfig.ini" afterwards
    const auto row = [](const char *name, const QByteArray &path, const QByteArray &body,
                         int respond, const QStringList &commands, const char *answer = "",
                         const char *setting = "", const char *after = "") {
        QTest::newRow(name) << answer << QByteArray(setting) << "/command/" + path << body
                            << respond << commands << after;
    };
    const auto sent = [](const QJsonObject &datas) {
        return message("t1", serialNumber, {{"datas", datas}});
    };
    const auto door = [&](int doornum) { return sent({{"doornum", doornum}}); };
    const QByteArray open = "longopen/property";
    row("door 3 is the daemon's door 4", open, door(3), 1, {"open.4"});
    row("door 4 refused", open, door(4), 3, {});
    row("LONGOPEN 2 switches long-open off", open, door(1), 10, {}, "", "LONGOPEN=2");
    row("daemon absent: the door order still counts as given", open, door(0), 1, {}, "-");

    const QJsonObject asked {{"personid", 7}, {"doornum", 3}, {"direciton", 1}, {"result", 2}};
    const QStringList ycqr {"ycqr.7.3.1.2"};
    const auto with = [&](const char *key, int value, const char *removed = "") {
        QJsonObject changed = asked;
        changed.insert(key, value);
        changed.remove(removed);
        return sent(changed);
    };
    row("confirmation: the daemon's answer", "ycqr", sent(asked), 9, ycqr, "9");
    row("confirmation: low 8 bits of the answer", "ycqr", sent(asked), 7, ycqr, "263");
    row("confirmation: answer that is no number", "ycqr", sent(asked), 0, ycqr, "yes");
    row("confirmation: direction spelled right", "ycqr", with("direction", 1, "direciton"), 0,
        ycqr);
    row("confirmation: direction 2 refused", "ycqr", with("direciton", 2), 3, {});
    row("confirmation: door 4 refused", "ycqr", with("doornum", 4), 3, {});
    row("confirmation: daemon absent", "ycqr", sent(asked), 4, {}, "-");

    // The device message's "time" takes the same road to the shell as the page's.
    const QByteArray system = "system/property";
    const auto at = [&](const char *time) { return sent({{"time", time}}); };
    row("clock set", system, at("2024-02-29 13:05:09"), 1,
        {"change", "time", "$ date -s '2024-02-29 13:05:09'", "$ hwclock -w"});
    row("clock: hostile", system, at("2024-02-29 13:05:09'$(reboot)'"), 3, {});
    row("clock the shell could not set", system, at("2024-03-01 00:00:00"), 5,
        {"change", "$ " + refusedDate});

    const auto reader = [&](const char *key) {
        return sent({{"facedevicekey", key}, {"readernum", 3}});
    };
    const QByteArray face = "facedevice/property";
    row("face reader stored under its key", face, reader("FACE01"), 1, {}, "", "", "FACE01=3");
    row("face reader without a key refused", face, reader(""), 3, {});
    row("serial number not overwritten", face, reader("DEVICESN"), 3, {}, "", "", "DEVICESN=12345");
    row("record numbering not overwritten", face, reader("RECORDID"), 3, {}, "", "", "RECORDID=");

    // Answered with the code and no more: the session, the settings and the doors stay.
    const QByteArray foreign = message("x", "54321",
        {{"order", 1}, {"datas", QJsonObject {{"username", "dorx"}, {"password", "6172839405"}}}});
    row("unreadable login", "tplogin", "no envelope", 6, {});
    row("login that is no JSON object", "tplogin", sealedText("[1,2,3]"), 6, {});
    row("login naming a member twice", "tplogin",
        sealedText(R"({"devicesn":"12345","datas":{"username":"dorx","password":"6172839405"},)"
                   R"("devicesn":"12345"})"),
        6, {});
    row("unreadable device message: as for another device", "getinfo/person", "no envelope", 2, {});
    for (const char *path :
        {"tplogin", "tplogout", "person/property", "system/property", "longopen/property"})
        row(qPrintable(QString("%1 for another device").arg(path)), path, foreign, 2, {});
}

void TestCommands::daemonCommands()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QStringList, commands);
    QFETCH(QString, after);
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n" + setting + "\n");
    if (answer != "-")
        QVERIFY2(
            bus.startDaemon(answer.isEmpty() ? QStringList()
                                             : QStringList {"--answer", "ycqr.7.3.1.2=" + answer}),
            bus.daemonErrors().constData());
    QCOMPARE(client->exchange(path, body),
        QJsonObject({{"respond", respond}, {"id", opened(body).value("id").toString()},
            {"devicesn", serialNumber}}));
    QStringList seen = bus.commands();
    for (const QString &command : server.shellLog())
        seen << "$ " + command;
    QCOMPARE(seen, commands);
    QVERIFY(client->loggedIn());
    if (!after.isEmpty())
        QCOMPARE(iniValue("sqlconfig.ini", after.section('=', 0, 0)), after.section('=', 1));
}

// A daemon that takes each command and never answers costs each call one timeout, long before
// the bus's own 25 s (which the client would not wait for): a remote confirmation is answered 4,
// and the requests waiting behind a hung call, or coming after it, are served.
void TestCommands::hungDaemonHoldsNobodyForLong()
{
    QVERIFY(bus.startDaemon({"--hang"}));
    QTcpSocket face;
    face.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(face.waitForConnected(5000));
    // Face readers post plain JSON and hold no session; the reply is empty.
    const QByteArray notice = R"({"deviceKey":"K","path":"p","personId":"1","type":2})";
    face.write("POST /FacePostMessage HTTP/1.1\r\nHost: x\r\nContent-Length: "
        + QByteArray::number(notice.size()) + "\r\n\r\n" + notice);
    QVERIFY(face.waitForBytesWritten(5000));

    const QJsonObject datas {{"personid", 1}, {"doornum", 0}, {"direciton", 0}, {"result", 0}};
    QCOMPARE(client->send("/command/ycqr", {{"datas", datas}}), 4);
    QByteArray body = "unread";
    QVERIFY(readHttpResponse(face, 10000, &body).startsWith("HTTP/1.1 200") && body.isEmpty());
    QCOMPARE(client->send("/command/person/property", {{"order", 1}}), 1);
    QCOMPARE(client->send("/command/longopen/property", {{"datas", QJsonObject()}}), 1);

    QStringList commands = bus.commands();
    QCOMPARE(commands.takeLast(), QString("open.1"));
    commands.sort();
    QCOMPARE(commands, QStringList({"face.1.2.K", "ycqr.1.0.0.0"}));
    QVERIFY(server.output().contains("AccessDaemon: \"ycqr.1.0.0.0\" failed: "));
}

// The bus may start again while the server runs (it came after it in the first place): each call
// looks for a live connection.
void TestCommands::busThatComesLaterOrStartsAgainIsReached()
{
    const QJsonObject door {{"datas", QJsonObject {{"doornum", 0}}}};
    for (int i = 0; i < 2; ++i) {
        bus.stopBus();
        QCOMPARE(client->send("/command/longopen/property", door), 1);
        QVERIFY(bus.startBus());
        QVERIFY(bus.startDaemon());
        QCOMPARE(client->send("/command/longopen/property", door), 1);
        QCOMPARE(bus.commands(), QStringList {"open.1"});
        bus.stopDaemon();
    }
}

void TestCommands::tpnetcfg_set_writes_the_network_file_data()
{
    QTest::addColumn<QByteArray>("stored"); // "netconfig.ini" [NET] before
    QTest::addColumn<QString>("extra"); // form fields beyond the network settings
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QByteArray>("preUp"); // the "pre-up" line of the file, if any
    QTest::addColumn<bool>("reboot");

    const auto row = [](const char *name, const char *stored, const char *extra, bool reboot,
                         const char *reply = "OK", const char *preUp = "") {
        QTest::newRow(name) << QByteArray(stored) << extra << reply << QByteArray(preUp) << reboot;
    };
    row("reboot at a new address", "IP=192.168.0.242\nMAC1=00:11:22:aa:BB:cc\n", "tcpip_rbt=1",
        true, "login&10.0.0.5", "pre-up ifconfig eth0 hw ether 00:11:22:aa:BB:cc\n");
    row("reboot at the same address", "IP=10.0.0.5\n", "tcpip_rbt=2", true);
    row("MAC that is no hardware address left out", "MAC1=\"00:11; reboot\"\n", "", false);
}

void TestCommands::tpnetcfg_set_writes_the_network_file()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, extra);
    QFETCH(QString, reply);
    QFETCH(QByteArray, preUp);
    QFETCH(bool, reboot);
    server.writeFile("netconfig.ini", "[NET]\n" + stored);
    QCOMPARE(client->post("/command/netcfg_set", networkForm(extra)), reply);

    QCOMPARE(fileContent(networkFile()),
        "\nauto eth0\niface eth0 inet static\n" + preUp
            + "address 10.0.0.5\ngateway 10.0.0.1\nnetmask 255.255.255.0\n"
              "dns-nameservers 10.0.0.1");
    QCOMPARE(fileContent(networkFile() + "_bak"), oldNetworkFile);
    QStringList commands = {backupCommand(), "sync"};
    if (reboot)
        commands << "reboot";
    QTRY_COMPARE(server.shellLog(), commands);
    QCOMPARE(iniValue("netconfig.ini", "NET/flag"), QString("1"));
}

// The network page and the factory reset both answer the failure and change no file, first
// with the backup refused, then with the folder missing.
void TestCommands::failed_network_write_keeps_the_old_file()
{
    server.writeFile("shell.fail", backupCommand().toUtf8() + '\n');
    for (int folderMissing = 0; folderMissing < 2; ++folderMissing) {
        const QByteArray before = fileContent(networkFile());
        QCOMPARE(client->post("/command/netcfg_set", networkForm("tcpip_rbt=1")),
            QString("修改网络设置失败！"));
        QCOMPARE(client->post("/command/default", ""), QString("恢复出厂设置失败！"));
        QCOMPARE(fileContent(networkFile()), before);
        QVERIFY(!server.shellLog().contains("sync") && !server.shellLog().contains("reboot"));
        server.writeFile("shell.fail", refusedDate.toUtf8() + '\n');
        QVERIFY(QDir(server.filePath("net")).removeRecursively());
    }
}

// Form commands of the pages. No row stores a network setting, touches the network file or runs
// more than its commands; the operators are the built-in one unless the row says otherwise.
void TestCommands::conversations_data()
{
    QTest::addColumn<Conversation>("conversation");
    QTest::addColumn<QStringList>("commands"); // given to the shell
    QTest::addColumn<Rows>("after"); // the operators stored afterwards, in table order
    QTest::addColumn<Rows>("users"); // stored before, after the statements
    QTest::addColumn<QStringList>("statements"); // run on the operator database before
    QTest::addColumn<QStringList>("login"); // name and password of the row's own login
    const QStringList dorx = {"dorx", "6172839405", superUser, "1"};
    const auto row = [&](const char *name, const Conversation &conversation,
                         const QStringList &commands = {}, const Rows &after = {},
                         const Rows &users = {}, const QStringList &login = {},
                         const QStringList &statements = {}) {
        QTest::newRow(name) << conversation << commands << (after.isEmpty() ? Rows {dorx} : after)
                            << users << statements << login;
    };
    // A network form's first failing check is the reply, and nothing is stored, written or run.
    const auto network = [&](const char *name, const char *changes, const char *reply) {
        row(name, {{"netcfg_set", networkForm(changes) + "&tcpip_rbt=1", reply}});
    };
    const char *ip = "请检查IP地址";
    network("address part over 255", "tcpip_ip1=256", ip);
    network("address 0.0.0.0", "tcpip_ip0=0&tcpip_ip3=0", ip);
    network("mask 255.255.255.255", "tcpip_mk3=255", "请检查子网掩码");
    network("gateway part over 255", "tcpip_dg0=300", "请检查网关地址");
    network("server 1 part over 255", "tcpip_svr1_3=256", "请检查1#服务器地址");
    network("server 2 part signed", "tcpip_svr2_0=+1", "请检查2#服务器地址");
    network("device port 65536", "tcpip_Port=65536", "请检查设备端口号");
    network("server port 0", "tcpip_ServerPort=0", "请检查服务器端口号");
    network("ports checked before the whole address", "tcpip_ip0=0&tcpip_ip3=0&tcpip_Port=0",
        "请检查设备端口号");
    const QString refused = "日期时间格式不正确!";
    row("identity",
        {{"ident_set", "devname=东门&devnumber=7", "OK"},
            {"ident_get", "", "OK&devname=东门&devnumber=7"}});
    row("identity without a name",
        {{"ident_set", "devname=&devnumber=7", "设备名称格式不正确!"},
            {"ident_get", "", "OK&devname=&devnumber="}});
    row("identity without a number",
        {{"ident_set", "devname=a", "设备编号格式不正确!"},
            {"ident_get", "", "OK&devname=&devnumber="}});
    row("platform server",
        {{"pf_set", "pf_server=10.1.1.1:8080", "OK"},
            {"pfset_get", "", "OK&pf_server=10.1.1.1:8080"}});
    row("platform server empty", {{"pf_set", "pf_server=", "接入平台格式不正确!"}});
    row("daily reboot: lower-case y is off",
        {{"rebootcfg_set", "flag=y&hour=4", "OK"},
            {"rebootcfg_get", "", "OK&flag=N&hour=4&minute="}});
    // The shell sees only "date" with a date and time the server formatted itself, or nothing.
    row("clock", {{"datetime_set", "Ntp=pool&Date=2024-02-29&Time=13:05:09", "OK"}},
        {"date -s '2024-02-29 13:05:09'", "hwclock -w"});
    row("clock, minutes only", {{"datetime_set", "Date=2024-02-29&Time=13:05", "OK"}},
        {"date -s '2024-02-29 13:05:00'", "hwclock -w"});
    row("clock: single quote",
        {{"datetime_set", "Date=2024-02-29';reboot;'&Time=13:05:09", refused}});
    row("clock: no time", {{"datetime_set", "Date=2024-02-29", refused}});
    row("clock the shell could not set",
        {{"datetime_set", "Date=2024-03-01&Time=00:00", "修改日期时间失败！"}}, {refusedDate});

    const QStringList op = {"op", "pw", operatorType, "1"};
    row("only super-users change operators",
        {{"opera_add", "name=x&type=y", "新增用户失败，权限不够！"},
            {"opera_del", "n=dorx&t=x&d=true&n=op&t=y&d=false", "修改用户失败，权限不够！"},
            {"opera_mdf", "a=true&b=true", "恢复密码失败，权限不够！"},
            {"operator_get", "", "OK&Name=dorx&Level=超级用户&Name=op&Level=操作员"}},
        {}, {dorx, op}, {dorx, op}, {"op", "pw"});
    row("operators added with the default password up to five",
        {{"opera_add", "name=dorx&type=x", "新增用户失败，用户已存在！"},
            {"opera_add", "name=张三&type=操作员", "OK"}, {"opera_add", "name=solo", "OK"},
            {"opera_add", "name=&type=t", "OK"}, {"opera_add", "name=e'x&type=t", "OK"},
            {"opera_add", "name=f&type=t", "新增用户失败，用户数已满！"},
            {"operator_get", "",
                "OK&Name=dorx&Level=超级用户&Name=张三&Level=操作员&Name=solo&Level="
                "&Name=&Level=t&Name=e'x&Level=t"}},
        {},
        {dorx, {"张三", "6172839405", operatorType, "1"}, {"solo", "6172839405", "", "1"},
            {"", "6172839405", "t", "1"}, {"e'x", "6172839405", "t", "1"}});
    // Both pair the form's fields with the stored operators by position in table order.
    // opera_del's marks false, true, false: the third operator is renamed and retyped and keeps
    // its reset password; a fourth group has no stored operator and a fifth is cut short.
    row("password reset and list rewrite by position",
        {{"opera_mdf", "0=false&1=TRUE&2=true&3=true", "OK"},
            {"opera_del",
                "n0=dorx&t0=超级用户&d0=false&n1=a&t1=t&d1=true&n2=bee&t2=管理员&d2=false&"
                "n3=ghost&t3=t&d3=false&n4=half",
                "OK"}},
        {}, {{"dorx", "pw0", superUser, "1"}, {"bee", "6172839405", "管理员", "1"}},
        {{"dorx", "pw0", superUser, "1"}, {"a", "pwA", "t", "1"}, {"b", "pwB", "t", "1"}},
        {"dorx", "pw0"});
    // Triggers make every insert and update fail while reads and deletes work, so a rewrite of
    // the list fails half-way after its delete.
    row("failed writes are not answered as done",
        {{"opera_add", "name=n&type=t", "新增用户失败！"},
            {"opera_del", "n=dorx&t=x&d=false&n=a&t=t&d=true", "修改用户失败！"},
            {"opera_mdf", "a=false&b=true", "恢复密码失败！"},
            {"password_set", "o=" + defaultHex + "&n=" + defaultHex, "修改失败，请重新登录！"}},
        {}, {dorx, {"a", "pwA", "t", "1"}}, {dorx, {"a", "pwA", "t", "1"}}, {},
        {"create trigger i before insert on user begin select raise(abort,'');end",
            "create trigger u before update on user begin select raise(abort,'');end"});

    const QByteArray newHex = des0_out("s3cret").toLatin1();
    row("own password changed, the old one in upper-case hex",
        {{"password_set", "o=" + defaultHex.toUpper() + "&n=" + newHex, "OK"}}, {},
        {{"dorx", "s3cret", superUser, "1"}});
    row("own password kept: wrong old one",
        {{"password_set", "o=" + newHex + "&n=" + newHex, "修改失败，旧密码错误！"}});
}

void TestCommands::conversations()
{
    QFETCH(Conversation, conversation);
    QFETCH(QStringList, commands);
    QFETCH(Rows, after);
    QFETCH(Rows, users);
    QFETCH(QStringList, statements);
    QFETCH(QStringList, login);
    QVERIFY(users.isEmpty() || seed(database(), users, statements));
    if (!login.isEmpty())
        QCOMPARE(client->login(login.at(0), login.at(1)), 1);
    converse(*client, conversation);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(sqlRows(database(), "select * from user"), after);
    QCOMPARE(server.shellLog(), commands);
    QCOMPARE(iniValue("netconfig.ini", "NET/IP"), QString());
    QCOMPARE(fileContent(networkFile()), oldNetworkFile);
}

// system_process stores non-zero values only, and "HS" not under firmware 8, which shows it as
// 3; get_system and the contents page count the store.
void TestCommands::deviceParameters()
{
    QVERIFY(sqlExec(server.filePath("access_database.db"),
        {"insert into person(Personid) values(1)", "insert into person(Personid) values(2)",
            "insert into cardid(Personid) values(1)", "insert into permit(Permitrank) values(1)",
            "insert into stay(Stayid) values(3)", "attach ? as r",
            "insert into r.record(Recordid) values(5)", "insert into r.record(Recordid) values(9)"},
        {server.filePath("record_database.db")}));
    const QJsonObject datas {
        {"exit", 1}, {"longopen", 0}, {"hs", 4}, {"cellmin", "7"}, {"opentime", "x"}};
    for (const auto &[firmware, stored, hs] : {std::make_tuple("", "4", 4),
             std::make_tuple("8.2.1", "5", 3), std::make_tuple("80.1", "4", 4)}) {
        server.writeFile("sqlconfig.ini",
            "[General]\nDEVICESN=12345\nLONGOPEN=2\nHS=5\nFIRMWARE=" + QByteArray(firmware) + '\n');
        QCOMPARE(client->send("/command/system/property", {{"datas", datas}}), 1);
        QSettings settings(server.filePath("sqlconfig.ini"), QSettings::IniFormat);
        QStringList values;
        for (const char *key : {"EXIT", "LONGOPEN", "HS", "CELL_VOLATAGE_MIN", "OPENTIME"})
            values << settings.value(key, "<none>").toString();
        QCOMPARE(values, QStringList({"1", "2", stored, "7", "<none>"}));

        QJsonObject info
            = client->exchange("/command/getinfo/system", QJsonObject()).value("datas").toObject();
        QVERIFY(info.take("time").toString().contains(
            QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")));
        QCOMPARE(info,
            QJsonObject({{"person", 2}, {"cardid", 1}, {"permit", 1}, {"warrant", 0},
                {"timezone", 0}, {"holiday", 0}, {"stay", 1}, {"recordidmin", 5},
                {"recordidmax", 9}, {"record", 2}, {"exit", 1}, {"longopen", 2}, {"hs", hs},
                {"cell_volatage_min", 7}}));
    }
    QVERIFY(client->post("/command/datetime_get", "")
                .contains(QRegularExpression(
                    "^OK&Date=\\d{4}-\\d\\d-\\d\\d&Time=\\d\\d:\\d\\d:\\d\\d&Ntp=$")));
    QCOMPARE(client->post("/command/devContent_get", ""),
        QString("OK&人员信息=2&权限设置=1&授权信息=0&时间表=0&特殊日期=0&常状态=1&记录数=2"));
    QCOMPARE(server.shellLog(), QStringList());
}

void TestCommands::tpupload_data()
{
    QTest::addColumn<QString>("root"); // "fileroot" in the configuration
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("name");
    const auto row = [](const char *tag, const char *root, const char *field, const char *name) {
        QTest::newRow(tag) << root << QByteArray(field) << QByteArray(name);
    };
    row("into fileroot, byte for byte", "uploads", "upload", "fw.bin");
    row("name with a path", "uploads", "upload", "../fw.bin");
    row("empty name", "uploads", "upload", "");
    row("no upload field", "uploads", "other", "fw.bin");
    row("fileroot that does not exist", "gone", "upload", "fw.bin");
}

// The file lands byte for byte inside "fileroot" and the terminal reboots; an upload that would not
// land there is refused with "传送失败", leaves no file and does not reboot.
void TestCommands::tpupload()
{
    QFETCH(QString, root);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, name);
    server.writeConfig(config + "[login]\nfileroot=" + root + '\n'); // read afresh by every upload
    QByteArray content;
    for (int i = 0; i < 150000; ++i) // more than two copy pieces, every byte value
        content += char(i * 7 % 256);
    const QByteArray multipart = "--XyZ\r\nContent-Disposition: form-data; name=\"" + field
        + "\"; filename=\"" + name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n"
        + content + "\r\n--XyZ--\r\n";
    const QByteArray response
        = server.exchange("POST /command/upload HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                          "Cookie: sessionid="
            + client->sessionId()
            + "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
            + QByteArray::number(multipart.size()) + "\r\n\r\n" + multipart);
    const bool kept = QTest::currentDataTag() == QLatin1String("into fileroot, byte for byte");
    QCOMPARE(QString(response.mid(response.indexOf("\r\n\r\n") + 4)),
        kept ? QString("OK") : QString("传送失败"));
    QCOMPARE(QDir(server.filePath("uploads")).entryList(QDir::Files),
        kept ? QStringList({"fw.bin", "keep"}) : QStringList({"keep"}));
    QCOMPARE(fileContent(server.filePath("uploads/fw.bin")), kept ? content : "<missing>");
    QVERIFY(!QFile::exists(server.filePath("fw.bin")));
    QTRY_COMPARE(server.shellLog(), kept ? QStringList({"reboot"}) : QStringList());
}

// Operators and network back to the factory's, the hardware address kept, then a reboot.
void TestCommands::tpdefault_restores_the_factory_settings()
{
    server.writeFile(
        "netconfig.ini", "[NET]\nflag=1\nIP=10.0.0.5\nSERVERIP1=1.1.1.1\nMAC1=00:11:22:33:44:55\n");
    converse(*client,
        {{"opera_add", "name=guard&type=op", "OK"}, {"default", "", "login&192.168.0.242"},
            {"operator_get", "", "OK&Name=dorx&Level=超级用户"}});
    QCOMPARE(iniValue("netconfig.ini", "NET/SERVERIP1"), QString("192.168.0.77"));
    QCOMPARE(fileContent(networkFile()),
        QByteArray("\nauto eth0\niface eth0 inet static\npre-up ifconfig eth0 hw ether "
                   "00:11:22:33:44:55\naddress 192.168.0.242\ngateway 192.168.0.1\nnetmask "
                   "255.255.255.0\ndns-nameservers 192.168.0.1"));
    QTRY_COMPARE(server.shellLog(), QStringList({backupCommand(), "sync", "reboot"}));
}

// While the recording shell holds "reboot", the reply must already have arrived in full.
void TestCommands::reboot_follows_the_reply()
{
    server.writeFile("reboot.hold", QByteArray());
    QCOMPARE(client->post("/command/reboot", ""), QString("OK"));
    QTRY_COMPARE(server.shellLog(), QStringList {"reboot"});
    QVERIFY(QFile::remove(server.filePath("reboot.hold")));
    QCOMPARE(client->post("/command/rebootcfg_get", ""), QString("OK&flag=N&hour=&minute="));
}

// Only a successful login opens the gated paths to the session; names and passwords beyond ASCII
// arrive intact, and a numeric id is echoed as text.
void TestCommands::tplogin()
{
    client = std::make_unique<Client>(server);
    QVERIFY(sqlExec(database(), {"insert into user values('张三', '密码', '操作员', '1')"}));
    QCOMPARE(client->exchange("/command/tplogin", loginMessage("dorx", "6172839404")),
        QJsonObject({{"respond", 7}, {"id", "L1"}, {"devicesn", serialNumber}}));
    QVERIFY(!client->loggedIn());
    QCOMPARE(client->exchange("/command/tplogin", loginMessage("张三", "密码", serialNumber, 12)),
        QJsonObject({{"respond", 1}, {"id", "12"}, {"devicesn", serialNumber}}));
    QVERIFY(client->loggedIn());
}

// The serial number (digits of the body, once) is what every envelope is then checked against;
// the door count may be written once. Databases and settings files the server creates hold
// passwords and access data: they are its owner's alone.
void TestCommands::writesnOnceAndFilesWithSecretsPrivate()
{
    for (const char *name : {"sqlconfig.ini", "netconfig.ini"})
        QFile::remove(server.filePath(name));
    converse(*client,
        {{"writesn", "AB 123 45\r\n", "OK-12345"}, {"writesn", "67890", "ERROR-12345"},
            {"writesn", "9", "error-para"}, {"writesn", "12", ""}, {"writesn", "4", "OK-4"},
            {"writesn", "2", "ERROR-writed"}});
    QCOMPARE(iniValue("netconfig.ini", "DOORCOUNT"), QString("4"));
    QCOMPARE(client->login("dorx", "6172839405"), 1);
    for (const char *name : {"login_sql.db", "access_database.db", "record_database.db",
             "sqlconfig.ini", "netconfig.ini"})
        QCOMPARE(QFile::permissions(server.filePath(name)) & groupAndOthers, QFile::Permissions());
}

// The counter of each address (and "processtag") goes on from what is stored, starting again at 1
// after 5000000; a tplogout answers 7 when it logged out.
void TestCommands::txidCountsPerAddressThenLogoutEndsTheSession()
{
    const auto ask = [&](const QJsonObject &extra) {
        const QJsonObject reply = client->exchange("/command/getinfo/txid", extra);
        return qMakePair(reply.value("datas").toObject().value("txid").toVariant().toLongLong(),
            reply.value("txid").toVariant().toLongLong());
    };
    // A new key is stored with 1 and read as 0: the object offers 1, the reply's counter is 2.
    QCOMPARE(ask({}), qMakePair(1LL, 2LL));
    QCOMPARE(ask({}), qMakePair(3LL, 3LL));
    QCOMPARE(ask({{"processtag", "P7"}}), qMakePair(1LL, 2LL));
    QCOMPARE(ask({}), qMakePair(4LL, 4LL));
    // Rows in the order of their last use.
    QCOMPARE(sqlRows(database(), "select * from txid"),
        Rows({{"127.0.0.1P7", "2"}, {"127.0.0.1", "4"}}));
    for (const auto &[stored, offered, next] : {std::make_tuple("4999999", 5000000LL, 5000000LL),
             std::make_tuple("5000000", 5000001LL, 1LL),
             std::make_tuple("4294967295", 4294967296LL, 1LL)}) {
        QVERIFY(sqlExec(database(), {"update txid set txid = ? where ip = '127.0.0.1'"}, {stored}));
        QCOMPARE(ask({}), qMakePair(offered, next));
    }
    // Replies are indented JSON with their keys in order, as the clients' text matching reads them.
    QCOMPARE(envelope::open(
                 client->post("/command/getinfo/txid", message("t1", serialNumber)).toLatin1()),
        QByteArray(
            "{\n    \"datas\": {\n        \"txid\": 2\n    },\n    \"devicesn\": \"12345\",\n"
            "    \"id\": \"t1\",\n    \"respond\": 1,\n    \"txid\": 2\n}\n"));

    QCOMPARE(client->exchange("/command/tplogout", QJsonObject {{"id", "out"}}),
        QJsonObject({{"respond", 7}, {"id", "out"}, {"devicesn", serialNumber}}));
    QVERIFY(!client->loggedIn());
}

// The account goes into the "login" group alone: the rest of the file, comments included, stays,
// and the file is then readable by its owner only. A settings file that cannot be written, this
// one or the network settings, is not answered as done.
void TestCommands::tpactiveWritesTheLoginGroupAlone()
{
    const QString file = server.filePath("DORXWebOnDevice.ini");
    converse(*client,
        {{"active", "isActive=?", "isActive=0"}, {"active", "username=门卫&password=p=w", "OK"},
            {"active", "isActive=?", "OK&isActive=1"}});
    QSettings ini(file, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(
        QStringList({ini.value("login/name").toString(), ini.value("login/password").toString()}),
        QStringList({"门卫", "p"}));
    QVERIFY(fileContent(file).startsWith("; kept\n[listener]\n"));
    QCOMPARE(QFile::permissions(file) & groupAndOthers, QFile::Permissions());
    const QString net = server.filePath("netconfig.ini");
    QVERIFY(QFile::remove(file) && QDir().mkdir(file) && QDir().mkdir(net));
    converse(*client,
        {{"active", "username=a&password=b", "激活失败！"},
            {"pf_set", "pf_server=a", "保存设置失败！"}});
    QVERIFY(QDir().rmdir(file) && QDir().rmdir(net));
}

// The browser's and the management client's failures count together; a locked-out address is
// answered as for a wrong password, until the lockout ends.
void TestCommands::loginsAreThrottledPerAddress()
{
    const auto browserLogin = [&](const QByteArray &hex) {
        return client->post("/command/login", "username=dorx&password=" + hex);
    };
    const QByteArray wrongHex = des0_out("wrong").toLatin1();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(browserLogin(wrongHex), QString("login"));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(client->login("dorx", "wrong"), 7);
    QCOMPARE(browserLogin(defaultHex), QString("login"));
    QCOMPARE(client->login("dorx", "6172839405"), 7);
    QCOMPARE(server.output().count("LoginThrottle: 5 failed logins from 127.0.0.1; its logins are "
                                   "refused for 1 s\n"),
        1);
    QTRY_COMPARE_WITH_TIMEOUT(browserLogin(defaultHex), QString("OK"), 10000);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
