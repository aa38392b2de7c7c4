#include "commands/txdeal.h"

#include "store/sqlite.h"

// Every command reaches the access-control data through the store command language; a store
// object lives for one command, so nothing of a database stays open between commands.
QString TxDeal::send_dbus(quint8 table, quint8 operation, const QString &text)
{
    const QString command = QStringLiteral("%1.%2.%3").arg(table).arg(operation).arg(text);
    Sqlite store;
    const QString reply = store.dbus_pro(command);
    qDebug("sql cmd:%s", qUtf8Printable(command));
    qDebug("sql recv:%s", qUtf8Printable(reply));
    return reply;
}
