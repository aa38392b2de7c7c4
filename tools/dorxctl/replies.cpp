#include "replies.h"

#include "console.h"
#include "crypto/envelope.h"
#include "store/storetext.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A plain failure text of the device and what it means; path, when given, is the beginning of
// the paths whose reply it is.
struct PlainFailure
{
    const char *path;
    const char *text;
    bool prefix; // text is the beginning of the reply (followed by a value)
    const char *meaning;
};

// Both logins answer a refusal alike, whatever the reason, so as not to help a guesser.
const char loginRefused[] = "wrong name or password, a disabled operator, or too many failed "
                            "logins from this address: wait a minute and try again";

const PlainFailure plainFailures[] = {
    {"/command/login", "没有用户名", false, "no name: the form needs username=NAME"},
    {"/command/login", "密码不能为空", false,
        "no password: the form needs password=HEX (dorxctl deshex PASSWORD)"},
    {"/command/writesn", "ERROR-writed", false,
        "the door count is written once and is set already"},
    {"/command/writesn", "ERROR-", true,
        "the serial number is written once, and this device's is set already: the text after "
        "ERROR-"},
    {"/command/writesn", "error-para", false, "a door count is one digit from 1 to 8"},
    {"/command/writesn", "error-write", false,
        "the device could not store it: its settings file is not writable"},
    {"/command/writesn", "", false,
        "send a serial number of 5 characters or more (the last five are kept) or a door "
        "count from 1 to 8"},
    {"/command/active", "激活失败！", false,
        "activation failed: the device account could not be written to DORXWebOnDevice.ini"},
    {nullptr, "修改失败，请重新登录！", false,
        "change failed, log in again: the form is old=HEX&new=HEX (dorxctl deshex), by an "
        "operator who still exists, on a device whose operator database is writable"},
    {nullptr, "修改失败，旧密码错误！", false, "change failed: the old password is wrong"},
    {nullptr, "新增用户失败，权限不够！", false,
        "adding failed: only a super-user (超级用户) may add operators"},
    {nullptr, "新增用户失败，用户已存在！", false,
        "adding failed: an operator of that name exists"},
    {nullptr, "新增用户失败，用户数已满！", false,
        "adding failed: there are 5 operators, the most there may be"},
    {nullptr, "新增用户失败！", false, "adding failed: the operator database is not writable"},
    {nullptr, "修改用户失败，权限不够！", false,
        "changing the operators failed: only a super-user may"},
    {nullptr, "修改用户失败！", false,
        "changing the operators failed: the operator database is not writable; nothing changed"},
    {nullptr, "恢复密码失败，权限不够！", false, "password reset failed: only a super-user may"},
    {nullptr, "恢复密码失败！", false,
        "password reset failed: the operator database is not writable"},
    {nullptr, "请检查IP地址", false,
        "check the IP address: four numbers 0 to 255, not 0.0.0.0 or 255.255.255.255"},
    {nullptr, "请检查子网掩码", false,
        "check the net mask: four numbers 0 to 255, not 255.255.255.255"},
    {nullptr, "请检查网关地址", false, "check the gateway address: four numbers 0 to 255"},
    {nullptr, "请检查1#服务器地址", false, "check the address of server 1"},
    {nullptr, "请检查2#服务器地址", false, "check the address of server 2"},
    {nullptr, "请检查设备端口号", false, "check the device port: 1 to 65535"},
    {nullptr, "请检查服务器端口号", false, "check the server port: 1 to 65535"},
    {nullptr, "修改网络设置失败！", false,
        "changing the network settings failed: the network file could not be written; the old "
        "one stays"},
    {nullptr, "设备名称格式不正确!", false, "the device name is missing"},
    {nullptr, "设备编号格式不正确!", false, "the device number is missing"},
    {nullptr, "接入平台格式不正确!", false, "the platform server is missing"},
    {nullptr, "日期时间格式不正确!", false,
        "the date or time is not yyyy-MM-dd (1970 to 2099) and hh:mm:ss or hh:mm"},
    {nullptr, "修改日期时间失败！", false, "setting the clock failed: see the device's log"},
    {nullptr, "保存设置失败！", false,
        "the setting could not be saved: netconfig.ini or sqlconfig.ini is not writable"},
    {nullptr, "恢复出厂设置失败！", false,
        "the factory reset failed: the operators or the network settings could not be written"},
    {nullptr, "传送失败", false,
        "the upload failed: no file in the field \"upload\", a name with / or .., or the file "
        "could not be stored"},
};

const char unknownCommand[] = "该交易不支持";

// A result code of the sealed commands whose path begins with path ("" for every path).
struct CodeMeaning
{
    const char *path;
    int code;
    const char *meaning;
};

const CodeMeaning codeMeanings[] = {
    {"/command/tplogin", 7, loginRefused},
    {"/command/system/property", 3, "the time is not yyyy-MM-dd hh:mm:ss; nothing was changed"},
    {"/command/system/property", 5,
        "a parameter or the clock could not be set: see the device's log"},
    {"/command/getinfo/system", 3, "the device could not count its records: see its log"},
    {"/command/longopen/property", 3, "doornum must be 0 to 3"},
    {"/command/longopen/property", 10,
        "long-open is switched off (LONGOPEN=2 in sqlconfig.ini); dorxctl system-set "
        "longopen=1 switches it on"},
    {"/command/ycqr", 3, "doornum must be 0 to 3 and direction 0 or 1"},
    {"/command/ycqr", 4,
        "the access daemon could not be asked or did not answer in time: is it running on the "
        "server's D-Bus session bus?"},
    {"/command/facedevice/property", 3,
        "facedevicekey is empty, or DEVICESN or RECORDID, which the device keeps for itself"},
    {"", 3,
        "the device refused the order or a value (a number out of range, or a text it would "
        "not keep exactly as given); nothing was changed"},
    {"", 4, "no such record"},
    {"", 5,
        "the device could not store the change (a database not writable, or the disk full); "
        "nothing was changed"},
    {"", 6, "the device could not read the message"},
    {"", 9, "more records asked for than one reply may hold (100 a page)"},
};

// The code that says done: the logout answers 7, every other command 1.
int doneCode(const QString &path)
{
    return path.startsWith(QLatin1String("/command/tplogout")) ? 7 : 1;
}

int notLoggedIn()
{
    return fail(ExitNotLoggedIn,
        QStringLiteral("not logged in, or the session expired (the device answered \"login\"): "
                       "run dorxctl login NAME PASSWORD"));
}

int unknown(const QString &path)
{
    return fail(ExitRefused,
        QStringLiteral("the device does not know the command %1 (it answered %2, \"not "
                       "supported\"): check the path, see dorxctl --help")
            .arg(path, QString::fromUtf8(unknownCommand)));
}

const PlainFailure *plainFailure(const QString &path, const QByteArray &reply)
{
    for (const PlainFailure &failure : plainFailures) {
        if (failure.path && !path.startsWith(QLatin1String(failure.path)))
            continue;
        if (failure.prefix ? reply.startsWith(failure.text) : reply == failure.text)
            return &failure;
    }
    return nullptr;
}

// The serial number a sealed reply carries is the device's own.
QString serialNumberMessage(const QJsonObject &reply)
{
    const QString serial = reply.value(QLatin1String("devicesn")).toString();
    if (serial.isEmpty())
        return QStringLiteral("the device has no serial number yet (respond 2): give "
                              "--devicesn '' (or set one with dorxctl form /command/writesn SN)");
    return QStringLiteral("the device's serial number is \"%1\" (respond 2): give --devicesn %1")
        .arg(serial);
}

} // namespace

namespace replies {

int ofForm(const QString &path, const QByteArray &reply)
{
    if (reply == "login") {
        // The browser login answers its refusal with the text that elsewhere asks for a login.
        return path.startsWith(QLatin1String("/command/login")) ? fail(ExitRefused,
                   QStringLiteral("%1 (the device answered \"login\")")
                       .arg(QLatin1String(loginRefused)))
                                                                : notLoggedIn();
    }
    if (const PlainFailure *failure = plainFailure(path, reply)) {
        return fail(ExitRefused,
            reply.isEmpty()
                ? QStringLiteral("the device answered nothing: %1")
                      .arg(QString::fromUtf8(failure->meaning))
                : QStringLiteral("the device refused: %1 (%2)")
                      .arg(QString::fromUtf8(reply), QString::fromUtf8(failure->meaning)));
    }
    if (reply == unknownCommand)
        return unknown(path);
    if (reply.isEmpty() || reply == "OK" || reply.startsWith("OK&") || reply.startsWith("OK-")
        || reply.startsWith("login&") || reply == "isActive=0")
        return ExitDone;
    if (QJsonDocument::fromJson(envelope::open(reply)).isObject())
        return fail(ExitRefused,
            QStringLiteral("%1 is an encrypted command, which does not take a form: "
                           "use dorxctl send %1 JSON")
                .arg(path));
    return fail(
        ExitRefused, QStringLiteral("the device refused: %1").arg(QString::fromUtf8(reply)));
}

int ofSealed(const QString &path, const QByteArray &reply, QByteArray *answer)
{
    if (reply == "login")
        return notLoggedIn();
    if (reply == unknownCommand) {
        *answer = reply;
        return ExitRefused;
    }
    *answer = envelope::open(reply);
    const QJsonObject object = QJsonDocument::fromJson(*answer).object();
    if (object.isEmpty())
        return fail(ExitFailed,
            QStringLiteral("the reply could not be decrypted (a form command? use dorxctl form "
                           "%1 BODY): %2")
                .arg(path, QString::fromUtf8(reply.left(80)).simplified()));
    return respondOf(*answer) == doneCode(path) ? ExitDone : ExitRefused;
}

int refusal(const QString &path, const QByteArray &answer)
{
    if (answer == unknownCommand)
        return unknown(path);
    const QJsonObject reply = QJsonDocument::fromJson(answer).object();
    const int code = respondOf(answer);
    if (code == 2)
        return fail(ExitRefused, serialNumberMessage(reply));
    for (const CodeMeaning &meaning : codeMeanings) {
        if (meaning.code == code && path.startsWith(QLatin1String(meaning.path)))
            return fail(ExitRefused,
                QStringLiteral("%1 (respond %2)")
                    .arg(QString::fromUtf8(meaning.meaning))
                    .arg(code));
    }
    if (path.startsWith(QLatin1String("/command/ycqr")))
        return fail(ExitRefused, QStringLiteral("the access daemon answered %1").arg(code));
    return fail(ExitRefused, QStringLiteral("the device answered \"respond\" %1").arg(code));
}

int respondOf(const QByteArray &answer)
{
    return QJsonDocument::fromJson(answer).object().value(QLatin1String("respond")).toInt(-1);
}

int ofStore(const QString &command, const QString &reply)
{
    // The settings read answers the bare value, whatever it is.
    const QStringList fields = command.split(QLatin1Char('.'));
    if ((storetext::toNumber(fields.value(0)) & 0xff) == 20
        && (storetext::toNumber(fields.value(1)) & 0xff) == 4)
        return ExitDone;
    if (reply == QLatin1String("0") || reply.startsWith(QLatin1String("0.")))
        return ExitDone;
    QString meaning;
    if (reply == QLatin1String("1"))
        meaning = QStringLiteral("unknown table or operation");
    else if (reply == QLatin1String("2"))
        meaning = QStringLiteral("nothing found");
    else if (reply == QLatin1String("3"))
        meaning = QStringLiteral("not written: a database is not writable or the disk is full "
                                 "(see the server's log)");
    else
        meaning = QStringLiteral("not a reply of the store");
    return fail(ExitRefused,
        QStringLiteral("store command %1 answered %2: %3").arg(command, reply, meaning));
}

const char help[]
    = "\nExit status:\n"
      "  0  done\n"
      "  1  the device could not be reached or did not answer in time, its answer is no reply\n"
      "     of the command (e.g. not decryptable), or the state file could not be read or\n"
      "     written\n"
      "  2  bad arguments or JSON\n"
      "  3  the device refused: a failure text (e.g. 修改失败，旧密码错误！), a \"respond\" code\n"
      "     other than 1 (the logout's is 7), a refused login, a command it does not know\n"
      "     (该交易不支持), or a store reply 1, 2 or 3\n"
      "  4  not logged in, or the session expired: run dorxctl login NAME PASSWORD\n"
      "Errors are one line on standard error, with the device's text translated (the README's\n"
      "\"Replies\" lists them all); form, send, login and logout still print the reply.\n"
      "\nChinese texts in the output, in English:\n"
      "  operator types (form /command/operator_get, opera_add type=...): 超级用户 super-user\n"
      "      (may manage the operators), 操作员 operator\n"
      "  version-get: 设备类型 device type, 产品型号 product model, 硬件版本 hardware version,\n"
      "      产品序列号 serial number, WEB版本 web pages version, 固件版本 firmware version\n"
      "  contents-get: 人员信息 persons, 权限设置 permits, 授权信息 warrants, 时间表 time zones,\n"
      "      特殊日期 holidays, 常状态 door-mode rules (stays), 记录数 access records\n";

} // namespace replies
