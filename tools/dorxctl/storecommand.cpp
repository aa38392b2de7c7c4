#include "storecommand.h"

#include "store/sqlite.h"

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
    for (const QString &command : commands) {
        Sqlite store;
        const QByteArray reply = store.dbus_pro(command).toUtf8() + '\n';
        std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
    }
    std::fflush(stdout);
    return 0;
}
