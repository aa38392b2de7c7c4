#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>

class QSettings;

// Settings of the login throttle in the group "login", read once at start-up. The group also
// holds the device account ("name", "password") that /command/active writes; these keys all
// begin with "throttle", so they can never be taken for it.
struct LoginThrottleConfig
{
    int maxFailures = 5; // "throttleFailures": failed logins from one address ...
    int failureWindowMs = 600000; // "throttleWindow": ... within this many ms lock it out
    int firstLockoutMs = 60000; // "throttleLockout": the first lockout; each further one doubles
    int maxLockoutMs = 900000; // "throttleMaxLockout": no lockout lasts longer
    static LoginThrottleConfig read(const QSettings &group);
};

// Counts failed logins per client address, of the browser and of the management client alike,
// and refuses every login from an address that failed too often, for a time that doubles with
// each lockout. A refusal looks exactly like a wrong password, and nothing ever waits: a client
// that guesses is answered at once and learns nothing. Shared by all handler threads.
class LoginThrottle
{
public:
    using Clock = std::function<qint64()>; // milliseconds, never going back

    explicit LoginThrottle(const LoginThrottleConfig &config, Clock clock = Clock());

    // Whether the login of address with credentials that check() judges is accepted. While the
    // address is locked out, check is not even called.
    bool attempt(const QString &address, const std::function<bool()> &check);

private:
    struct Record
    {
        QList<qint64> failures; // within the window, oldest first
        qint64 lockedUntil = 0;
        int lockouts = 0; // since the last success or a quiet window
    };

    void recordFailure(const QString &address, qint64 now);
    bool isQuiet(const Record &record, qint64 now) const;
    void makeRoom(qint64 now);

    const LoginThrottleConfig config;
    const Clock clock;
    QMutex mutex; // guards records; never held while credentials are checked
    QHash<QString, Record> records;
};
