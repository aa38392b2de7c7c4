#include "commands/txdeal.h"

#include "commands/jsonobject.h"
#include "crypto/envelope.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"
#include "logging/redact.h"

#include <vector>

using weblet::HttpRequest;
using weblet::HttpResponse;

namespace {

using Operation = void (TxDeal::*)(HttpRequest &, HttpResponse &);

struct Route
{
    const char *prefix; // case-sensitive prefix of the request path
    Operation operation;
};

// Both tables are searched from the top and the first matching prefix wins, so a prefix that
// begins a longer one ("/command/reboot" and "/command/rebootcfg_get") must stay below it.

// Served without a login.
const std::vector<Route> ungatedRoutes = {
    {"/command/active", &TxDeal::tpactive},
    {"/FacePostMessage", &TxDeal::faceinput},
    {"/command/tplogin", &TxDeal::tpcommlogin},
    {"/command/writesn", &TxDeal::writesn},
};

// Served only to a session that holds "username".
const std::vector<Route> gatedRoutes = {
    {"/command/tplogout", &TxDeal::tpcommloginout},
    {"/command/getinfo/txid", &TxDeal::get_txid},
    {"/command/logout", &TxDeal::tplogout},
    {"/command/password_set", &TxDeal::tppassword_set},
    {"/command/operator_get", &TxDeal::operator_get},
    {"/command/opera_add", &TxDeal::opera_add},
    {"/command/opera_del", &TxDeal::opera_del},
    {"/command/opera_mdf", &TxDeal::opera_mdf},

    // Settings commands.
    {"/command/system/property", &TxDeal::system_process},
    {"/command/getinfo/system", &TxDeal::get_system},
    {"/command/netcfg_set", &TxDeal::tpnetcfg_set},
    {"/command/netcfg_get", &TxDeal::tpnetcfg_get},
    {"/command/ident_get", &TxDeal::ident_get},
    {"/command/ident_set", &TxDeal::ident_set},
    {"/command/pfset_get", &TxDeal::pfset_get},
    {"/command/pf_set", &TxDeal::pfset_set},
    {"/command/datetime_get", &TxDeal::datetime_get},
    {"/command/datetime_set", &TxDeal::datetime_set},
    {"/command/rebootcfg_get", &TxDeal::rebootcfg_get},
    {"/command/rebootcfg_set", &TxDeal::rebootcfg_set},
    {"/command/default", &TxDeal::tpdefault},
    {"/command/devContent_get", &TxDeal::tpdevContent_get},
    {"/command/reboot", &TxDeal::tpreboot},
    {"/command/version_get", &TxDeal::tpversion_get},
    {"/command/upload", &TxDeal::tpupload},

    // Access-control records, doors and face readers.
    {"/command/person/property", &TxDeal::person_process},
    {"/command/longopen/property", &TxDeal::longopen_process},
    {"/command/ycqr", &TxDeal::ycqr_process},
    {"/command/cardid/property", &TxDeal::cardid_process},
    {"/command/record/property", &TxDeal::record_process},
    {"/command/permit/property", &TxDeal::permit_process},
    {"/command/doorset/property", &TxDeal::doorset_process},
    {"/command/warrant/property", &TxDeal::warrant_process},
    {"/command/timezone/property", &TxDeal::timezone_process},
    {"/command/holiday/property", &TxDeal::holiday_process},
    {"/command/specialday/property", &TxDeal::specialday_process},
    {"/command/stay/property", &TxDeal::stay_process},
    {"/command/facedevice/property", &TxDeal::facedevice_process},
    {"/command/getinfo/person", &TxDeal::get_person},
    {"/command/getinfo/cardid", &TxDeal::get_cardid},
    {"/command/getinfo/record", &TxDeal::get_record},
    {"/command/getinfo/permit", &TxDeal::get_permit},
    {"/command/getinfo/warrant", &TxDeal::get_warrant},
    {"/command/getinfo/timezone", &TxDeal::get_timezone},
    {"/command/getinfo/holiday", &TxDeal::get_holiday},
    {"/command/getinfo/specialday", &TxDeal::get_specialday},
    {"/command/getinfo/stay", &TxDeal::get_stay},
};

// The operation of the first row whose prefix begins path; null when no row matches.
Operation routeFor(const std::vector<Route> &routes, const QString &path)
{
    for (const Route &route : routes) {
        if (path.startsWith(QLatin1String(route.prefix)))
            return route.operation;
    }
    return nullptr;
}

// The body as the debug log shows it. A sealed message opens with the device's fixed key, so it
// is shown only as "***" (its opened text is logged, passwords masked, where it is opened); the
// password change sends nothing but passwords; other forms show all but their password fields.
QString loggableBody(const QString &path, const QByteArray &body)
{
    if (path.startsWith(QLatin1String("/command/password_set")))
        return QString::fromLatin1(redact::mask);
    QByteArray opened = envelope::open(body);
    const int zero = opened.indexOf('\0');
    if (zero >= 0)
        opened.truncate(zero);
    if (repeatsAName(opened) || readJsonObject(opened))
        return QString::fromLatin1(redact::mask);
    return redact::formBody(QString::fromUtf8(body.constData()));
}

} // namespace

QString TxDeal::bodyText(const HttpRequest &request)
{
    return QString::fromUtf8(request.getBody().constData());
}

TxDeal::TxDeal(const QString &, const CommandContext &context)
    : weblet::HttpRequestHandler(nullptr)
    , context(context)
{
    Q_ASSERT(context.sessions && context.loginThrottle);
}

weblet::HttpSession TxDeal::session(HttpRequest &request, HttpResponse &response)
{
    return context.sessions->getSession(request, response, true);
}

QString TxDeal::operatorName(HttpRequest &request, HttpResponse &response)
{
    return session(request, response).get("username").toString();
}

// Routes one request: a few paths need no login, every other one needs a logged-in session.
// Unknown paths and refused sessions get a plain-text reply; an operation sends its own.
void TxDeal::service(HttpRequest &request, HttpResponse &response)
{
    path = QString::fromUtf8(request.getPath());
    qDebug("Body:%s", qUtf8Printable(loggableBody(path, request.getBody())));

    if (const Operation operation = routeFor(ungatedRoutes, path)) {
        (this->*operation)(request, response);
        return;
    }

    const weblet::HttpSession session = this->session(request, response);
    qDebug("session id :%s", redact::sessionId(session.getId()).constData());
    if (!session.contains("username")) {
        qDebug("username:%s", qUtf8Printable(session.get("username").toString()));
        SendReponse(request, response, QStringLiteral("login"));
        return;
    }

    if (const Operation operation = routeFor(gatedRoutes, path)) {
        (this->*operation)(request, response);
        return;
    }
    SendReponse(request, response, QString::fromUtf8("该交易不支持"));
}
