#include "commands/txdeal.h"

#include "commands/formfields.h"
#include "commands/loginthrottle.h"
#include "crypto/des.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"
#include "logging/redact.h"
#include "store/inifile.h"
#include "store/operatordb.h"

#include <QSettings>
#include <QTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

// The only operator type with rights of its own: managing the operator list.
QString superUserType()
{
    return QString::fromUtf8("超级用户");
}

constexpr uint mostOperators = 5;
// Values per stored row of "user": name, password, type, enable.
constexpr int userColumns = 4;
// Fields per operator in the form that rewrites the list: name, type, delete mark.
constexpr int listFormFields = 3;

bool isSuperUser(const QString &name)
{
    const QStringList row = OperatorDb::get_operate_db_by_username(name);
    return row.size() == userColumns && row.at(2) == superUserType();
}

QVariantList userRow(const QString &name, const QString &password, const QString &type)
{
    return {name, password, type, 1};
}

} // namespace

// Encrypted login of the management client: on success the session holds the operator. Failures
// count towards the address's lockout together with the browser's.
void TxDeal::tpcommlogin(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_session_message(request, response, &message, &id))
        return;
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    const QString name = json_to_qstring(datas.value(QLatin1String("username")));
    const QString password = json_to_qstring(datas.value(QLatin1String("password")));
    if (!context.loginThrottle->attempt(request.getPeerAddress().toString(),
            [&] { return OperatorDb::login_allowed(name, password); })) {
        SendReponse(request, response, sendback_respond(id, 7));
        return;
    }
    weblet::HttpSession session = this->session(request, response);
    session.set("username", name);
    session.set("logintime", QTime::currentTime());
    SendReponse(request, response, sendback_respond(id, 1));
}

// Encrypted logout of the management client; 7 says the session is logged out.
void TxDeal::tpcommloginout(HttpRequest &request, HttpResponse &response)
{
    QJsonObject message;
    QString id;
    if (!open_session_message(request, response, &message, &id))
        return;
    weblet::HttpSession session = this->session(request, response);
    session.remove("username");
    session.remove("logintime");
    SendReponse(request, response, sendback_respond(id, 7));
}

// Opens the body of a login or logout message, or of an access-record query, into *message and
// *id. Answers itself, and returns false, when nothing readable came (6, with an empty id) or the
// message is meant for another device (2).
bool TxDeal::open_session_message(
    HttpRequest &request, HttpResponse &response, QJsonObject *message, QString *id)
{
    const QString decoded = decode_aes(bodyText(request));
    *message = QstringToJson(decoded);
    if (decoded.isEmpty() || message->isEmpty()) {
        SendReponse(request, response, sendback_respond(QString(), 6));
        return false;
    }
    return for_this_device(request, response, *message, id);
}

void TxDeal::tplogout(HttpRequest &request, HttpResponse &response)
{
    weblet::HttpSession session = this->session(request, response);
    session.remove("username");
    session.remove("logintime");
    SendReponse(request, response, QStringLiteral("OK"));
}

// Queries ("isActive=?") or writes the device's own account record. Anyone may do either: the
// record only tells the pages whether first setup has been done. "OK" only once it is written.
void TxDeal::tpactive(HttpRequest &request, HttpResponse &response)
{
    if (bodyText(request) == QLatin1String("isActive=?")) {
        QSettings login(context.configFileName, QSettings::IniFormat);
        login.setIniCodec("UTF-8");
        SendReponse(request, response,
            login.value(QStringLiteral("login/name")).toString().isEmpty()
                ? QStringLiteral("isActive=0")
                : QStringLiteral("OK&isActive=1"));
        return;
    }
    const FormFields fields(request.getBody());
    const QString name = fields.lastValueStartingWith(QLatin1String("username"));
    const QString password = fields.lastValueStartingWith(QLatin1String("password"));
    // Written into the group alone: the comments and settings of the rest of the file stay.
    const bool written = inifile::writeGroup(context.configFileName, QStringLiteral("login"),
        {{QStringLiteral("name"), name}, {QStringLiteral("password"), password}});
    SendReponse(
        request, response, written ? QStringLiteral("OK") : QString::fromUtf8("激活失败！"));
}

// Changes the caller's own password. Both passwords come as the hexadecimal DES text of the
// pages; "OK" is sent only once the new password is stored.
void TxDeal::tppassword_set(HttpRequest &request, HttpResponse &response)
{
    const QString logInAgain = QString::fromUtf8("修改失败，请重新登录！");
    const FormFields fields(request.getBody());
    if (fields.size() != 2) {
        SendReponse(request, response, logInAgain);
        return;
    }
    const QString caller = operatorName(request, response);
    const QStringList row = OperatorDb::get_operate_db_by_username(caller);
    if (row.size() != userColumns) {
        SendReponse(request, response, logInAgain);
        return;
    }
    if (des0_in(fields.value(0)) != row.at(1)) {
        SendReponse(request, response, QString::fromUtf8("修改失败，旧密码错误！"));
        return;
    }
    if (OperatorDb::upgrade_password(caller, des0_in(fields.value(1))) != 0) {
        SendReponse(request, response, logInAgain);
        return;
    }
    qDebug("username:%s", qUtf8Printable(caller));
    SendReponse(request, response, QStringLiteral("OK"));
}

// Lists every operator's name and type in table order; passwords never leave the device.
void TxDeal::operator_get(HttpRequest &request, HttpResponse &response)
{
    const QStringList rows = OperatorDb::get_operate_db();
    QString text = QStringLiteral("OK");
    for (int row = 0; row + userColumns <= rows.size(); row += userColumns)
        text += QStringLiteral("&Name=") + rows.at(row) + QStringLiteral("&Level=")
            + rows.at(row + 2);
    qDebug("%d", int(rows.size()));
    qDebug("fhz:%s", qUtf8Printable(text));
    SendReponse(request, response, text);
}

// Adds an operator (fields: name, type) with the default password; super-users only.
void TxDeal::opera_add(HttpRequest &request, HttpResponse &response)
{
    if (!isSuperUser(operatorName(request, response))) {
        SendReponse(request, response, QString::fromUtf8("新增用户失败，权限不够！"));
        return;
    }
    const FormFields fields(request.getBody());
    const QString name = fields.value(0);
    if (!OperatorDb::get_operate_db_by_username(name).isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("新增用户失败，用户已存在！"));
        return;
    }
    if (OperatorDb::get_user_count() >= mostOperators) {
        SendReponse(request, response, QString::fromUtf8("新增用户失败，用户数已满！"));
        return;
    }
    // A form without the type field adds an operator of no type (no rights of its own).
    const int stored = OperatorDb::add_note(
        QStringLiteral("user"), userRow(name, OperatorDb::defaultPassword(), fields.value(1)));
    qDebug("body str:%s", qUtf8Printable(redact::formBody(bodyText(request))));
    SendReponse(request, response,
        stored == 0 ? QStringLiteral("OK") : QString::fromUtf8("新增用户失败！"));
}

// Rewrites the operator list from the form (name, type, delete mark per stored operator, in
// table order); super-users only. Passwords stay with the position in the list. Groups beyond
// the stored operators, and an incomplete last group, are ignored; an operator without a group
// marked exactly "false" is dropped. The list is replaced in one transaction, so a failure
// keeps the old list whole.
void TxDeal::opera_del(HttpRequest &request, HttpResponse &response)
{
    if (!isSuperUser(operatorName(request, response))) {
        SendReponse(request, response, QString::fromUtf8("修改用户失败，权限不够！"));
        return;
    }
    const QStringList old = OperatorDb::get_operate_db();
    const FormFields fields(request.getBody());
    const int storedOperators = int(old.size()) / userColumns;
    QList<QVariantList> kept;
    for (int k = 0; k < storedOperators && (k + 1) * listFormFields <= fields.size(); ++k) {
        const int first = k * listFormFields;
        if (fields.value(first + 2) == QLatin1String("false"))
            kept << userRow(
                fields.value(first), old.at(k * userColumns + 1), fields.value(first + 1));
    }
    SendReponse(request, response,
        OperatorDb::replace_users(kept) == 0 ? QStringLiteral("OK")
                                             : QString::fromUtf8("修改用户失败！"));
}

// Resets to the default the password of every stored operator whose field (by position in
// table order) is exactly "true"; super-users only. Fields beyond the stored operators are
// ignored.
void TxDeal::opera_mdf(HttpRequest &request, HttpResponse &response)
{
    if (!isSuperUser(operatorName(request, response))) {
        SendReponse(request, response, QString::fromUtf8("恢复密码失败，权限不够！"));
        return;
    }
    const QStringList rows = OperatorDb::get_operate_db();
    const FormFields fields(request.getBody());
    const int storedOperators = int(rows.size()) / userColumns;
    for (int k = 0; k < storedOperators && k < fields.size(); ++k) {
        if (fields.value(k) != QLatin1String("true"))
            continue;
        if (OperatorDb::upgrade_password(rows.at(k * userColumns), OperatorDb::defaultPassword())
            != 0) {
            SendReponse(request, response, QString::fromUtf8("恢复密码失败！"));
            return;
        }
    }
    SendReponse(request, response, QStringLiteral("OK"));
}
