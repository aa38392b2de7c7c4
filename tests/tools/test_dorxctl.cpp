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
             "deshex TEXT", "DORXCTL_SESSION", "Exit status"})
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

QTEST_GUILESS_MAIN(TestDorxctl)
#include "test_dorxctl.moc"
