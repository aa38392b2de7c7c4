#include "dispatch/logincontroller.h"

#include "commands/formfields.h"
#include "crypto/des.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"
#include "store/operatordb.h"

#include <QTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

LoginController::LoginController(weblet::HttpSessionStore *sessions)
    : weblet::HttpRequestHandler(nullptr)
    , sessions(sessions)
{
    Q_ASSERT(sessions);
}

// Answers "OK" (logged in), "没有用户名" (no name), "密码不能为空" (no password) or "login"
// (refused: the reply never tells an unknown name from a wrong password).
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
    if (!OperatorDb::login_allowed(name, des0_in(password))) {
        SendReponse(request, response, QStringLiteral("login"));
        return;
    }
    weblet::HttpSession session = sessions->getSession(request, response, true);
    session.set("username", name);
    session.set("logintime", QTime::currentTime());
    SendReponse(request, response, QStringLiteral("OK"));
}
