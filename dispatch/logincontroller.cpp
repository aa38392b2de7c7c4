#include "dispatch/logincontroller.h"

#include "app/globals.h"
#include "crypto/des.h"
#include "dispatch/operatordb.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"

#include <QTime>

using weblet::HttpRequest;
using weblet::HttpResponse;

LoginController::LoginController()
    : weblet::HttpRequestHandler(nullptr)
{ }

// Answers "OK" (logged in), "没有用户名" (no name), "密码不能为空" (no password) or "login"
// (refused: the reply never tells an unknown name from a wrong password).
void LoginController::service(HttpRequest &request, HttpResponse &response)
{
    // Fields in either order; values are taken as sent, without URL decoding or trimming.
    QString name;
    QString password;
    const QStringList fields = QString::fromUtf8(request.getBody().constData()).split('&');
    for (const QString &field : fields) {
        if (field.startsWith(QLatin1String("username")))
            name = field.section('=', 1, 1);
        else if (field.startsWith(QLatin1String("password")))
            password = field.section('=', 1, 1);
    }
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
    weblet::HttpSession session = sessionStore->getSession(request, response, true);
    session.set("username", name);
    session.set("logintime", QTime::currentTime());
    SendReponse(request, response, QStringLiteral("OK"));
}
