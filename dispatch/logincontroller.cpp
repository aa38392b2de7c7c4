#include "dispatch/logincontroller.h"

#include "commands/formfields.h"
#include "commands/loginthrottle.h"
#include "crypto/des.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"
#include "store/operatordb.h"

#include <QTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

LoginController::LoginController(const CommandContext &context)
    : weblet::HttpRequestHandler(nullptr)
    , context(context)
{
    Q_ASSERT(context.sessions && context.loginThrottle);
}

// Answers "OK" (logged in), "没有用户名" (no name), "密码不能为空" (no password) or "login"
// (refused: the reply never tells an unknown name from a wrong password, nor from an address
// that is locked out for failing too often).
void LoginController::service(HttpRequest &request, HttpResponse &response)
{
    // Fields in either order; a later field replaces an earlier one of the same name.
    const FormFields fields(request.getBody());
    const QString name = fields.lastValueStartingWith(QLatin1String("username"));
    const QString password = fields.lastValueStartingWith(QLatin1String("password"));
    if (name.isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("没有用户名"));
        return;
    }
    if (password.isEmpty()) {
        SendReponse(request, response, QString::fromUtf8("密码不能为空"));
        return;
    }
    if (!context.loginThrottle->attempt(request.getPeerAddress().toString(),
            [&] { return OperatorDb::login_allowed(name, des0_in(password)); })) {
        SendReponse(request, response, QStringLiteral("login"));
        return;
    }
    weblet::HttpSession session = context.sessions->getSession(request, response, true);
    session.set("username", name);
    session.set("logintime", QTime::currentTime());
    SendReponse(request, response, QStringLiteral("OK"));
}
