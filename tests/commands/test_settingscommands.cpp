#include "commandclient.h"
#include "conversation.h"
#include "sqlfile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

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

QString netValue(const ServerProcess &server, const QString &key)
{
    QSettings net(server.filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
    net.setIniCodec("UTF-8");
    return net.value(key).toString();
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// The settings commands against the real server with the recording shell, one fresh server (and
// so fresh settings files, network file and shell log) per test.
class TestSettingsCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tpnetcfg_set_refusals_data();
    void tpnetcfg_set_refusals();
    void tpnetcfg_set_writes_the_network_file_data();
    void tpnetcfg_set_writes_the_network_file();
    void failed_network_write_keeps_the_old_file_data();
    void failed_network_write_keeps_the_old_file();
    void formSettings_data();
    void formSettings();
    void deviceClock_data();
    void deviceClock();
    void device_parameters_data();
    void device_parameters();
    void tpdefault_restores_the_factory_settings();
    void tpupload_data();
    void tpupload();
    void reboot_follows_the_reply();

private:
    // Starts the server with the INI text and logs a client in.
    Client start(const QString &ini = QString());
    // "cp <network file> <network file>_bak", as the log shows it.
    QString backupCommand() const;
    QString networkFile() const { return server->filePath(QStringLiteral("interfaces")); }
    void writeNet(const QByteArray &ini)
    {
        server->writeFile(QStringLiteral("netconfig.ini"), "[NET]\n" + ini);
    }

    ServerProcess *server = nullptr;
};

void TestSettingsCommands::init()
{
    server = new ServerProcess;
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

void TestSettingsCommands::cleanup()
{
    delete server;
    server = nullptr;
}

Client TestSettingsCommands::start(const QString &ini)
{
    server->writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n") + ini);
    if (!server->start())
        qWarning("server did not start: %s", server->output().constData());
    Client client(*server);
    if (client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")) != 1)
        qWarning("login refused");
    return client;
}

QString TestSettingsCommands::backupCommand() const
{
    return QStringLiteral("cp %1 %1_bak").arg(networkFile());
}

void TestSettingsCommands::tpnetcfg_set_refusals_data()
{
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("reply");

    const QString ip = QString::fromUtf8("请检查IP地址");
    const QString mask = QString::fromUtf8("请检查子网掩码");
    QTest::newRow("address part empty") << "tcpip_ip3=" << ip;
    QTest::newRow("address part over 255") << "tcpip_ip1=256" << ip;
    QTest::newRow("address part not a number") << "tcpip_ip2=1a" << ip;
    QTest::newRow("address 0.0.0.0") << "tcpip_ip0=0&tcpip_ip3=0" << ip;
    QTest::newRow("mask 255.255.255.255") << "tcpip_mk3=255" << mask;
    QTest::newRow("gateway part over 255")
        << "tcpip_dg0=300" << QString::fromUtf8("请检查网关地址");
    QTest::newRow("server 1 part over 255")
        << "tcpip_svr1_3=256" << QString::fromUtf8("请检查1#服务器地址");
    QTest::newRow("server 2 part signed")
        << "tcpip_svr2_0=+1" << QString::fromUtf8("请检查2#服务器地址");
    QTest::newRow("device port 65536")
        << "tcpip_Port=65536" << QString::fromUtf8("请检查设备端口号");
    QTest::newRow("server port 0")
        << "tcpip_ServerPort=0" << QString::fromUtf8("请检查服务器端口号");
    QTest::newRow("address checked before mask") << "tcpip_ip0=&tcpip_mk0=" << ip;
    QTest::newRow("ports checked before the whole address")
        << "tcpip_ip0=0&tcpip_ip3=0&tcpip_Port=0" << QString::fromUtf8("请检查设备端口号");
}

// The first failing check is the reply, and nothing is written or run.
void TestSettingsCommands::tpnetcfg_set_refusals()
{
    QFETCH(QString, changes);
    QFETCH(QString, reply);
    Client client = start();
    QCOMPARE(client.post("/command/netcfg_set", networkForm(changes) + "&tcpip_rbt=1"), reply);
    QCOMPARE(netValue(*server, QStringLiteral("NET/IP")), QString());
    QVERIFY(!QFile::exists(networkFile()));
    QCOMPARE(server->shellLog(), QStringList());
}

void TestSettingsCommands::tpnetcfg_set_writes_the_network_file_data()
{
    QTest::addColumn<QByteArray>("stored"); // "netconfig.ini" [NET] before
    QTest::addColumn<QString>("extra"); // form fields beyond the network settings
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QByteArray>("preUp"); // the "pre-up" line of the file, if any
    QTest::addColumn<bool>("reboot");

    QTest::newRow("no MAC, no reboot") << QByteArray("IP=192.168.0.242\n") << ""
                                       << "OK" << QByteArray() << false;
    QTest::newRow("reboot at a new address")
        << QByteArray("IP=192.168.0.242\nMAC1=00:11:22:aa:BB:cc\n") << "tcpip_rbt=1"
        << "login&10.0.0.5" << QByteArray("pre-up ifconfig eth0 hw ether 00:11:22:aa:BB:cc\n")
        << true;
    QTest::newRow("reboot at the same address") << QByteArray("IP=10.0.0.5\n") << "tcpip_rbt=2"
                                                << "OK" << QByteArray() << true;
    QTest::newRow("tcpip_rbt 0 does not reboot") << QByteArray("IP=1.2.3.4\n") << "tcpip_rbt=0"
                                                 << "OK" << QByteArray() << false;
    QTest::newRow("MAC that is no hardware address left out")
        << QByteArray("MAC1=\"00:11; reboot\"\n") << ""
        << "OK" << QByteArray() << false;
}

void TestSettingsCommands::tpnetcfg_set_writes_the_network_file()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, extra);
    QFETCH(QString, reply);
    QFETCH(QByteArray, preUp);
    QFETCH(bool, reboot);
    writeNet(stored);
    server->writeFile(QStringLiteral("interfaces"), oldNetworkFile);
    Client client = start();
    QCOMPARE(client.post("/command/netcfg_set", networkForm(extra)), reply);

    QCOMPARE(fileContent(networkFile()),
        "\nauto eth0\niface eth0 inet static\n" + preUp
            + "address 10.0.0.5\ngateway 10.0.0.1\nnetmask 255.255.255.0\n"
              "dns-nameservers 10.0.0.1");
    QCOMPARE(fileContent(networkFile() + "_bak"), oldNetworkFile);
    QStringList commands = {backupCommand(), QStringLiteral("sync")};
    if (reboot)
        commands << QStringLiteral("reboot");
    QTRY_COMPARE(server->shellLog(), commands);
    QCOMPARE(netValue(*server, QStringLiteral("NET/flag")), QStringLiteral("1"));
    const QStringList mac = netValue(*server, QStringLiteral("NET/MAC1")).split(':');
    QCOMPARE(client.post("/command/netcfg_get", ""),
        QStringLiteral("OK&tcpip_Mac0=%1&tcpip_Mac1=%2&tcpip_Mac2=%3&tcpip_Mac3=%4&tcpip_Mac4=%5"
                       "&tcpip_Mac5=%6")
                .arg(mac.value(0), mac.value(1), mac.value(2), mac.value(3), mac.value(4),
                    mac.value(5))
            + "&tcpip_ip0=10&tcpip_ip1=0&tcpip_ip2=0&tcpip_ip3=5&tcpip_dg0=10&tcpip_dg1=0"
              "&tcpip_dg2=0&tcpip_dg3=1&tcpip_mk0=255&tcpip_mk1=255&tcpip_mk2=255&tcpip_mk3=0"
              "&tcpip_svr1_0=10&tcpip_svr1_1=0&tcpip_svr1_2=0&tcpip_svr1_3=77&tcpip_svr2_0=10"
              "&tcpip_svr2_1=0&tcpip_svr2_2=0&tcpip_svr2_3=78&tcpip_Port=15000"
              "&tcpip_ServerPort=16000");
}

void TestSettingsCommands::failed_network_write_keeps_the_old_file_data()
{
    QTest::addColumn<QString>("file"); // the network file, relative to the server's folder
    QTest::newRow("backup refused") << "interfaces";
    QTest::newRow("folder missing") << "gone/interfaces";
}

// The network page and the factory reset both answer the failure and change no file.
void TestSettingsCommands::failed_network_write_keeps_the_old_file()
{
    QFETCH(QString, file);
    server->writeFile(QStringLiteral("interfaces"), oldNetworkFile);
    server->writeFile(QStringLiteral("shell.fail"), backupCommand().toUtf8() + '\n');
    const QByteArray before = fileContent(server->filePath(file));
    Client client = start(file.contains('/') ? "[platform]\nnetworkFile=" + file + '\n' : "");
    QCOMPARE(client.post("/command/netcfg_set", networkForm("tcpip_rbt=1")),
        QString::fromUtf8("修改网络设置失败！"));
    QCOMPARE(client.post("/command/default", ""), QString::fromUtf8("恢复出厂设置失败！"));
    QCOMPARE(fileContent(server->filePath(file)), before);
    QVERIFY(!server->shellLog().contains(QStringLiteral("sync")));
    QVERIFY(!server->shellLog().contains(QStringLiteral("reboot")));
}

void TestSettingsCommands::formSettings_data()
{
    QTest::addColumn<Conversation>("conversation");
    QTest::addColumn<QStringList>("commands"); // given to the shell

    const QString refused = QString::fromUtf8("日期时间格式不正确!");
    const QStringList clockSet = {"date -s '2024-02-29 13:05:09'", "hwclock -w"};
    QTest::newRow("identity") << Conversation {{"ident_set", "devname=东门&devnumber=7", "OK"},
        {"ident_get", "", "OK&devname=东门&devnumber=7"}}
                              << QStringList();
    QTest::newRow("identity: a later field wins, others ignored") << Conversation {
        {"ident_set", "devname=a&x=1&devname=b&devnumber=2", "OK"},
        {"ident_get", "", "OK&devname=b&devnumber=2"}} << QStringList();
    QTest::newRow("identity without a name")
        << Conversation {{"ident_set", "devname=&devnumber=7", "设备名称格式不正确!"},
               {"ident_get", "", "OK&devname=&devnumber="}}
        << QStringList();
    QTest::newRow("identity without a number")
        << Conversation {{"ident_set", "devname=a", "设备编号格式不正确!"},
               {"ident_get", "", "OK&devname=&devnumber="}}
        << QStringList();
    QTest::newRow("platform server") << Conversation {{"pf_set", "pf_server=10.1.1.1:8080", "OK"},
        {"pfset_get", "", "OK&pf_server=10.1.1.1:8080"}}
                                     << QStringList();
    QTest::newRow("platform server empty") << Conversation {
        {"pf_set", "pf_server=", "接入平台格式不正确!"},
        {"pfset_get", "", "OK&pf_server="}} << QStringList();
    QTest::newRow("daily reboot on")
        << Conversation {{"rebootcfg_set", "flag=Y&hour=3&minute=30", "OK"},
               {"rebootcfg_get", "", "OK&flag=Y&hour=3&minute=30"}}
        << QStringList();
    QTest::newRow("daily reboot: lower-case y is off")
        << Conversation {{"rebootcfg_set", "flag=y&hour=4", "OK"},
               {"rebootcfg_get", "", "OK&flag=N&hour=4&minute="}}
        << QStringList();
    // The shell sees only "date" with a date and time the server formatted itself, or nothing.
    QTest::newRow("clock") << Conversation {{"datetime_set",
        "Ntp=pool&Date=2024-02-29&Time=13:05:09", "OK"}}
                           << clockSet;
    QTest::newRow("clock, minutes only")
        << Conversation {{"datetime_set", "Date=2024-02-29&Time=13:05", "OK"}}
        << QStringList {"date -s '2024-02-29 13:05:00'", "hwclock -w"};
    QTest::newRow("clock: single quote")
        << Conversation {{"datetime_set", "Date=2024-02-29';reboot;'&Time=13:05:09", refused}}
        << QStringList();
    QTest::newRow("clock: command substitution")
        << Conversation {{"datetime_set", "Date=$(reboot)&Time=13:05:09", refused}}
        << QStringList();
    QTest::newRow("clock: newline")
        << Conversation {{"datetime_set", "Date=2024-02-29\nreboot&Time=13:05:09", refused}}
        << QStringList();
    QTest::newRow("clock: no such day")
        << Conversation {{"datetime_set", "Date=2023-02-29&Time=13:05:09", refused}}
        << QStringList();
    QTest::newRow("clock: no such hour")
        << Conversation {{"datetime_set", "Date=2024-02-29&Time=24:00:00", refused}}
        << QStringList();
    QTest::newRow("clock: no time")
        << Conversation {{"datetime_set", "Date=2024-02-29", refused}} << QStringList();
}

void TestSettingsCommands::formSettings()
{
    QFETCH(Conversation, conversation);
    QFETCH(QStringList, commands);
    Client client = start();
    converse(client, conversation);
    QCOMPARE(server->shellLog(), commands);
}

void TestSettingsCommands::deviceClock_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("set") << "2024-02-29 13:05:09" << 1
                         << QStringList {"date -s '2024-02-29 13:05:09'", "hwclock -w"};
    QTest::newRow("hostile") << "2024-02-29 13:05:09'$(reboot)'" << 3 << QStringList();
    QTest::newRow("date only") << "2024-02-29" << 3 << QStringList();
    QTest::newRow("no time: nothing to set") << "" << 1 << QStringList();
}

// The device message's "time" takes the same road to the shell as the page's; the page then
// shows the clock as a date and a time.
void TestSettingsCommands::deviceClock()
{
    QFETCH(QString, time);
    QFETCH(int, respond);
    QFETCH(QStringList, commands);
    Client client = start();
    QCOMPARE(client.send("/command/system/property",
                 message("t", serialNumber, {{"datas", QJsonObject {{"time", time}}}})),
        respond);
    QCOMPARE(server->shellLog(), commands);
    QVERIFY(QRegularExpression(
        QStringLiteral("^OK&Date=\\d{4}-\\d\\d-\\d\\d&Time=\\d\\d:\\d\\d:\\d\\d&Ntp=$"))
                .match(client.post("/command/datetime_get", ""))
                .hasMatch());
}

void TestSettingsCommands::device_parameters_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<int>("hs"); // as the device information shows it
    QTest::addColumn<QString>("stored"); // "HS" after the change

    QTest::newRow("no firmware: hs stored") << "" << 4 << "4";
    QTest::newRow("firmware 8: hs kept, shown as 3") << "8.2.1" << 3 << "5";
    QTest::newRow("firmware 80 is not 8") << "80.1" << 4 << "4";
}

// system_process stores non-zero values only; get_system and the contents page count the store.
void TestSettingsCommands::device_parameters()
{
    QFETCH(QString, firmware);
    QFETCH(int, hs);
    QFETCH(QString, stored);
    server->writeFile(QStringLiteral("sqlconfig.ini"),
        "[General]\nDEVICESN=12345\nLONGOPEN=2\nHS=5\nFIRMWARE=" + firmware.toUtf8() + "\n");
    Client client = start();
    QVERIFY(sqlExec(server->filePath(QStringLiteral("access_database.db")),
        {"insert into person(Personid) values(1)", "insert into person(Personid) values(2)",
            "insert into cardid(Personid) values(1)", "insert into permit(Permitrank) values(1)",
            "insert into stay(Stayid) values(3)", "attach ? as r",
            "insert into r.record(Recordid) values(5)", "insert into r.record(Recordid) values(9)"},
        {server->filePath(QStringLiteral("record_database.db"))}));
    const QJsonObject datas {
        {"exit", 1}, {"longopen", 0}, {"hs", 4}, {"cellmin", "7"}, {"opentime", "x"}};
    QCOMPARE(
        client.send("/command/system/property", message("p", serialNumber, {{"datas", datas}})), 1);
    QSettings settings(server->filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    QCOMPARE(settings.value("EXIT").toString(), QStringLiteral("1"));
    QCOMPARE(settings.value("LONGOPEN").toString(), QStringLiteral("2"));
    QCOMPARE(settings.value("HS").toString(), stored);
    QCOMPARE(settings.value("CELL_VOLATAGE_MIN").toString(), QStringLiteral("7"));
    QVERIFY(!settings.contains("OPENTIME"));

    QJsonObject info = client.exchange("/command/getinfo/system", message("g", serialNumber))
                           .value("datas")
                           .toObject();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(info.take("time").toString())
                .hasMatch());
    QCOMPARE(info,
        QJsonObject({{"person", 2}, {"cardid", 1}, {"permit", 1}, {"warrant", 0}, {"timezone", 0},
            {"holiday", 0}, {"stay", 1}, {"recordidmin", 5}, {"recordidmax", 9}, {"record", 2},
            {"exit", 1}, {"longopen", 2}, {"hs", hs}, {"cell_volatage_min", 7}}));
    QCOMPARE(client.post("/command/devContent_get", ""),
        QString::fromUtf8(
            "OK&人员信息=2&权限设置=1&授权信息=0&时间表=0&特殊日期=0&常状态=1&记录数=2"));
    QCOMPARE(server->shellLog(), QStringList());
}

void TestSettingsCommands::tpdefault_restores_the_factory_settings()
{
    writeNet("flag=1\nIP=10.0.0.5\nSERVERIP1=1.1.1.1\nMAC1=00:11:22:33:44:55\n");
    server->writeFile(QStringLiteral("interfaces"), oldNetworkFile);
    Client client = start();
    QCOMPARE(client.post("/command/opera_add", "name=guard&type=op"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/default", ""), QStringLiteral("login&192.168.0.242"));

    QCOMPARE(
        client.post("/command/operator_get", ""), QString::fromUtf8("OK&Name=dorx&Level=超级用户"));
    const QStringList factory = {"flag=1", "IP=192.168.0.242", "SUBMASK=255.255.255.0",
        "GATEWAY=192.168.0.1", "LOCALPORT=15000", "SERVERIP1=192.168.0.77",
        "SERVERIP2=192.168.0.78", "SERVERPORT1=15000", "FIRMVERSION=7480", "HARDVERSION=0002",
        "DEVICEID=18000", "MAC1=00:11:22:33:44:55"};
    for (const QString &setting : factory)
        QCOMPARE(setting.section('=', 0, 0) + '='
                + netValue(*server, "NET/" + setting.section('=', 0, 0)),
            setting);
    QCOMPARE(fileContent(networkFile()),
        QByteArray("\nauto eth0\niface eth0 inet static\npre-up ifconfig eth0 hw ether "
                   "00:11:22:33:44:55\naddress 192.168.0.242\ngateway 192.168.0.1\nnetmask "
                   "255.255.255.0\ndns-nameservers 192.168.0.1"));
    QTRY_COMPARE(server->shellLog(), QStringList({backupCommand(), "sync", "reboot"}));
}

void TestSettingsCommands::tpupload_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("stored"); // where the file lands, relative to the server's folder

    const QString root = QStringLiteral("[login]\nfileroot=uploads\n");
    const QString failed = QString::fromUtf8("传送失败");
    QTest::newRow("into fileroot") << root << QByteArray("upload") << QByteArray("fw.bin") << "OK"
                                   << "uploads/fw.bin";
    QTest::newRow("fileroot with a final slash")
        << "[login]\nfileroot=uploads/\n"
        << QByteArray("upload") << QByteArray("fw.bin") << "OK"
        << "uploads/fw.bin";
    QTest::newRow("no fileroot: the working directory")
        << "" << QByteArray("upload") << QByteArray("fw.bin") << "OK"
        << "fw.bin";
    QTest::newRow("name with a path")
        << root << QByteArray("upload") << QByteArray("../fw.bin") << failed << "";
    QTest::newRow("empty name") << root << QByteArray("upload") << QByteArray() << failed << "";
    QTest::newRow("no upload field")
        << root << QByteArray("other") << QByteArray("fw.bin") << failed << "";
    QTest::newRow("fileroot that does not exist")
        << "[login]\nfileroot=gone\n"
        << QByteArray("upload") << QByteArray("fw.bin") << failed << "";
}

// The file lands byte for byte inside "fileroot" and the terminal reboots; anything else is
// refused with "传送失败", leaves no file and does not reboot.
void TestSettingsCommands::tpupload()
{
    QFETCH(QString, ini);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, name);
    QFETCH(QString, reply);
    QFETCH(QString, stored);
    server->writeFile(QStringLiteral("uploads/keep"), QByteArray());
    Client client = start(ini);

    QByteArray content;
    for (int i = 0; i < 150000; ++i) // more than two copy pieces, every byte value
        content += char(i * 7 % 256);
    const QByteArray multipart = "--XyZ\r\nContent-Disposition: form-data; name=\"" + field
        + "\"; filename=\"" + name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n"
        + content + "\r\n--XyZ--\r\n";
    const QByteArray response
        = server->exchange("POST /command/upload HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                           "Cookie: sessionid="
            + client.sessionId()
            + "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
            + QByteArray::number(multipart.size()) + "\r\n\r\n" + multipart);
    QCOMPARE(QString::fromUtf8(response.mid(response.indexOf("\r\n\r\n") + 4)), reply);
    if (stored.isEmpty()) {
        QCOMPARE(QDir(server->filePath("uploads")).entryList(QDir::Files), QStringList {"keep"});
        QVERIFY(!QFile::exists(server->filePath("fw.bin")));
        QCOMPARE(server->shellLog(), QStringList());
    } else {
        QCOMPARE(fileContent(server->filePath(stored)), content);
        QTRY_COMPARE(server->shellLog(), QStringList {"reboot"});
    }
}

// While the recording shell holds "reboot", the reply must already have arrived in full.
void TestSettingsCommands::reboot_follows_the_reply()
{
    server->writeFile(QStringLiteral("reboot.hold"), QByteArray());
    Client client = start();
    QCOMPARE(client.post("/command/reboot", ""), QStringLiteral("OK"));
    QTRY_COMPARE(server->shellLog(), QStringList {"reboot"});
    QVERIFY(QFile::remove(server->filePath(QStringLiteral("reboot.hold"))));
    QCOMPARE(client.post("/command/rebootcfg_get", ""), QStringLiteral("OK&flag=N&hour=&minute="));
}

QTEST_GUILESS_MAIN(TestSettingsCommands)
#include "test_settingscommands.moc"
