#include "storecommand.h"

#include "console.h"
#include "replies.h"
#include "store/sqlite.h"

#include <QFileInfo>

#include <cstdio>

// Each command gets a store object of its own, as the server gives one to each store command.
// The replies are those of the server's store, so a field engineer sees exactly what the command
// handlers would read; texts inside them are percent-encoded as the command language carries them.
int runStoreCommand(const QStringList &commands)
{
    if (commands.isEmpty())
        return fail(ExitUsage,
            QStringLiteral("store needs at least one store command, e.g. dorxctl store 80 1.4.17"));
    // The server creates both databases at start-up. Without them this is not the terminal's
    // working directory, and opening them would leave empty database files behind.
    for (const char *file : {"access_database.db", "record_database.db"}) {
        if (!QFileInfo(QString::fromLatin1(file)).isFile())
            return fail(ExitFailed,
                QStringLiteral("no %1 in the current directory; run store where the server keeps "
                               "its databases")
                    .arg(QLatin1String(file)));
    }
    int status = ExitDone;
    for (const QString &command : commands) {
        Sqlite store;
        const QString reply = store.dbus_pro(command);
        // One line per reply whatever the reply ends with, so the lines match the commands.
        const QByteArray line = reply.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
        if (replies::ofStore(command, reply) != ExitDone)
            status = ExitRefused;
    }
    return status;
}
