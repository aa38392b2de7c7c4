#include "commandclient.h"
#include "conversation.h"
#include "sqlfile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <tuple>

namespace {

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
const QString config = QStringLiteral("[listener]\nreadTimeout=2000\n[platform]\nnetworkFile=net/"
                                      "interfaces\n");
// The one date and time the recording shell fails to set.
const QString refusedDate = QStringLiteral("date -s '2024-03-01 00:00:00'");

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// The settings commands against one real server with the recording shell; the settings files,
// the network file and the shell's log and failures are made afresh before each test.
class TestSettingsCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void tpnetcfg_set_writes_the_network_file_data();
    void tpnetcfg_set_writes_the_network_file();
    void failed_network_write_keeps_the_old_file_data();
    void failed_network_write_keeps_the_old_file();
    void formSettings_data();
    void formSettings();
    void settingThatCannotBeStoredIsReported();
    void deviceClock_data();
    void deviceClock();
    void deviceParameters();
    void tpupload_data();
    void tpupload();
    void reboot_follows_the_reply();

private:
    QString netValue(const QString &key)
    {
        QSettings net(server.filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
        return net.value(key).toString();
    }
    QString networkFile() const { return server.filePath(QStringLiteral("net/interfaces")); }
    // "cp <network file> <network file>_bak", as the log shows it.
    QString backupCommand() const { return QStringLiteral("cp %1 %1_bak").arg(networkFile()); }

    ServerProcess server;
    Client client {server};
};

void TestSettingsCommands::initTestCase()
{
    server.writeConfig(config);
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server.start(), server.output().constData());
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
}

void TestSettingsCommands::init()
{
    for (const char *name : {"shell.log", "netconfig.ini"})
        QFile::remove(server.filePath(QLatin1String(name)));
    for (const char *folder : {"net", "uploads"})
        QDir(server.filePath(QLatin1String(folder))).removeRecursively();
    server.writeFile(QStringLiteral("net/interfaces"), oldNetworkFile);
    server.writeFile(QStringLiteral("uploads/keep"), QByteArray());
    server.writeFile(QStringLiteral("shell.fail"), refusedDate.toUtf8() + '\n');
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

void TestSettingsCommands::tpnetcfg_set_writes_the_network_file_data()
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

void TestSettingsCommands::tpnetcfg_set_writes_the_network_file()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, extra);
    QFETCH(QString, reply);
    QFETCH(QByteArray, preUp);
    QFETCH(bool, reboot);
    server.writeFile(QStringLiteral("netconfig.ini"), "[NET]\n" + stored);
    QCOMPARE(client.post("/command/netcfg_set", networkForm(extra)), reply);

    QCOMPARE(fileContent(networkFile()),
        "\nauto eth0\niface eth0 inet static\n" + preUp
            + "address 10.0.0.5\ngateway 10.0.0.1\nnetmask 255.255.255.0\n"
              "dns-nameservers 10.0.0.1");
    QCOMPARE(fileContent(networkFile() + "_bak"), oldNetworkFile);
    QStringList commands = {backupCommand(), QStringLiteral("sync")};
    if (reboot)
        commands << QStringLiteral("reboot");
    QTRY_COMPARE(server.shellLog(), commands);
    QCOMPARE(netValue(QStringLiteral("NET/flag")), QStringLiteral("1"));
}

void TestSettingsCommands::failed_network_write_keeps_the_old_file_data()
{
    QTest::addColumn<bool>("folderMissing"); // else the backup is refused
    QTest::newRow("backup refused") << false;
    QTest::newRow("folder missing") << true;
}

// The network page and the factory reset both answer the failure and change no file.
void TestSettingsCommands::failed_network_write_keeps_the_old_file()
{
    QFETCH(bool, folderMissing);
    if (folderMissing)
        QVERIFY(QDir(server.filePath(QStringLiteral("net"))).removeRecursively());
    else
        server.writeFile(QStringLiteral("shell.fail"), backupCommand().toUtf8() + '\n');
    const QByteArray before = fileContent(networkFile());
    QCOMPARE(client.post("/command/netcfg_set", networkForm("tcpip_rbt=1")),
        QString::fromUtf8("修改网络设置失败！"));
    QCOMPARE(client.post("/command/default", ""), QString::fromUtf8("恢复出厂设置失败！"));
    QCOMPARE(fileContent(networkFile()), before);
    QVERIFY(!server.shellLog().contains(QStringLiteral("sync")));
    QVERIFY(!server.shellLog().contains(QStringLiteral("reboot")));
}

void TestSettingsCommands::formSettings_data()
{
    QTest::addColumn<Conversation>("conversation");
    QTest::addColumn<QStringList>("commands"); // given to the shell
    const auto row
        = [](const char *name, const Conversation &conversation, const QStringList &commands = {}) {
              QTest::newRow(name) << conversation << commands;
          };
    // A network form's first failing check is the reply, and nothing is stored, written or run.
    const auto network = [&](const char *name, const char *changes, const char *reply) {
        row(name,
            {{"netcfg_set", networkForm(changes) + "&tcpip_rbt=1", QString::fromUtf8(reply)}});
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
    const QString refused = QString::fromUtf8("日期时间格式不正确!");
    const auto clock = [&](const char *form) {
        return Conversation {{"datetime_set", form, refused}};
    };
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
    row("clock: single quote", clock("Date=2024-02-29';reboot;'&Time=13:05:09"));
    row("clock: no such day", clock("Date=2023-02-29&Time=13:05:09"));
    row("clock: no time", clock("Date=2024-02-29"));
    row("clock the shell could not set",
        {{"datetime_set", "Date=2024-03-01&Time=00:00", "修改日期时间失败！"}}, {refusedDate});
}

void TestSettingsCommands::formSettings()
{
    QFETCH(Conversation, conversation);
    QFETCH(QStringList, commands);
    converse(client, conversation);
    QCOMPARE(server.shellLog(), commands);
    QCOMPARE(netValue(QStringLiteral("NET/IP")), QString());
    QCOMPARE(fileContent(networkFile()), oldNetworkFile);
}

void TestSettingsCommands::settingThatCannotBeStoredIsReported()
{
    QVERIFY(QDir().mkdir(server.filePath(QStringLiteral("netconfig.ini"))));
    QCOMPARE(client.post("/command/pf_set", "pf_server=a"), QString::fromUtf8("保存设置失败！"));
    QVERIFY(QDir().rmdir(server.filePath(QStringLiteral("netconfig.ini"))));
}

void TestSettingsCommands::deviceClock_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("set") << "2024-02-29 13:05:09" << 1
                         << QStringList {"date -s '2024-02-29 13:05:09'", "hwclock -w"};
    QTest::newRow("hostile") << "2024-02-29 13:05:09'$(reboot)'" << 3 << QStringList();
    QTest::newRow("no time: nothing to set") << "" << 1 << QStringList();
    QTest::newRow("not set by the shell")
        << "2024-03-01 00:00:00" << 5 << QStringList {refusedDate};
}

// The device message's "time" takes the same road to the shell as the page's; the page then
// shows the clock as a date and a time.
void TestSettingsCommands::deviceClock()
{
    QFETCH(QString, time);
    QFETCH(int, respond);
    QFETCH(QStringList, commands);
    QCOMPARE(client.send("/command/system/property", {{"datas", QJsonObject {{"time", time}}}}),
        respond);
    QCOMPARE(server.shellLog(), commands);
    QVERIFY(QRegularExpression(
        QStringLiteral("^OK&Date=\\d{4}-\\d\\d-\\d\\d&Time=\\d\\d:\\d\\d:\\d\\d&Ntp=$"))
                .match(client.post("/command/datetime_get", ""))
                .hasMatch());
}

// system_process stores non-zero values only, and "HS" not under firmware 8, which shows it as
// 3; get_system and the contents page count the store.
void TestSettingsCommands::deviceParameters()
{
    QVERIFY(sqlExec(server.filePath(QStringLiteral("access_database.db")),
        {"insert into person(Personid) values(1)", "insert into person(Personid) values(2)",
            "insert into cardid(Personid) values(1)", "insert into permit(Permitrank) values(1)",
            "insert into stay(Stayid) values(3)", "attach ? as r",
            "insert into r.record(Recordid) values(5)", "insert into r.record(Recordid) values(9)"},
        {server.filePath(QStringLiteral("record_database.db"))}));
    const QJsonObject datas {
        {"exit", 1}, {"longopen", 0}, {"hs", 4}, {"cellmin", "7"}, {"opentime", "x"}};
    for (const auto &[firmware, stored, hs] : {std::make_tuple("", "4", 4),
             std::make_tuple("8.2.1", "5", 3), std::make_tuple("80.1", "4", 4)}) {
        server.writeFile(QStringLiteral("sqlconfig.ini"),
            "[General]\nDEVICESN=12345\nLONGOPEN=2\nHS=5\nFIRMWARE=" + QByteArray(firmware) + '\n');
        QCOMPARE(client.send("/command/system/property", {{"datas", datas}}), 1);
        QSettings settings(server.filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
        QStringList values;
        for (const char *key : {"EXIT", "LONGOPEN", "HS", "CELL_VOLATAGE_MIN", "OPENTIME"})
            values << settings.value(key, "<none>").toString();
        QCOMPARE(values, QStringList({"1", "2", stored, "7", "<none>"}));

        QJsonObject info
            = client.exchange("/command/getinfo/system", QJsonObject()).value("datas").toObject();
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(info.take("time").toString())
                    .hasMatch());
        QCOMPARE(info,
            QJsonObject({{"person", 2}, {"cardid", 1}, {"permit", 1}, {"warrant", 0},
                {"timezone", 0}, {"holiday", 0}, {"stay", 1}, {"recordidmin", 5},
                {"recordidmax", 9}, {"record", 2}, {"exit", 1}, {"longopen", 2}, {"hs", hs},
                {"cell_volatage_min", 7}}));
    }
    QCOMPARE(client.post("/command/devContent_get", ""),
        QString::fromUtf8(
            "OK&人员信息=2&权限设置=1&授权信息=0&时间表=0&特殊日期=0&常状态=1&记录数=2"));
    QCOMPARE(server.shellLog(), QStringList());
}

void TestSettingsCommands::tpupload_data()
{
    QTest::addColumn<QString>("root"); // "fileroot" in the configuration
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("name with a path")
        << "uploads" << QByteArray("upload") << QByteArray("../fw.bin");
    QTest::newRow("empty name") << "uploads" << QByteArray("upload") << QByteArray();
    QTest::newRow("no upload field") << "uploads" << QByteArray("other") << QByteArray("fw.bin");
    QTest::newRow("fileroot that does not exist")
        << "gone" << QByteArray("upload") << QByteArray("fw.bin");
}

// An upload that would not land inside "fileroot" is refused with "传送失败", leaves no file and
// does not reboot (one that does is the browser test's, tests/web).
void TestSettingsCommands::tpupload()
{
    QFETCH(QString, root);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, name);
    server.writeConfig(config + "[login]\nfileroot=" + root + '\n'); // read afresh by every upload
    const QByteArray multipart = "--XyZ\r\nContent-Disposition: form-data; name=\"" + field
        + "\"; filename=\"" + name + "\"\r\nContent-Type: application/octet-stream\r\n\r\nfirmware"
        + "\r\n--XyZ--\r\n";
    const QByteArray response
        = server.exchange("POST /command/upload HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                          "Cookie: sessionid="
            + client.sessionId()
            + "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
            + QByteArray::number(multipart.size()) + "\r\n\r\n" + multipart);
    QCOMPARE(QString::fromUtf8(response.mid(response.indexOf("\r\n\r\n") + 4)),
        QString::fromUtf8("传送失败"));
    QCOMPARE(QDir(server.filePath("uploads")).entryList(QDir::Files), QStringList {"keep"});
    QVERIFY(!QFile::exists(server.filePath("fw.bin")));
    QCOMPARE(server.shellLog(), QStringList());
}

// While the recording shell holds "reboot", the reply must already have arrived in full.
void TestSettingsCommands::reboot_follows_the_reply()
{
    server.writeFile(QStringLiteral("reboot.hold"), QByteArray());
    QCOMPARE(client.post("/command/reboot", ""), QStringLiteral("OK"));
    QTRY_COMPARE(server.shellLog(), QStringList {"reboot"});
    QVERIFY(QFile::remove(server.filePath(QStringLiteral("reboot.hold"))));
    QCOMPARE(client.post("/command/rebootcfg_get", ""), QStringLiteral("OK&flag=N&hour=&minute="));
}

QTEST_GUILESS_MAIN(TestSettingsCommands)
#include "test_settingscommands.moc"
