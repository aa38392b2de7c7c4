#include "commands/formfields.h"
#include "commands/txdeal.h"

#include "httpserver/httprequest.h"
#include "platform/platform.h"
#include "store/operatordb.h"

#include <QFile>
#include <QRegularExpression>

#include <array>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

using Address = std::array<uint, 4>;

const char factoryAddress[] = "192.168.0.242";
// The factory network settings of "netconfig.ini", flag first.
const std::pair<const char *, const char *> factoryNetwork[] = {
    {"NET/flag", "1"},
    {"NET/IP", factoryAddress},
    {"NET/SUBMASK", "255.255.255.0"},
    {"NET/GATEWAY", "192.168.0.1"},
    {"NET/LOCALPORT", "15000"},
    {"NET/SERVERIP1", "192.168.0.77"},
    {"NET/SERVERIP2", "192.168.0.78"},
    {"NET/SERVERPORT1", "15000"},
    {"NET/FIRMVERSION", "7480"},
    {"NET/HARDVERSION", "0002"},
    {"NET/DEVICEID", "18000"},
};

QString networkFailed()
{
    return QString::fromUtf8("修改网络设置失败！");
}

// A decimal number of at most five digits from the form; false for anything else (signs,
// spaces, letters). An empty text is 0 when emptyIsZero.
bool readNumber(const QString &text, bool emptyIsZero, uint *number)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (text.isEmpty() && emptyIsZero) {
        *number = 0;
        return true;
    }
    if (!digits.match(text).hasMatch())
        return false;
    *number = text.toUInt();
    return true;
}

// The four parts <prefix>0 to <prefix>3 of an address, each 0 to 255.
bool readAddress(const FormFields &form, const char *prefix, bool emptyIsZero, Address *address)
{
    for (int part = 0; part < 4; ++part) {
        const QString name = QLatin1String(prefix) + QString::number(part);
        if (!readNumber(form.named(name), emptyIsZero, &(*address)[part]) || (*address)[part] > 255)
            return false;
    }
    return true;
}

bool readPort(const FormFields &form, const char *name, uint *port)
{
    return readNumber(form.named(QLatin1String(name)), false, port) && *port >= 1 && *port <= 65535;
}

QString dotted(const Address &address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address[0])
        .arg(address[1])
        .arg(address[2])
        .arg(address[3]);
}

bool isAll(const Address &address, uint part)
{
    return address == Address {part, part, part, part};
}

// "<prefix>0=<part 0>&<prefix>1=<part 1>..." of value split at separator into count parts.
QString formParts(const char *prefix, const QString &value, QChar separator, int count)
{
    const QStringList parts = value.split(separator);
    QStringList fields;
    for (int part = 0; part < count; ++part)
        fields << QLatin1String(prefix) + QString::number(part) + QLatin1Char('=')
                + parts.value(part);
    return fields.join(QLatin1Char('&'));
}

} // namespace

// The network settings as the network page shows them.
void TxDeal::tpnetcfg_get(HttpRequest &request, HttpResponse &response)
{
    const QChar dot = QLatin1Char('.');
    const QStringList fields = {
        formParts("tcpip_Mac", read_netset(QStringLiteral("NET/MAC1")), QLatin1Char(':'), 6),
        formParts("tcpip_ip", read_netset(QStringLiteral("NET/IP")), dot, 4),
        formParts("tcpip_dg", read_netset(QStringLiteral("NET/GATEWAY")), dot, 4),
        formParts("tcpip_mk", read_netset(QStringLiteral("NET/SUBMASK")), dot, 4),
        formParts("tcpip_svr1_", read_netset(QStringLiteral("NET/SERVERIP1")), dot, 4),
        formParts("tcpip_svr2_", read_netset(QStringLiteral("NET/SERVERIP2")), dot, 4),
        QStringLiteral("tcpip_Port=") + read_netset(QStringLiteral("NET/LOCALPORT")),
        QStringLiteral("tcpip_ServerPort=") + read_netset(QStringLiteral("NET/SERVERPORT1")),
    };
    SendReponse(request, response, QStringLiteral("OK&") + fields.join(QLatin1Char('&')));
}

// Checks and stores the network settings, rewrites the network file and, with "tcpip_rbt",
// reboots after the reply. The first check that fails is the reply and nothing changes.
void TxDeal::tpnetcfg_set(HttpRequest &request, HttpResponse &response)
{
    const FormFields form(request.getBody());
    Address ip, mask, gateway, server1, server2;
    uint port = 0, serverPort = 0;
    const char *refusal = nullptr;
    if (!readAddress(form, "tcpip_ip", false, &ip))
        refusal = "请检查IP地址";
    else if (!readAddress(form, "tcpip_mk", false, &mask))
        refusal = "请检查子网掩码";
    else if (!readAddress(form, "tcpip_dg", false, &gateway))
        refusal = "请检查网关地址";
    else if (!readAddress(form, "tcpip_svr1_", true, &server1))
        refusal = "请检查1#服务器地址";
    else if (!readAddress(form, "tcpip_svr2_", true, &server2))
        refusal = "请检查2#服务器地址";
    else if (!readPort(form, "tcpip_Port", &port))
        refusal = "请检查设备端口号";
    else if (!readPort(form, "tcpip_ServerPort", &serverPort))
        refusal = "请检查服务器端口号";
    else if (isAll(ip, 0) || isAll(ip, 255))
        refusal = "请检查IP地址";
    else if (isAll(mask, 255))
        refusal = "请检查子网掩码";
    if (refusal) {
        SendReponse(request, response, QString::fromUtf8(refusal));
        return;
    }

    const QString previous = read_netset(QStringLiteral("NET/IP"));
    const QString address = dotted(ip);
    const bool written = write_netset(QStringLiteral("NET/flag"), QStringLiteral("1"))
        && write_netset(QStringLiteral("NET/IP"), address)
        && write_netset(QStringLiteral("NET/SUBMASK"), dotted(mask))
        && write_netset(QStringLiteral("NET/GATEWAY"), dotted(gateway))
        && write_netset(QStringLiteral("NET/SERVERIP1"), dotted(server1))
        && write_netset(QStringLiteral("NET/SERVERIP2"), dotted(server2))
        && write_netset(QStringLiteral("NET/LOCALPORT"), QString::number(port))
        && write_netset(QStringLiteral("NET/SERVERPORT1"), QString::number(serverPort));
    if (!written || !write_net_file()) {
        SendReponse(request, response, networkFailed());
        return;
    }
    (void)platform::run(QStringLiteral("sync")); // the rename is done; sync only hurries it

    if (form.named(QStringLiteral("tcpip_rbt")).toUInt() == 0) {
        SendReponse(request, response, QStringLiteral("OK"));
        return;
    }
    // The pages log in again at the new address once the terminal is back.
    SendReponse(request, response,
        address == previous ? QStringLiteral("OK") : QStringLiteral("login&%1").arg(address));
    platform::rebootAfterReply();
}

// 0 when the first "address" line of the network file names exactly address; 1 otherwise, also
// when the file cannot be read.
int TxDeal::checkip(const QString &address)
{
    QFile file(platform::networkFile());
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray prefix = "address ";
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromLatin1(line.mid(prefix.size())) == address ? 0 : 1;
    }
    return 1;
}

// Rewrites the network file from "netconfig.ini": a static "eth0", the hardware address only
// when one is set. False when the file could not be replaced (it is then left as it was).
bool TxDeal::write_net_file()
{
    QStringList lines
        = {QString(), QStringLiteral("auto eth0"), QStringLiteral("iface eth0 inet static")};
    const QString mac = read_netset(QStringLiteral("NET/MAC1"));
    // The line is run as a shell command when the interface comes up: only a hardware address
    // may go into it.
    static const QRegularExpression hardwareAddress(
        QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    if (hardwareAddress.match(mac).hasMatch())
        lines << QStringLiteral("pre-up ifconfig eth0 hw ether %1").arg(mac);
    else if (!mac.isEmpty())
        qWarning("TxDeal: NET/MAC1 \"%s\" is no hardware address, left out of the network file",
            qUtf8Printable(mac));
    const QString address = read_netset(QStringLiteral("NET/IP"));
    const QString gateway = read_netset(QStringLiteral("NET/GATEWAY"));
    lines << QStringLiteral("address %1").arg(address) << QStringLiteral("gateway %1").arg(gateway)
          << QStringLiteral("netmask %1").arg(read_netset(QStringLiteral("NET/SUBMASK")))
          << QStringLiteral("dns-nameservers %1").arg(gateway);
    if (!platform::replaceNetworkFile(lines.join(QLatin1Char('\n')).toLatin1()))
        return false;
    if (checkip(address) != 0)
        qWarning(
            "TxDeal: the network file does not read back the address %s", qUtf8Printable(address));
    return true;
}

// Writes the factory network settings and the network file from them, then reboots after the
// reply; false when either could not be written.
bool TxDeal::init_net()
{
    for (const auto &[key, value] : factoryNetwork) {
        if (!write_netset(QLatin1String(key), QLatin1String(value)))
            return false;
    }
    return write_net_para();
}

// Writes the network file from "netconfig.ini" (from the factory settings when there are none
// yet), syncs, and reboots after the reply; false when nothing could be written.
bool TxDeal::write_net_para()
{
    if (read_netset(QStringLiteral("NET/flag")) != QLatin1String("1"))
        return init_net();
    if (!write_net_file())
        return false;
    (void)platform::run(QStringLiteral("sync")); // the rename is done; sync only hurries it
    platform::rebootAfterReply();
    qDebug("write success");
    return true;
}

// Factory reset: the built-in super-user alone, the factory network, then a reboot. The reply
// names the address at which the pages find the terminal again.
void TxDeal::tpdefault(HttpRequest &request, HttpResponse &response)
{
    if (OperatorDb::replace_users({OperatorDb::builtInSuperUser()}) != 0 || !init_net()) {
        SendReponse(request, response, QString::fromUtf8("恢复出厂设置失败！"));
        return;
    }
    SendReponse(request, response, QStringLiteral("login&%1").arg(QLatin1String(factoryAddress)));
}
