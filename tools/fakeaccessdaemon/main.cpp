#include "fakeaccessdaemon.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "fakeaccessdaemon: %s\n", qUtf8Printable(message));
    return 1;
}

// Adds "COMMAND=ANSWER" (split at the first "=") to answers; false when there is no "=".
bool addAnswer(const QString &line, QHash<QString, QString> *answers)
{
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    answers->insert(line.left(equals), line.mid(equals + 1));
    return true;
}

} // namespace

// Usage: see --help. Prints "ready" once it owns the service name, so whoever started it knows
// when calls can reach it.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the access daemon on the D-Bus session bus (service "
        "com.vadorx.access.service, object /vadorx/path, interface com.vadorx.access, method "
        "dbus_pro). Appends every command it receives to the log file and answers from a table; "
        "commands not in the table are answered \"0\"."));
    parser.addHelpOption();
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("File to which each command received is appended, one a line."),
        QStringLiteral("FILE"));
    const QCommandLineOption answerOption(QStringLiteral("answer"),
        QStringLiteral("Answer ANSWER to the command COMMAND, e.g. --answer ycqr.7.0.1.1=9; may "
                       "be repeated."),
        QStringLiteral("COMMAND=ANSWER"));
    const QCommandLineOption answersOption(QStringLiteral("answers"),
        QStringLiteral("File of COMMAND=ANSWER lines, read at start."), QStringLiteral("FILE"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
        QStringLiteral("Answer each command only after MS milliseconds."), QStringLiteral("MS"),
        QStringLiteral("0"));
    const QCommandLineOption hangOption(
        QStringLiteral("hang"), QStringLiteral("Note commands but never answer them."));
    parser.addOptions({logOption, answerOption, answersOption, delayOption, hangOption});
    parser.process(app);

    if (!parser.isSet(logOption))
        return fail(QStringLiteral("--log FILE is required"));
    QFile log(parser.value(logOption));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(QStringLiteral("cannot open %1: %2").arg(log.fileName(), log.errorString()));

    QHash<QString, QString> answers;
    if (parser.isSet(answersOption)) {
        QFile file(parser.value(answersOption));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(
                QStringLiteral("cannot open %1: %2").arg(file.fileName(), file.errorString()));
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (!line.isEmpty() && !addAnswer(line, &answers))
                return fail(
                    QStringLiteral("not COMMAND=ANSWER in %1: %2").arg(file.fileName(), line));
        }
    }
    for (const QString &answer : parser.values(answerOption)) {
        if (!addAnswer(answer, &answers))
            return fail(QStringLiteral("--answer needs COMMAND=ANSWER, not %1").arg(answer));
    }
    bool delayOk = false;
    int delayMs = parser.value(delayOption).toInt(&delayOk);
    if (!delayOk || delayMs < 0)
        return fail(QStringLiteral("--delay needs a number of milliseconds"));
    if (parser.isSet(hangOption))
        delayMs = -1;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
    FakeAccessDaemon daemon(&log, answers, delayMs);
    if (!bus.registerObject(
            QStringLiteral("/vadorx/path"), &daemon, QDBusConnection::ExportAllSlots))
        return fail(QStringLiteral("cannot offer /vadorx/path"));
    if (!bus.registerService(QStringLiteral("com.vadorx.access.service")))
        return fail(QStringLiteral("cannot own com.vadorx.access.service: %1")
                        .arg(bus.lastError().message()));
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
