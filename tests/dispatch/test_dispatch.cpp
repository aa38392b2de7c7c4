#include "commands/loginthrottle.h"
#include "crypto/des.h"
#include "dispatch/requestmapper.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsessionstore.h"
#include "serverprocess.h"

#include <QtTest>

using namespace weblet;

// Routing, the browser login and the session gate against the real server, and the admission
// gate; which passwords the database accepts and logouts are the store's and commands' tests.
class TestDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("LC_ALL", "C"); // the device may run under it; texts must still travel as UTF-8
        server.writeConfig("[listener]\nreadTimeout=2000\n");
        QVERIFY(server.start());
    }
    void routesAndGate_data();
    void routesAndGate();
    void admissionGateHoldsCommandsOnly();

private:
    ServerProcess server;
};

namespace {

const QByteArray password = des0_out("6172839405").toLatin1();
const QByteArray unsupported = "该交易不支持";

int statusOf(RequestMapper &mapper, const QByteArray &path)
{
    QByteArray bytes = "GET " + path + " HTTP/1.1\r\n\r\n";
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    HttpRequest request {ListenerConfig()};
    while (!request.isFinished() && device.bytesAvailable() > 0)
        request.readFromSocket(&device);
    QTcpSocket unconnected;
    HttpResponse response(&unconnected);
    mapper.service(request, response);
    return response.getStatusCode();
}

} // namespace

// Prefixes are case-sensitive (no document root here: files are 404). Reboot and the like never
// run without a login: "login" comes with a new session that is not logged in either.
void TestDispatch::routesAndGate_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("cookie"); // "failed": logged in, then a failed login
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("session"); // cookie of the reply: none, new, kept or login
    const auto row = [](const char *name, const QByteArray &path, const QByteArray &body,
                         const QByteArray &cookie, const QByteArray &reply, const char *session) {
        QTest::newRow(name) << path << body << cookie << reply << QByteArray(session);
    };
    row("login with more letters", "/command/login/x", "", "", "没有用户名", "none");
    row("login word in other case is a command", "/command/Login", "", "", "login", "new");
    row("command with more letters", "/commandx", "", "", "login", "new");
    row("face notice and more", "/FacePostMessage2?a=b", "", "", "", "none");
    row("face notice in lower case is a file", "/facepostmessage", "", "", "404 not found", "none");
    row("login fields in any order, the later of a name wins", "/command/login",
        "password=" + password + "&username=x&username=dorx", "", "OK", "login");
    row("empty password", "/command/login", "username=dorx&password=", "", "密码不能为空", "none");
    row("wrong password", "/command/login", "username=dorx&password=" + password.left(15) + '0', "",
        "login", "none");
    row("gated command without login", "/command/reboot", "isActive=?", "", "login", "new");
    row("ungated prefix in other letter case", "/command/Active", "isActive=?", "", "login", "new");
    row("ungated word later in the path", "/command/x/active", "isActive=?", "", "login", "new");
    row("forged cookie", "/command/operator_get", "", "{00000000-0000-0000-0000-000000000000}",
        "login", "new");
    row("failed login keeps the session", "/command/nosuchthing", "", "failed", unsupported,
        "kept");
    row("ungated device account, longer path", "/command/activex", "isActive=?", "", "isActive=0",
        "none");
}

void TestDispatch::routesAndGate()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, cookie);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, session);
    if (cookie == "failed") {
        cookie = server.post("/command/login", "username=dorx&password=" + password).sessionId;
        QCOMPARE(server.post("/command/login", "username=dorx&password=00", cookie).body, "login");
    }
    const ServerProcess::Reply answer = server.post(path, body, cookie);
    QCOMPARE(answer.body, reply);
    if (session == "none" || session == "kept") {
        QCOMPARE(answer.sessionId, session == "kept" ? cookie : QByteArray());
    } else {
        QVERIFY(!answer.sessionId.isEmpty() && answer.sessionId != cookie);
        QCOMPARE(server.post("/command/nosuchthing", "", answer.sessionId).body,
            session == "login" ? unsupported : QByteArray("login"));
    }
}

// While a command holds the mutex, ten more wait and a twelfth is refused with 503; a file
// passes the gate meanwhile.
void TestDispatch::admissionGateHoldsCommandsOnly()
{
    struct FileHandler : HttpRequestHandler
    {
        void service(HttpRequest &, HttpResponse &response) override { response.write("f", true); }
    } files;
    QSettings settings(server.filePath("mapper.ini"), QSettings::IniFormat);
    HttpSessionStore sessions(&settings);
    LoginThrottle throttle {LoginThrottleConfig()};
    RequestMapper mapper(&files, CommandContext {&sessions, QString(), &throttle});
    std::atomic<int> served {0};
    std::vector<std::unique_ptr<QThread>> threads;
    {
        QMutexLocker held(&mutex);
        for (int i = 0; i < 11; ++i) {
            threads.emplace_back(QThread::create([&] {
                if (statusOf(mapper, "/command/operator_get") == 200)
                    ++served;
            }));
            threads.back()->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(mutex_num), 11, 30000);
        QCOMPARE(QList<int>({statusOf(mapper, "/command/operator_get"),
                     statusOf(mapper, "/page.html"), int(mutex_num), served.load()}),
            QList<int>({503, 200, 11, 0}));
    }
    for (const auto &thread : threads)
        QVERIFY(thread->wait(30000));
    QCOMPARE(QList<int>({served.load(), int(mutex_num)}), QList<int>({11, 0}));
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "test_dispatch.moc"
