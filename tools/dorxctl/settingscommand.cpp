#include "settingscommand.h"

#include <QJsonValue>
#include <QMap>
#include <QRegularExpression>

namespace {

struct FormCommand
{
    const char *name;
    const char *path;
    // Names of the form fields the arguments fill, in order; empty for a reading command.
    QStringList fields;
};

const FormCommand formCommands[] = {
    {"ident-get", "/command/ident_get", {}},
    {"ident-set", "/command/ident_set", {"devname", "devnumber"}},
    {"platform-get", "/command/pfset_get", {}},
    {"platform-set", "/command/pf_set", {"pf_server"}},
    {"time-get", "/command/datetime_get", {}},
    {"time-set", "/command/datetime_set", {"Date", "Time", "Ntp"}},
    {"daily-reboot-get", "/command/rebootcfg_get", {}},
    {"daily-reboot-set", "/command/rebootcfg_set", {"flag", "hour", "minute"}},
    {"version-get", "/command/version_get", {}},
    {"contents-get", "/command/devContent_get", {}},
};

// The addresses of the network form, as net-get prints them and net-set takes them: each one
// field group of the form, split at "." (the hardware address at ":").
struct NetworkAddress
{
    const char *name;
    const char *prefix;
};
const NetworkAddress networkAddresses[] = {
    {"ip", "tcpip_ip"},
    {"mask", "tcpip_mk"},
    {"gateway", "tcpip_dg"},
    {"server1", "tcpip_svr1_"},
    {"server2", "tcpip_svr2_"},
};

// Members of "datas" that the device parameters message stores; all but "time" are numbers.
const QStringList systemMembers = {"exit", "longopen", "localalarm", "readeronline", "lockerror",
    "readerat", "acufc", "acukg", "masterpower", "acpower", "backpower", "hs", "releasetime",
    "opentime", "openalarmtime", "doorenable1", "doorenable2", "doorenable3", "doorenable4", "yysz",
    "cellmin", "cellmax", "chargevol", "time"};

const FormCommand *formCommand(const QString &name)
{
    for (const FormCommand &command : formCommands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString usage(const QString &command, const QString &arguments)
{
    return QStringLiteral("usage: dorxctl [options] %1 %2(see --help)")
        .arg(command, arguments.isEmpty() ? QString() : arguments + QLatin1Char(' '));
}

// name=value pairs of the fields, joined by "&" as the pages send them.
QByteArray formBody(const QStringList &names, const QStringList &values)
{
    QStringList pairs;
    for (int i = 0; i < names.size(); ++i)
        pairs << names.at(i) + QLatin1Char('=') + values.value(i);
    return pairs.join(QLatin1Char('&')).toUtf8();
}

bool netSetCall(const QStringList &arguments, SettingsCall *call, QString *error)
{
    if (arguments.size() != 7 && !(arguments.size() == 8 && arguments.at(7) == "reboot")) {
        *error = usage(call->command, "IP MASK GATEWAY SERVER1 SERVER2 PORT SERVERPORT [reboot]");
        return false;
    }
    QStringList names;
    QStringList values;
    for (int address = 0; address < 5; ++address) {
        const QStringList parts = arguments.at(address).split(QLatin1Char('.'));
        for (int part = 0; part < 4; ++part) {
            names << QLatin1String(networkAddresses[address].prefix) + QString::number(part);
            values << parts.value(part);
        }
    }
    names << QStringLiteral("tcpip_Port") << QStringLiteral("tcpip_ServerPort")
          << QStringLiteral("tcpip_rbt");
    values << arguments.at(5) << arguments.at(6)
           << (arguments.size() == 8 ? QStringLiteral("1") : QStringLiteral("0"));
    call->path = QStringLiteral("/command/netcfg_set");
    call->form = formBody(names, values);
    return true;
}

bool systemSetCall(const QStringList &arguments, SettingsCall *call, QString *error)
{
    static const QRegularExpression number(QStringLiteral("^[0-9]+$"));
    QJsonObject datas;
    for (const QString &argument : arguments) {
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        const QString value = argument.section(QLatin1Char('='), 1);
        if (!argument.contains(QLatin1Char('=')) || !systemMembers.contains(name)) {
            *error = QStringLiteral("system-set takes NAME=VALUE with NAME one of: %1")
                         .arg(systemMembers.join(QLatin1Char(' ')));
            return false;
        }
        if (name == QLatin1String("time"))
            datas.insert(name, value);
        else if (number.match(value).hasMatch())
            datas.insert(name, qint64(value.toULongLong()));
        else {
            *error = QStringLiteral("%1 takes a number, not \"%2\"").arg(name, value);
            return false;
        }
    }
    if (datas.isEmpty()) {
        *error = usage(call->command, "NAME=VALUE...");
        return false;
    }
    call->path = QStringLiteral("/command/system/property");
    call->sealed = true;
    call->message.insert(QStringLiteral("datas"), datas);
    return true;
}

// The values of an "OK&name=value&..." reply, in order.
QList<QPair<QString, QString>> replyValues(const QString &reply)
{
    QList<QPair<QString, QString>> values;
    for (const QString &pair : reply.split(QLatin1Char('&')).mid(1))
        values << qMakePair(
            pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return values;
}

// net-get's lines: the field groups put together again, in the order net-set takes them.
QString networkLines(const QList<QPair<QString, QString>> &values)
{
    QMap<QString, QString> fields;
    for (const auto &value : values)
        fields.insert(value.first, value.second);
    QStringList lines;
    for (const NetworkAddress &address : networkAddresses) {
        QStringList parts;
        for (int part = 0; part < 4; ++part)
            parts << fields.value(QLatin1String(address.prefix) + QString::number(part));
        lines << QLatin1String(address.name) + QLatin1Char('=') + parts.join(QLatin1Char('.'));
    }
    lines << QStringLiteral("port=") + fields.value(QStringLiteral("tcpip_Port"))
          << QStringLiteral("serverport=") + fields.value(QStringLiteral("tcpip_ServerPort"));
    QStringList mac;
    for (int part = 0; part < 6; ++part)
        mac << fields.value(QStringLiteral("tcpip_Mac") + QString::number(part));
    lines << QStringLiteral("mac=")
            + (fields.value(QStringLiteral("tcpip_Mac0")).isEmpty() ? QString()
                                                                    : mac.join(QLatin1Char(':')));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

const char settingsHelp[]
    = "\nSettings commands (after login; each prints OK or the values, one name=value a line):\n"
      "  net-get               Network settings, e.g. dorxctl net-get\n"
      "  net-set IP MASK GATEWAY SERVER1 SERVER2 PORT SERVERPORT [reboot]\n"
      "                        Change them; \"reboot\" reboots the terminal to apply them, e.g.\n"
      "                        dorxctl net-set 192.168.0.50 255.255.255.0 192.168.0.1\n"
      "                        192.168.0.77 192.168.0.78 15000 15000 reboot\n"
      "  ident-get             Device name and number, e.g. dorxctl ident-get\n"
      "  ident-set NAME NUMBER e.g. dorxctl ident-set east-gate 7\n"
      "  platform-get          Platform server, e.g. dorxctl platform-get\n"
      "  platform-set SERVER   e.g. dorxctl platform-set 192.168.0.77:9000\n"
      "  time-get              Date, time and time server, e.g. dorxctl time-get\n"
      "  time-set DATE TIME NTP\n"
      "                        Set the clocks and the time server (\"\" for none), e.g.\n"
      "                        dorxctl time-set 2024-05-01 08:30:00 pool.ntp.org\n"
      "  daily-reboot-get      e.g. dorxctl daily-reboot-get\n"
      "  daily-reboot-set on|off HOUR MINUTE\n"
      "                        e.g. dorxctl daily-reboot-set on 3 30\n"
      "  version-get           Device type, model, versions, e.g. dorxctl version-get\n"
      "  contents-get          Record counts, e.g. dorxctl contents-get\n"
      "  system-get            Counts, time and device parameters (encrypted reply printed),\n"
      "                        e.g. dorxctl system-get\n"
      "  system-set NAME=VALUE...\n"
      "                        Store device parameters by their message names (exit, hs,\n"
      "                        opentime, cellmin, ...; 0 leaves one as it is) and set the clock\n"
      "                        with time=, e.g.\n"
      "                        dorxctl system-set opentime=5 'time=2024-05-01 08:30:00'\n";

bool isSettingsCommand(const QString &word)
{
    return formCommand(word) || word == QLatin1String("net-get") || word == QLatin1String("net-set")
        || word == QLatin1String("system-get") || word == QLatin1String("system-set");
}

bool settingsCall(const QStringList &words, SettingsCall *call, QString *error)
{
    Q_ASSERT(!words.isEmpty() && isSettingsCommand(words.constFirst()));
    call->command = words.constFirst();
    const QStringList arguments = words.mid(1);
    if (call->command == QLatin1String("net-set"))
        return netSetCall(arguments, call, error);
    if (call->command == QLatin1String("system-set"))
        return systemSetCall(arguments, call, error);
    if (call->command == QLatin1String("net-get") || call->command == QLatin1String("system-get")) {
        if (!arguments.isEmpty()) {
            *error = usage(call->command, QString());
            return false;
        }
        call->sealed = call->command == QLatin1String("system-get");
        call->path = call->sealed ? QStringLiteral("/command/getinfo/system")
                                  : QStringLiteral("/command/netcfg_get");
        return true;
    }

    const FormCommand *command = formCommand(call->command);
    QStringList values = arguments;
    if (call->command == QLatin1String("daily-reboot-set") && !values.isEmpty()) {
        if (values.constFirst() != QLatin1String("on")
            && values.constFirst() != QLatin1String("off")) {
            *error = usage(call->command, "on|off HOUR MINUTE");
            return false;
        }
        values[0] = values.constFirst() == QLatin1String("on") ? QStringLiteral("Y")
                                                               : QStringLiteral("N");
    }
    if (values.size() != command->fields.size()) {
        *error = usage(call->command, command->fields.join(QLatin1Char(' ')).toUpper());
        return false;
    }
    call->path = QLatin1String(command->path);
    call->form = formBody(command->fields, values);
    return true;
}

QByteArray settingsOutput(const SettingsCall &call, const QByteArray &reply)
{
    const QString text = QString::fromUtf8(reply);
    if (!text.startsWith(QLatin1String("OK&")))
        return reply;
    const QList<QPair<QString, QString>> values = replyValues(text);
    if (call.command == QLatin1String("net-get"))
        return networkLines(values).toUtf8();
    QStringList lines;
    for (const auto &value : values)
        lines << value.first + QLatin1Char('=') + value.second;
    return lines.join(QLatin1Char('\n')).toUtf8();
}
