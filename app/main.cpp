#include "app/globals.h"
#include "app/searchconfigfile.h"
#include "app/stopsignal.h"
#include "commands/accessdaemon.h"
#include "dispatch/requestmapper.h"
#include "httpserver/httplistener.h"
#include "httpserver/httpsessionstore.h"
#include "httpserver/staticfilecontroller.h"
#include "logging/filelogger.h"
#include "platform/platform.h"
#include "store/operatordb.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
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

// The access daemon is reached over the session bus; an installer who gave the server no bus
// address (or a wrong one) learns it here rather than from door actions that keep answering as if
// the daemon were absent. The probe is a connection of its own: the commands' connection is made
// when they first need it, so it still finds a bus that comes up after this process.
void warnWithoutSessionBus()
{
    const QString probeName = QStringLiteral("dorx-startup-probe");
    const QDBusConnection probe
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, probeName);
    if (!probe.isConnected())
        qWarning("No D-Bus session bus (%s): door and face actions answer as if the access daemon "
                 "were absent",
            qPrintable(probe.lastError().message()));
    QDBusConnection::disconnectFromBus(probeName);
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
    platform::configure(PlatformConfig::read(*settingsView("platform", &app)));

    // Before the listener: once a client can connect, a stop signal already ends the event loop
    // in order (it is acted on when the loop runs).
    new StopSignal(&app);
    auto *requestHandler = new RequestMapper(
        staticFileController, CommandContext {sessionStore, configFileName}, &app);
    auto *listener = new weblet::HttpListener(
        settingsView("listener", &app), quint16(qport.toUInt()), requestHandler, &app);

    // The event loop is not running yet, so no connection is served before this completes.
    OperatorDb::check_sql();
    Sqlite::Init();
    warnWithoutSessionBus();

    qWarning("Application has started");
    app.exec();
    qWarning("Application has stopped");
    // Handler threads may still be serving: they end with the listener, before the handlers
    // that they call are destroyed with the application object.
    delete listener;
    return 0;
}
