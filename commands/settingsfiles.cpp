#include "commands/txdeal.h"

#include "store/sqlite.h"

namespace {

// Device settings live beside the databases in the working directory and are opened afresh for
// every access, so a file changed by the access daemon is always read as it is now.
const char netSettingsFile[] = "netconfig.ini";

} // namespace

// "sqlconfig.ini" is shared with the store's own settings commands: one reader and one writer
// serve both.
QString TxDeal::read_userset(const QString &key)
{
    return Sqlite::read_userset(key);
}

bool TxDeal::write_userset(const QString &key, const QString &value)
{
    return Sqlite::write_userset(key, value);
}

QString TxDeal::read_netset(const QString &key)
{
    return Sqlite::read_settings_file(QString::fromLatin1(netSettingsFile), key);
}

// True only when the value reached the file.
bool TxDeal::write_netset(const QString &key, const QString &value)
{
    return Sqlite::write_settings_file(QString::fromLatin1(netSettingsFile), key, value);
}
