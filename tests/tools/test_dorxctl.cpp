#include "crypto/des.h"
#include "dorxctlrun.h"
#include "serverprocess.h"
#include "store/records.h"
#include "store/storetext.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Run = DorxctlRun;

// The management client against the real server, as an installer scripts it: one server for all
// tests, a state file of its own for each.
class TestDorxctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { home = std::make_unique<QTemporaryDir>(); }
    void firstSession();
    void overHttps();
    void failures_data();
    void failures();
    void settings_data();
    void settings();
    void helpExamplesWork();
    void listsEveryPageAndRange();
    void textsComeBackAsGiven();

private:
    Run dorxctl(const QStringList &arguments)
    {
        return Run::run(arguments, home->filePath(QStringLiteral("state")));
    }
    // Runs dorxctl and checks its exit status and output (unless out is null).
    void expect(const QStringList &arguments, int exitCode, const QByteArray &out = QByteArray())
    {
        const Run run = dorxctl(arguments);
        QVERIFY2(run.exitCode == exitCode && (out.isNull() || run.out == out), run.out + run.err);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.port()); }
    void login(const QString &address)
    {
        expect({"--url", address, "--devicesn", "12345", "login", "dorx", "6172839405"}, 0);
    }
    // Rows 0 to rows-1 holding their number in every column, as the access daemon would add them.
    void insert(const QString &file, const QString &table, int rows, int columns);

    ServerProcess server;
    std::unique_ptr<QTemporaryDir> home;
};

void TestDorxctl::initTestCase()
{
    // The refused logins of the tables must not lock the tests' address out.
    server.writeConfig(QStringLiteral("[login]\nthrottleFailures=100\n"));
    QVERIFY2(server.start(), server.output().constData());
    QCOMPARE(server.post("/command/writesn", "12345").body, QByteArray("OK-12345"));
}

void TestDorxctl::insert(const QString &file, const QString &table, int rows, int columns)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "daemon");
        db.setDatabaseName(server.filePath(file));
        QVERIFY(db.open() && db.transaction());
        QSqlQuery query(db);
        for (int i = rows - 1; i >= 0; --i) {
            const QString values = (QString::number(i) + ',').repeated(columns).chopped(1);
            QVERIFY(query.exec(QStringLiteral("insert into %1 values(%2)").arg(table, values)));
        }
        QVERIFY(db.commit());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("daemon"));
}

// Log in (an address copied from the browser, trailing slash and all), one encrypted and a few
// plain commands, log out.
void TestDorxctl::firstSession()
{
    login(url() + '/');
    QFile state(home->filePath(QStringLiteral("state")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QVERIFY(state.readAll().contains(
        "url=" + url().toUtf8() + "/\ndevicesn=12345\ncacert=\ncookie=sessionid={"));
    QCOMPARE(QFileInfo(state).permissions() & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());
    // "id" and "devicesn" are filled in; the decrypted reply is printed as the device wrote it.
    Run run = dorxctl({"send", "/command/getinfo/txid", "{\"processtag\":\"dorxctl-test\"}"});
    QVERIFY2(run.exitCode == 0
            && run.out.startsWith("{\n    \"datas\": {\n        \"txid\": 1\n    },\n"
                                  "    \"devicesn\": \"12345\",\n    \"id\": \""),
        run.out.constData());
    // Plain forms go as UTF-8 even under the C locale.
    const QString name = QString::fromUtf8("王五%1").arg(QDateTime::currentMSecsSinceEpoch());
    expect({"form", "/command/opera_add", "name=" + name + "&type=op"}, 0, "OK\n");
    run = dorxctl({"form", "/command/operator_get", ""});
    QVERIFY2(run.out.contains(QString("&Name=%1&Level=op").arg(name).toUtf8()), run.out.data());
    // deshex gives what the password form sends: changing the password to itself is accepted.
    const QString hex = des0_out(QStringLiteral("6172839405"));
    expect({"deshex", "6172839405"}, 0, hex.toLatin1() + '\n');
    expect({"form", "/command/password_set", "old=" + hex + "&new=" + hex}, 0, "OK\n");
    // The logout's "done" is 7.
    run = dorxctl({QStringLiteral("logout")});
    QVERIFY(run.exitCode == 0 && run.out.contains("\"respond\": 7"));
}

// A device with a certificate of its own is refused until that certificate is given, which is
// then kept with the address.
void TestDorxctl::overHttps()
{
    ServerProcess secure;
    QProcess openssl;
    openssl.setWorkingDirectory(secure.dir());
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
            "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    secure.writeConfig(QStringLiteral("[listener]\nsslKeyFile=key.pem\nsslCertFile=cert.pem\n"));
    QVERIFY2(secure.start(), secure.output().constData());
    const QString address = QStringLiteral("https://127.0.0.1:%1").arg(secure.port());
    const Run run = dorxctl({"--url", address, "login", "dorx", "6172839405"});
    QVERIFY2(run.exitCode == 1 && run.err.startsWith("dorxctl: cannot reach " + address.toUtf8())
            && run.err.endsWith("give --cacert FILE)\n"),
        run.err.constData());
    expect(
        {"--url", address, "--cacert", secure.filePath("cert.pem"), "login", "dorx", "6172839405"},
        0);
    QVERIFY(dorxctl({"form", "/command/operator_get", ""}).out.startsWith("OK&Name=dorx&Level="));
}

void TestDorxctl::failures_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QStringList>("arguments"); // "URL" stands for the server's address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // the beginning of the one line on standard error
    const auto row = [](const char *name, bool loggedIn, const QStringList &arguments, int exitCode,
                         const QString &message) {
        QTest::newRow(name) << loggedIn << arguments << exitCode << message;
    };
    const QString nobody = QStringLiteral("http://127.0.0.1:%1").arg(ServerProcess::freePort());
    const QString wrongLogin = "dorxctl: wrong name or password, a disabled operator, or too many "
                               "failed logins from this address: wait a minute and try again (";
    const QString unknown = QString::fromUtf8("dorxctl: the device does not know the command "
                                              "/command/nothing (it answered 该交易不支持");
    row("no server", false, {"--url", nobody, "login", "dorx", "6172839405"}, 1,
        "dorxctl: cannot reach " + nobody);
    row("no address known", false, {"form", "/command/active", "x"}, 1,
        "dorxctl: no device address");
    row("form command sent sealed", true, {"send", "/command/operator_get", "{}"}, 1,
        "dorxctl: the reply could not be decrypted (a form command? use dorxctl form "
        "/command/operator_get BODY): OK&Name=dorx");
    row("bad JSON", true, {"send", "/command/getinfo/txid", "{\"datas\":"}, 2,
        "dorxctl: the message is not valid JSON");
    row("unknown dorxctl command", false, {"fly"}, 2, "dorxctl: unknown command \"fly\"");
    row("store without a command", false, {"store"}, 2,
        "dorxctl: store needs at least one store command, e.g. dorxctl store 80 1.4.17");
    row("password the pages cannot send", false, {"deshex", ""}, 2,
        "dorxctl: the pages cannot send this password");
    row("missing argument", true, {"ident-set", "east-gate"}, 2,
        "dorxctl: usage: dorxctl [options] ident-set DEVNAME DEVNUMBER (see --help)");
    row("unknown device parameter", true, {"system-set", "speed=5"}, 2,
        "dorxctl: system-set takes NAME=VALUE with NAME one of: exit longopen");
    row("unknown record kind", true, {"list", "people"}, 2,
        "dorxctl: usage: dorxctl list KIND ..., KIND one of person");
    row("unknown field", true, {"add", "person", "personid=1", "nmae=x"}, 2,
        "dorxctl: not FIELD=VALUE with a field of person");
    row("number beyond 32 bits", true, {"show", "person", "4294967296"}, 2,
        "dorxctl: 4294967296 is not a number (personid)");

    row("wrong password", false, {"--url", "URL", "--devicesn", "12345", "login", "dorx", "no"}, 3,
        wrongLogin + "respond 7)");
    row("wrong password in the browser's login", false,
        {"--url", "URL", "form", "/command/login", "username=dorx&password=00"}, 3,
        wrongLogin + "the device answered \"login\")");
    row("wrong serial number names the device's", false,
        {"--url", "URL", "--devicesn", "99999", "login", "dorx", "6172839405"}, 3,
        "dorxctl: the device's serial number is \"12345\" (respond 2): give --devicesn 12345");
    row("unknown sealed command", true, {"send", "/command/nothing", "{}"}, 3, unknown);
    row("unknown form command", true, {"form", "/command/nothing", ""}, 3, unknown);
    row("encrypted command given a form", true, {"form", "/command/getinfo/txid", ""}, 3,
        "dorxctl: /command/getinfo/txid is an encrypted command, which does not take a form");
    row("result code other than 1", true, {"show", "person", "999"}, 3,
        "dorxctl: no such record (respond 4)");
    row("result code of one command", true,
        {"send", "/command/ycqr", "{\"datas\":{\"doornum\":0}}"}, 3,
        "dorxctl: the access daemon could not be asked or did not answer in time");
    row("value refused", true, {"add", "holiday", "holidayid=1", "daytime=0101"}, 3,
        "dorxctl: the device refused the order or a value");
    row("failure text", true, {"form", "/command/opera_add", "name=dorx&type=x"}, 3,
        QString::fromUtf8("dorxctl: the device refused: 新增用户失败，用户已存在！ (adding "
                          "failed: an operator of that name exists)"));
    row("failure text of a settings command", true,
        {"net-set", "10.0.0.5", "255.255.255.255", "10.0.0.1", "", "", "1", "2"}, 3,
        QString::fromUtf8("dorxctl: the device refused: 请检查子网掩码"));
    row("serial number written once", false, {"--url", "URL", "form", "/command/writesn", "54321"},
        3, "dorxctl: the device refused: ERROR-12345 (the serial number is written once");
    row("no reply text", false, {"--url", "URL", "form", "/command/writesn", "12"}, 3,
        "dorxctl: the device answered nothing: send a serial number of 5 characters or more");
    row("not logged in", false, {"--url", "URL", "send", "/command/getinfo/txid", "{}"}, 4,
        "dorxctl: not logged in, or the session expired");
}

void TestDorxctl::failures()
{
    QFETCH(bool, loggedIn);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    if (loggedIn)
        login(url());
    const Run run = dorxctl(arguments.replaceInStrings(QRegularExpression("^URL$"), url()));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(message.toUtf8()) && run.err.count('\n') == 1, run.err.data());
}

void TestDorxctl::settings_data()
{
    QTest::addColumn<QStringList>("set");
    QTest::addColumn<QString>("get");
    QTest::addColumn<QString>("out"); // pattern of what get prints
    const auto row
        = [](const char *name, const QStringList &set, const char *get, const char *out) {
              QTest::newRow(name) << set << get << QString::fromUtf8(out);
          };
    row("network",
        {"net-set", "10.0.0.5", "255.255.255.0", "10.0.0.1", "10.0.0.77", "", "15000", "16000"},
        "net-get",
        "^ip=10.0.0.5\nmask=255.255.255.0\ngateway=10.0.0.1\nserver1=10.0.0.77\n"
        "server2=0.0.0.0\nport=15000\nserverport=16000\nmac=\n$");
    row("identity", {"ident-set", "east-gate", "7"}, "ident-get",
        "^devname=east-gate\ndevnumber=7\n$");
    row("daily reboot", {"daily-reboot-set", "on", "3", "30"}, "daily-reboot-get",
        "^flag=Y\nhour=3\nminute=30\n$");
    row("versions", {}, "version-get",
        "^设备类型=\n产品型号=\n硬件版本=\n产品序列号=12345\nWEB版本=\n固件版本=\n$");
    row("device parameters", {"system-set", "opentime=5", "time=2024-05-01 08:30:00"}, "system-get",
        "\"opentime\": 5,\n[^}]*\"person\": \\d+,");
}

// Each setting changed and read back by name.
void TestDorxctl::settings()
{
    QFETCH(QStringList, set);
    QFETCH(QString, get);
    QFETCH(QString, out);
    login(url());
    if (!set.isEmpty())
        expect(set, 0);
    const Run run = dorxctl({get});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(QRegularExpression(out).match(QString::fromUtf8(run.out)).hasMatch(), run.out.data());
}

// The help names the exit statuses and the Chinese words of the output; every example of it runs,
// and the record it added reads back with its values (numbers bare, texts quoted).
void TestDorxctl::helpExamplesWork()
{
    login(url());
    const Run help = dorxctl({"--help"});
    QCOMPARE(help.exitCode, 0);
    for (const char *word : {"Exit status", "4  not logged in", "超级用户 super-user",
             "操作员 operator", "产品序列号 serial number"})
        QVERIFY2(help.out.contains(word), word);
    int examples = 0;
    for (const QString &line : QString::fromUtf8(help.out).split('\n')) {
        if (!line.startsWith(QLatin1String("      dorxctl ")))
            continue;
        ++examples;
        const QStringList words = line.trimmed().split(' ').mid(1);
        const Run run = dorxctl(words);
        QVERIFY2(run.exitCode == 0, qPrintable(line + ": " + run.err));
        if (words.at(0) != QLatin1String("add") || words.at(1) == QLatin1String("doorset"))
            continue;
        const Run shown = dorxctl({"show", words.at(1), words.at(2).section('=', 1)});
        const QString printed = ' ' + QString::fromUtf8(shown.out.trimmed()) + ' ';
        for (const QString &assignment : words.mid(2)) {
            const QString quoted
                = assignment.section('=', 0, 0) + "=\"" + assignment.section('=', 1) + '"';
            QVERIFY2(
                printed.contains(' ' + assignment + ' ') || printed.contains(' ' + quoted + ' '),
                qPrintable(assignment + " in " + printed));
        }
    }
    QCOMPARE(examples, 10);
}

// 205 persons take three pages; 300 access records, numbers 100 to 399 of 600, two ranges.
void TestDorxctl::listsEveryPageAndRange()
{
    login(url());
    expect({"clear", "person"}, 0, "cleared\n");
    expect({"clear", "record"}, 0, "cleared\n");
    insert(QStringLiteral("access_database.db"), QStringLiteral("person"), 205, 13);
    insert(QStringLiteral("record_database.db"), QStringLiteral("record"), 600, 10);
    QStringList lines = QString::fromUtf8(dorxctl({"list", "person"}).out).split('\n');
    QCOMPARE(lines.size(), 206);
    for (int i = 0; i < 205; ++i)
        QVERIFY(lines.at(i).startsWith(QStringLiteral("personid=%1 ").arg(i)));
    lines = QString::fromUtf8(dorxctl({"records", "100", "399"}).out).split('\n');
    lines.sort();
    QCOMPARE(lines.size(), 301);
    QVERIFY(lines.at(1).startsWith("recordid=100 personid=100 cardid=\"100\" type=100 "));
    expect({"records", "1000", "4294967295"}, 0, "");
}

// Texts with the store's separators come back as given, through the server and through "dorxctl
// store" in the terminal's working directory: there every command runs, one reply a line, and the
// failed ones are named and set the exit status. Elsewhere it refuses and creates nothing.
void TestDorxctl::textsComeBackAsGiven()
{
    login(url());
    const QString text = QString::fromUtf8("a.b|c,\"d\" %2E 张三");
    expect({"add", "cardid", "personid=5", "cardid=" + text}, 0, "stored\n");
    QCOMPARE(dorxctl({"add", "person", "personid=5", "name=" + text}).exitCode, 0);
    const QByteArray quoted = QString::fromUtf8("\"a.b|c,\\\"d\\\" %2E 张三\"").toUtf8();
    expect({"show", "cardid", "5"}, 0, "personid=5 cardid=" + quoted + " fingerid=\"\" xp=\"\"\n");
    QVERIFY(dorxctl({"show", "person", "5"}).out.contains(" name=" + quoted + " "));
    expect({"delete", "cardid", "5"}, 0, "deleted\n");
    QCOMPARE(dorxctl({"show", "cardid", "5"}).exitCode, 3);

    PersonStruct person;
    person.personid = 70000;
    person.name = QStringLiteral("5byg5LiJ");
    person.iden = QString::fromUtf8("it's 50% a.b|c,d 张三");
    const QString stored = records::person_to_str(person);
    const QString start = QDir::currentPath();
    QVERIFY(QDir::setCurrent(server.dir()));
    Run run = dorxctl({"store", "1.3." + stored, "1.4.70000", "11.1", "1.4.70001",
        "20.3.NOTE." + storetext::encode("a.b"), "20.4.NOTE", "20.4.DEVICESN"});
    QCOMPARE(QString::fromUtf8(run.out), "0\n0." + stored + "\n1\n2\n0\na.b\n12345\n");
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err,
        QByteArray("dorxctl: store command 11.1 answered 1: unknown table or operation\n"
                   "dorxctl: store command 1.4.70001 answered 2: nothing found\n"));
    const QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    run = dorxctl({"store", "1.1", "20.3.NOTE.x"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
        QByteArray("dorxctl: no access_database.db in the current directory; run store where the "
                   "server keeps its databases\n"));
    QCOMPARE(
        QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(QDir::setCurrent(start));
}

QTEST_GUILESS_MAIN(TestDorxctl)
#include "test_dorxctl.moc"
