#include "storecommand.h"

#include "store/sqlite.h"

#include <QFileInfo>

#include <cstdio>

// Each command gets a store object of its own, as the server gives one to each store command.
// The replies are those of the server's store, so a field engineer sees exactly what the command
// handlers would read; texts inside them are percent-encoded as the command language carries them.
int runStoreCommand(const QStringList &commands)
{
    if (commands.isEmpty()) {
        std::fputs(
            "dorxctl: store needs at least one store command, e.g. dorxctl store 80 1.4.17\n",
            stderr);
        return 2;
    }
    // The server creates both databases at start-up. Without them this is not the terminal's
    // working directory, and opening them would leave empty database files behind.
    for (const char *file : {"access_database.db", "record_database.db"}) {
        if (!QFileInfo(QString::fromLatin1(file)).isFile()) {
            std::fprintf(stderr,
                "dorxctl: no %s in the current directory; run store where the server keeps its "
                "databases\n",
                file);
            return 1;
        }
    }
    for (const QString &command : commands) {
        Sqlite store;
        const QByteArray reply = store.dbus_pro(command).toUtf8() + '\n';
        std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
    }
    std::fflush(stdout);
    return 0;
}
