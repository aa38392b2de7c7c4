#pragma once

#include <QDBusContext>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QString>

// The object the access daemon offers on the session bus at "/vadorx/path": one method,
// "dbus_pro", that takes a command text and answers a text. This one only notes each command at
// the end of a file and answers from a table; it may also answer late or never, as a daemon that
// hangs would.
class FakeAccessDaemon : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vadorx.access")

public:
    // Answers are looked up by the whole command; commands not in answers get "0". delayMs < 0
    // never answers, 0 answers at once. log must be open for appending.
    FakeAccessDaemon(QFile *log, const QHash<QString, QString> &answers, int delayMs);

public slots:
    QString dbus_pro(const QString &command);

private:
    QFile *log;
    QHash<QString, QString> answers;
    int delayMs;
};
