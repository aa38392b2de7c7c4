#include "crypto/des.h"
#include "dorxctlrun.h"
#include "serverprocess.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using Run = DorxctlRun;

namespace {

const QString serialNumber = QStringLiteral("12345");

} // namespace

// The management client against the real server: each test has a state file of its own.
class TestDorxctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void help_lists_the_commands();
    void first_session();
    void errors_data();
    void errors();

    void settings_data();
    void settings();

private:
    Run dorxctl(const QStringList &arguments);
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.port()); }
    void login();

    ServerProcess server;
    QScopedPointer<QTemporaryDir> home;
};

void TestDorxctl::initTestCase()
{
    server.writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    QVERIFY2(server.start(), server.output().constData());
    QByteArray reply = server.exchange("POST /command/writesn HTTP/1.1\r\nHost: x\r\n"
                                       "Content-Length: 5\r\nConnection: close\r\n\r\n12345");
    QVERIFY2(reply.endsWith("OK-12345"), reply.constData());
}

void TestDorxctl::init()
{
    home.reset(new QTemporaryDir);
    QVERIFY(home->isValid());
}

void TestDorxctl::cleanupTestCase()
{
    server.stop();
}

Run TestDorxctl::dorxctl(const QStringList &arguments)
{
    return Run::run(arguments, home->filePath(QStringLiteral("state")));
}

void TestDorxctl::login()
{
    const Run run
        = dorxctl({QStringLiteral("--url"), url(), QStringLiteral("--devicesn"), serialNumber,
            QStringLiteral("login"), QStringLiteral("dorx"), QStringLiteral("6172839405")});
    QVERIFY2(run.exitCode == 0, run.err.constData());
}

void TestDorxctl::help_lists_the_commands()
{
    const Run run = dorxctl({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    for (const char *word : {"login NAME PASSWORD", "send PATH JSON", "form PATH BODY",
             "deshex TEXT", "DORXCTL_SESSION", "Exit status", "net-set IP MASK GATEWAY",
             "time-set DATE TIME NTP", "system-set NAME=VALUE"})
        QVERIFY2(run.out.contains(word), word);
}

// An installer's first session: log in, one encrypted and two plain commands, log out.
void TestDorxctl::first_session()
{
    login();
    QFile state(home->filePath(QStringLiteral("state")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    const QByteArray saved = state.readAll();
    QVERIFY(saved.contains("url=" + url().toUtf8() + "\ndevicesn=12345\ncookie=sessionid={"));
    QCOMPARE(QFileInfo(state).permissions() & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());

    // "id" and "devicesn" are filled in; the decrypted reply is printed as the device wrote it.
    Run run = dorxctl({"send", "/command/getinfo/txid", "{\"processtag\":\"dorxctl-test\"}"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith("{\n    \"datas\": {\n        \"txid\": 1\n    },\n"
                                "    \"devicesn\": \"12345\",\n    \"id\": \""),
        run.out.constData());
    run = dorxctl({"send", "/command/getinfo/txid", "{\"id\":\"mine\",\"devicesn\":\"0\"}"});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err, QByteArray("dorxctl: the device answered \"respond\" 2\n"));
    QVERIFY(run.out.contains("\"id\": \"mine\""));

    // Plain forms go as UTF-8 even under the C locale.
    const QString name = QString::fromUtf8("王五%1").arg(QDateTime::currentMSecsSinceEpoch());
    run = dorxctl({"form", "/command/opera_add", "name=" + name + "&type=op"});
    QCOMPARE(run.out, QByteArray("OK\n"));
    run = dorxctl({"form", "/command/operator_get", ""});
    QVERIFY2(run.out.contains(QString("&Name=%1&Level=op").arg(name).toUtf8()), run.out.data());

    // deshex gives what the password form sends: changing the password to itself is accepted.
    const Run hex = dorxctl({"deshex", "6172839405"});
    QCOMPARE(hex.out.trimmed(), des0_out(QStringLiteral("6172839405")).toLatin1());
    run = dorxctl({"form", "/command/password_set",
        QString::fromLatin1("old=" + hex.out.trimmed() + "&new=" + hex.out.trimmed())});
    QCOMPARE(run.out, QByteArray("OK\n"));

    run = dorxctl({QStringLiteral("logout")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("\"respond\": 7"));
    run = dorxctl({"form", "/command/operator_get", ""});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.startsWith("dorxctl: not logged in"));
}

void TestDorxctl::errors_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString nobody = QStringLiteral("http://127.0.0.1:%1").arg(ServerProcess::freePort());
    QTest::newRow("no server") << false
                               << QStringList {"--url", nobody, "login", "dorx", "6172839405"} << 1
                               << "dorxctl: cannot reach " + nobody + "/command/tplogin";
    QTest::newRow("no address known") << false << QStringList {"form", "/command/active", "x"} << 1
                                      << "dorxctl: no device address";
    QTest::newRow("bad JSON") << true
                              << QStringList {"send", "/command/getinfo/txid", "{\"datas\":"} << 2
                              << "dorxctl: the message is not valid JSON";
    QTest::newRow("undecryptable reply")
        << true << QStringList {"send", "/command/no-such-command", "{}"} << 1
        << "dorxctl: the reply could not be decrypted";
    QTest::newRow("not logged in")
        << false << QStringList {"--url", "URL", "send", "/command/getinfo/txid", "{}"} << 1
        << "dorxctl: not logged in";
    QTest::newRow("wrong password")
        << false << QStringList {"--url", "URL", "--devicesn", "12345", "login", "dorx", "nope"}
        << 3 << "dorxctl: login refused (respond 7)";
    QTest::newRow("wrong serial number")
        << false
        << QStringList {"--url", "URL", "--devicesn", "99999", "login", "dorx", "6172839405"} << 3
        << "dorxctl: login refused: the device's serial number is not \"99999\"";
    QTest::newRow("unknown command")
        << false << QStringList {"fly"} << 2 << "dorxctl: unknown command \"fly\"";
    QTest::newRow("password the pages cannot send")
        << false << QStringList {"deshex", ""} << 2
        << "dorxctl: the pages cannot send this password";
}

void TestDorxctl::errors()
{
    QFETCH(bool, loggedIn);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    if (loggedIn)
        login();
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^URL$")), url());
    const Run run = dorxctl(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(message.toUtf8()), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
}

void TestDorxctl::settings_data()
{
    QTest::addColumn<QStringList>("set");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err"); // beginning of the error line, if any
    QTest::addColumn<QStringList>("get");
    QTest::addColumn<QString>("out"); // pattern of what get prints

    QTest::newRow("network") << QStringList {"net-set", "10.0.0.5", "255.255.255.0", "10.0.0.1",
        "10.0.0.77", "", "15000", "16000"}
                             << 0 << "" << QStringList {"net-get"}
                             << "^ip=10.0.0.5\nmask=255.255.255.0\ngateway=10.0.0.1\n"
                                "server1=10.0.0.77\nserver2=0.0.0.0\nport=15000\n"
                                "serverport=16000\nmac=\n$";
    QTest::newRow("network refused")
        << QStringList {"net-set", "10.0.0.5", "255.255.255.255", "10.0.0.1", "", "", "1", "2"} << 3
        << QString::fromUtf8("dorxctl: the device refused: 请检查子网掩码") << QStringList() << "";
    QTest::newRow("identity") << QStringList {"ident-set", "east-gate", "7"} << 0 << ""
                              << QStringList {"ident-get"} << "^devname=east-gate\ndevnumber=7\n$";
    QTest::newRow("platform server")
        << QStringList {"platform-set", "192.168.0.77:9000"} << 0 << ""
        << QStringList {"platform-get"} << "^pf_server=192.168.0.77:9000\n$";
    QTest::newRow("daily reboot") << QStringList {"daily-reboot-set", "on", "3", "30"} << 0 << ""
                                  << QStringList {"daily-reboot-get"}
                                  << "^flag=Y\nhour=3\nminute=30\n$";
    QTest::newRow("date and time")
        << QStringList {"time-set", "2024-05-01", "08:30:00", "pool.ntp.org"} << 0 << ""
        << QStringList {"time-get"}
        << "^Date=\\d{4}-\\d\\d-\\d\\d\nTime=\\d\\d:\\d\\d:\\d\\d\nNtp=pool.ntp.org\n$";
    QTest::newRow("date refused") << QStringList {"time-set", "2024-13-01", "08:30:00",
        ""} << 3 << QString::fromUtf8("dorxctl: the device refused: 日期时间格式不正确!")
                                  << QStringList() << "";
    QTest::newRow("versions") << QStringList() << 0 << "" << QStringList {"version-get"}
                              << QString::fromUtf8(
                                     "^设备类型=\n产品型号=\n硬件版本=\n产品序列号=12345\n"
                                     "WEB版本=\n固件版本=\n$");
    QTest::newRow("contents") << QStringList() << 0 << "" << QStringList {"contents-get"}
                              << QString::fromUtf8("^人员信息=0\n权限设置=0\n授权信息=0\n时间表=0\n"
                                                   "特殊日期=0\n常状态=0\n记录数=\\d+\n$");
    QTest::newRow("device parameters")
        << QStringList {"system-set", "opentime=5", "time=2024-05-01 08:30:00"} << 0 << ""
        << QStringList {"system-get"} << "\"opentime\": 5,\n[^}]*\"person\": 0,";
    QTest::newRow("unknown device parameter")
        << QStringList {"system-set", "speed=5"} << 2
        << "dorxctl: system-set takes NAME=VALUE with NAME one of: exit longopen" << QStringList()
        << "";
    QTest::newRow("device parameter that is no number")
        << QStringList {"system-set", "exit=on"} << 2 << "dorxctl: exit takes a number, not \"on\""
        << QStringList() << "";
    QTest::newRow("missing argument")
        << QStringList {"ident-set", "east-gate"} << 2
        << "dorxctl: usage: dorxctl [options] ident-set DEVNAME DEVNUMBER (see --help)"
        << QStringList() << "";
}

// Each setting changed and read back by name, as an installer does from a shell.
void TestDorxctl::settings()
{
    QFETCH(QStringList, set);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QFETCH(QStringList, get);
    QFETCH(QString, out);
    login();
    if (!set.isEmpty()) {
        const Run run = dorxctl(set);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(err.toUtf8()), run.err.constData());
    }
    if (!get.isEmpty()) {
        const Run run = dorxctl(get);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(QRegularExpression(out).match(QString::fromUtf8(run.out)).hasMatch(),
            run.out.constData());
    }
}

QTEST_GUILESS_MAIN(TestDorxctl)
#include "test_dorxctl.moc"
