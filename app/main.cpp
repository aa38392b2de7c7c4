#include "app/globals.h"
#include "app/searchconfigfile.h"
#include "app/stopsignal.h"
#include "commands/accessdaemon.h"
#include "commands/loginthrottle.h"
#include "dispatch/requestmapper.h"
#include "httpserver/httplistener.h"
#include "httpserver/httpsessionstore.h"
#include "httpserver/staticfilecontroller.h"
#include "logging/filelogger.h"
#include "store/operatordb.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

// A view on one group of the configuration file, owned by the application object.
QSettings *settingsView(const QString &group, QObject *parent)
{
    QSettings *view = new QSettings(configFileName, QSettings::IniFormat, parent);
    view->setIniCodec("UTF-8");
    view->beginGroup(group);
    return view;
}

} // namespace

// Usage: DORXWebOnDevice <port>. Builds the long-lived objects in dependency order and serves
// until the process is stopped.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return -1;

    qport = QString("%1").arg(app.arguments().at(1));

    const QString executable = QCoreApplication::applicationFilePath().split('/').last();
    app.setApplicationName(executable.split('.').first());

    configFileName = searchConfigFile("DORXWebOnDevice");

    // From here on every diagnostic of every thread goes to the file logger.
    auto *logger = new weblet::FileLogger(settingsView("logging", &app), 10000, &app);
    logger->installMsgHandler();

    sessionStore = new weblet::HttpSessionStore(settingsView("sessions", &app), &app);

    staticFileController = new weblet::StaticFileController(settingsView("docroot", &app), &app);

    accessdaemon::configure(DaemonConfig::read(*settingsView("daemon", &app)));

    // Before the listener: once a client can connect, a stop signal already ends the event loop
    // in order (it is acted on when the loop runs).
    new StopSignal(&app);
    LoginThrottle loginThrottle(LoginThrottleConfig::read(*settingsView("login", &app)));
    auto *requestHandler = new RequestMapper(
        staticFileController, CommandContext {sessionStore, configFileName, &loginThrottle}, &app);
    auto *listener = new weblet::HttpListener(
        settingsView("listener", &app), quint16(qport.toUInt()), requestHandler, &app);

    // The event loop is not running yet, so no connection is served before this completes.
    OperatorDb::check_sql();
    Sqlite::Init();

    qWarning("Application has started");
    app.exec();
    qWarning("Application has stopped");
    // Handler threads may still be serving: they end with the listener, before the handlers
    // that they call are destroyed with the application object.
    delete listener;
    return 0;
}
