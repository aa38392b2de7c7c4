#include "app/searchconfigfile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

// The executable may sit beside its INI file (development), above an "etc" folder, or in a
// "bin" folder next to the installed "etc" of the package.
QString searchConfigFile(const QString &name)
{
    const QString dir = QCoreApplication::applicationDirPath();
    const QString fileName = name + QLatin1String(".ini");
    const QStringList searchList = {
        dir,
        dir + QLatin1String("/etc"),
        dir + QLatin1String("/../etc"),
        dir + QLatin1String("/../") + name + QLatin1String("/etc"),
        dir + QLatin1String("/../../") + name + QLatin1String("/etc"),
    };
    for (const QString &candidateDir : searchList) {
        const QFileInfo candidate(candidateDir + QLatin1Char('/') + fileName);
        if (candidate.exists()) {
            const QString found = candidate.canonicalFilePath();
            qDebug("Using config file %s", qPrintable(found));
            return found;
        }
    }
    for (const QString &candidateDir : searchList)
        qWarning("%s/%s not found", qPrintable(candidateDir), qPrintable(fileName));
    qCritical("Cannot find config file %s", qPrintable(fileName));
    return QString();
}
