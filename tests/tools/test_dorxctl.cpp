#include "dorxctlrun.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// The management client against the real server, as an installer scripts it: one server for all
// tests, a fresh state file for each.
class TestDorxctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QFile::remove(home.filePath(QStringLiteral("state"))); }
    void commands_data();
    void commands();
    void overHttps();
    void recordsAndStore();

private:
    // Runs dorxctl in directory with the words of line, split as a shell does (with '' quotes
    // only); "URL" at the start of a word stands for the server's address.
    DorxctlRun dorxctl(const QString &line, const QString &directory = QString())
    {
        QStringList words;
        auto match = QRegularExpression("'([^']*)'|(\\S+)").globalMatch(line);
        while (match.hasNext()) {
            const QRegularExpressionMatch word = match.next();
            words << word.captured(1) + word.captured(2);
        }
        words.replaceInStrings(QRegularExpression("^URL"), url());
        return DorxctlRun::run(words, home.filePath(QStringLiteral("state")), directory);
    }
    // Runs dorxctl and checks its exit status and output (unless out is null).
    void expect(const QString &line, int exitCode, const QByteArray &out = QByteArray())
    {
        const DorxctlRun run = dorxctl(line);
        QVERIFY2(run.exitCode == exitCode && (out.isNull() || run.out == out), run.out + run.err);
    }
    void login() { expect("--url URL --devicesn 12345 login dorx 6172839405", 0); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.port()); }

    ServerProcess server;
    QTemporaryDir home;
};

void TestDorxctl::initTestCase()
{
    // The refused logins of the table must not lock the tests' address out.
    server.writeConfig(QStringLiteral("[login]\nthrottleFailures=100\n"));
    QVERIFY2(server.start(), server.output().constData());
    QCOMPARE(server.post("/command/writesn", "12345").body, QByteArray("OK-12345"));
}

void TestDorxctl::commands_data()
{
    // Commands separated by " ; ", each but the last expected to succeed, after a login unless
    // they start with an option. Of the last: its exit status and, when done, a pattern of its
    // output, else the beginning of its one line on standard error after "dorxctl: ".
    QTest::addColumn<QString>("commands");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const QByteArray &commands, int exitCode,
                         const QByteArray &text) {
        QTest::newRow(name) << QString::fromUtf8(commands) << exitCode << QString::fromUtf8(text);
    };
    const QByteArray nobody = "http://127.0.0.1:" + QByteArray::number(ServerProcess::freePort());
    const QByteArray wrongLogin
        = "wrong name or password, a disabled operator, or too many failed logins from "
          "this address: wait a minute and try again (";
    row("address with a trailing slash, kept",
        "--url URL/ --devicesn 12345 login dorx 6172839405 ; form /command/operator_get ''", 0,
        "^OK&Name=dorx&Level=");
    row("form in UTF-8 under the C locale",
        "form /command/opera_add name=王五&type=op ; form /command/operator_get ''", 0,
        "&Name=王五&Level=op\n");
    row("delete", "add cardid personid=5 cardid=1 ; delete cardid 5", 0, "^deleted\n$");
    row("logout done with 7", "logout", 0, "\"respond\": 7");
    row("network settings",
        "net-set 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.77 '' 15000 16000 ; net-get", 0,
        "^ip=10.0.0.5\nmask=255.255.255.0\ngateway=10.0.0.1\nserver1=10.0.0.77\n"
        "server2=0.0.0.0\nport=15000\nserverport=16000\nmac=\n$");
    row("daily reboot on as Y", "daily-reboot-set on 3 30 ; daily-reboot-get", 0,
        "^flag=Y\nhour=3\nminute=30\n$");
    row("device parameters sealed", "system-set opentime=5 'time=2024-05-01 08:30:00' ; system-get",
        0, "\"opentime\": 5,\n[^}]*\"person\": \\d+,");

    row("no server", "--url " + nobody + " login dorx x", 1, "cannot reach " + nobody);
    row("no address known", "--timeout 5 form /command/active x", 1, "no device address");
    row("form command sent sealed", "send /command/operator_get {}", 1,
        "the reply could not be decrypted (a form command? use dorxctl form "
        "/command/operator_get BODY): OK&Name=dorx");
    row("bad JSON", "send /command/getinfo/txid {\"datas\":", 2, "the message is not valid JSON");
    row("password the pages cannot send", "--url URL deshex ''", 2,
        "the pages cannot send this password");
    row("number beyond 32 bits", "show person 4294967296", 2,
        "4294967296 is not a number (personid)");
    row("wrong password", "--url URL --devicesn 12345 login dorx no", 3, wrongLogin + "respond 7)");
    row("wrong password in the browser's login",
        "--url URL form /command/login username=dorx&password=00", 3,
        wrongLogin + "the device answered \"login\")");
    row("wrong serial number", "--url URL --devicesn 99999 login dorx 6172839405", 3,
        "the device's serial number is \"12345\" (respond 2): give --devicesn 12345");
    row("unknown command", "form /command/nothing ''", 3,
        "the device does not know the command /command/nothing (it answered 该交易不支持");
    row("encrypted command given a form", "form /command/getinfo/txid ''", 3,
        "/command/getinfo/txid is an encrypted command, which does not take a form");
    row("result code other than 1", "show person 999", 3, "no such record (respond 4)");
    row("failure text", "form /command/opera_add name=dorx&type=x", 3,
        "the device refused: 新增用户失败，用户已存在！ (adding failed: an operator of "
        "that name exists)");
    row("failure text with no meaning of its own",
        "net-set 10.0.0.5 255.255.255.255 10.0.0.1 '' '' 1 2", 3,
        "the device refused: 请检查子网掩码");
    row("no reply text", "--url URL form /command/writesn 12", 3,
        "the device answered nothing: send a serial number of 5 characters or more");
    row("not logged in", "--url URL send /command/getinfo/txid {}", 4,
        "not logged in, or the session expired");
}

void TestDorxctl::commands()
{
    QFETCH(QString, commands);
    QFETCH(int, exitCode);
    QFETCH(QString, text);
    if (!commands.startsWith("--"))
        login();
    QStringList each = commands.split(" ; ");
    for (const QString &command : each.mid(0, each.size() - 1))
        expect(command, 0);
    const DorxctlRun run = dorxctl(each.last());
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 0)
        QVERIFY2(QRegularExpression(text).match(QString::fromUtf8(run.out)).hasMatch(),
            run.out.constData());
    else
        QVERIFY2(run.err.startsWith("dorxctl: " + text.toUtf8()) && run.err.count('\n') == 1,
            run.err.constData());
}

// A device with a certificate of its own is refused until that certificate is given, which is
// then kept with the address in a state file for its owner's eyes only.
void TestDorxctl::overHttps()
{
    ServerProcess secure;
    QProcess openssl;
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", secure.filePath("key.pem"),
            "-out", secure.filePath("cert.pem"), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
            "subjectAltName=IP:127.0.0.1"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    secure.writeConfig(QStringLiteral("[listener]\nsslKeyFile=key.pem\nsslCertFile=cert.pem\n"));
    QVERIFY2(secure.start(), secure.output().constData());
    const QString login = QStringLiteral("--url https://127.0.0.1:%1 %2 login dorx 6172839405");
    const DorxctlRun run = dorxctl(login.arg(secure.port()).arg(QString()));
    QVERIFY2(run.exitCode == 1 && run.err.startsWith("dorxctl: cannot reach https://127.0.0.1:")
            && run.err.endsWith("give --cacert FILE)\n"),
        run.err.constData());
    expect(login.arg(secure.port()).arg("--cacert " + secure.filePath("cert.pem")), 0);
    QVERIFY(dorxctl("form /command/operator_get ''").out.startsWith("OK&Name=dorx&Level="));
    QCOMPARE(
        QFileInfo(home.filePath("state")).permissions() & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());
}

// 205 persons take three pages; 300 access records, numbers 100 to 399 of 600, two ranges (the
// rows go in last first, holding their number in every column, as the access daemon adds them).
// "dorxctl store" in the terminal's working directory runs every command, one reply a line, names
// the failed ones and sets the exit status; elsewhere it refuses and creates nothing.
void TestDorxctl::recordsAndStore()
{
    const auto fill = [](const char *table, int rows, int columns) {
        return QStringLiteral("with recursive n(i) as (select %1 union all select i - 1 from n "
                              "where i > 0) insert into %2 select %3 from n")
            .arg(rows - 1)
            .arg(table, QString("i,").repeated(columns).chopped(1));
    };
    login();
    expect("clear person", 0, "cleared\n");
    expect("clear record", 0, "cleared\n");
    QVERIFY(sqlExec(server.filePath("access_database.db"), {fill("person", 205, 13)}));
    QVERIFY(sqlExec(server.filePath("record_database.db"), {fill("record", 600, 10)}));
    QStringList lines = QString::fromUtf8(dorxctl("list person").out).split('\n');
    QCOMPARE(lines.size(), 206);
    for (int i = 0; i < 205; ++i)
        QVERIFY(lines.at(i).startsWith(QStringLiteral("personid=%1 ").arg(i)));
    lines = QString::fromUtf8(dorxctl("records 100 399").out).split('\n');
    lines.sort();
    QCOMPARE(lines.size(), 301);
    QVERIFY(lines.at(1).startsWith("recordid=100 personid=100 cardid=\"100\" type=100 "));
    expect("records 1000 4294967295", 0, "");
    expect("add person personid=70000 name=张三", 0, "stored\n");
    DorxctlRun run = dorxctl("store 11.1 1.4.70001 20.4.DEVICESN 1.4.70000", server.dir());
    // A person's name is kept as the Base64 of its UTF-8.
    QVERIFY2(run.out.startsWith("1\n2\n12345\n0.70000|") && run.out.contains("|5byg5LiJ|"),
        run.out.constData());
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err,
        QByteArray("dorxctl: store command 11.1 answered 1: unknown table or operation\n"
                   "dorxctl: store command 1.4.70001 answered 2: nothing found\n"));
    const QTemporaryDir elsewhere;
    run = dorxctl("store 1.1 20.3.NOTE.x", elsewhere.path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
        QByteArray("dorxctl: no access_database.db in the current directory; run store where the "
                   "server keeps its databases\n"));
    QCOMPARE(
        QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestDorxctl)
#include "test_dorxctl.moc"
