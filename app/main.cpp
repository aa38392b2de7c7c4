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
#include "platform/platform.h"
#include "store/operatordb.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QSettings>

#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

// The port of the command line, or 0 when it is not a decimal number from 1 to 65535.
quint16 portNumber(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    const uint port = text.toUInt(); // 0 when empty or beyond the range of uint
    return port <= 65535 ? quint16(port) : 0;
}

// Start-up failures end the process with a line on standard error, so that a service manager
// sees the reason and a non-zero status rather than a server that does not serve.
int startFailure(const QString &message)
{
    std::fprintf(stderr, "DORXWebOnDevice: %s\n", qUtf8Printable(message));
    return 1;
}

} // namespace

// Usage: DORXWebOnDevice <port>. Builds the long-lived objects in dependency order and serves
// until the process is stopped.
int main(int argc, char *argv[])
{
    // Qt's own event dispatcher: the glib one costs two extra wake-up writes per request, and
    // nothing here (D-Bus included) needs glib. Chosen before the application object exists.
    qputenv("QT_NO_GLIB", "1");
#ifdef __GLIBC__
    // Each of up to "maxThreads" handler threads would otherwise get a malloc arena of its own
    // (up to eight per core), and an arena keeps its memory when the thread ends. Commands run
    // one at a time, so two arenas cost nothing measurable and the memory of a load peak can
    // go back to the system.
    mallopt(M_ARENA_MAX, 2);
#endif
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return -1;

    qport = QString("%1").arg(app.arguments().at(1));
    const quint16 port = portNumber(qport);
    if (port == 0)
        return startFailure(
            QStringLiteral("the port must be a number from 1 to 65535, not \"%1\"").arg(qport));

    const QString executable = QCoreApplication::applicationFilePath().split('/').last();
    app.setApplicationName(executable.split('.').first());

    configFileName = searchConfigFile("DORXWebOnDevice");
    // A failed start like a taken port: status 1, not an abort with a core dump that a service
    // manager reports as a crash. The reason is on standard error already.
    if (configFileName.isEmpty())
        return 1;

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
    LoginThrottle loginThrottle(LoginThrottleConfig::read(*settingsView("login", &app)));
    auto *requestHandler = new RequestMapper(
        staticFileController, CommandContext {sessionStore, configFileName, &loginThrottle}, &app);
    auto *listener
        = new weblet::HttpListener(settingsView("listener", &app), port, requestHandler, &app);
    if (!listener->isListening())
        return startFailure(
            QStringLiteral("cannot listen on port %1: %2").arg(port).arg(listener->errorString()));

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
