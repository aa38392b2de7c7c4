#include "commands/txdeal.h"

#include <QSettings>

namespace {

// Device settings live beside the databases in the working directory and are opened afresh for
// every access, so a file changed by the access daemon is always read as it is now.
const char userSettingsFile[] = "sqlconfig.ini";
const char netSettingsFile[] = "netconfig.ini";

QString readSetting(const char *fileName, const QString &key)
{
    QSettings settings(QString::fromLatin1(fileName), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(key).toString();
}

// True only when the value reached the file.
bool writeSetting(const char *fileName, const QString &key, const QVariant &value)
{
    QSettings settings(QString::fromLatin1(fileName), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qWarning("TxDeal: cannot write %s to %s", qUtf8Printable(key), fileName);
        return false;
    }
    return true;
}

} // namespace

QString TxDeal::read_userset(const QString &key)
{
    return readSetting(userSettingsFile, key);
}

bool TxDeal::write_userset(const QString &key, const QVariant &value)
{
    return writeSetting(userSettingsFile, key, value);
}

QString TxDeal::read_netset(const QString &key)
{
    return readSetting(netSettingsFile, key);
}

bool TxDeal::write_netset(const QString &key, const QVariant &value)
{
    return writeSetting(netSettingsFile, key, value);
}
