#include "commands/loginthrottle.h"

#include <QElapsedTimer>
#include <QSettings>

#include <algorithm>

namespace {

// Addresses followed at once; beyond them the one quiet for longest is forgotten first.
constexpr int mostAddresses = 10000;

qint64 monotonicMs()
{
    static const QElapsedTimer start = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return start.elapsed();
}

} // namespace

LoginThrottleConfig LoginThrottleConfig::read(const QSettings &group)
{
    LoginThrottleConfig config;
    config.maxFailures = qMax(1, group.value("throttleFailures", config.maxFailures).toInt());
    config.failureWindowMs = group.value("throttleWindow", config.failureWindowMs).toInt();
    config.firstLockoutMs = group.value("throttleLockout", config.firstLockoutMs).toInt();
    config.maxLockoutMs = group.value("throttleMaxLockout", config.maxLockoutMs).toInt();
    return config;
}

// clock defaults to a monotonic one, so a change of the device's date neither lifts nor extends
// a lockout.
LoginThrottle::LoginThrottle(const LoginThrottleConfig &config, Clock clock)
    : config(config)
    , clock(clock ? std::move(clock) : Clock(monotonicMs))
{ }

bool LoginThrottle::attempt(const QString &address, const std::function<bool()> &check)
{
    {
        QMutexLocker locker(&mutex);
        const auto it = records.constFind(address);
        if (it != records.constEnd() && clock() < it->lockedUntil) {
            qDebug("LoginThrottle: refused a login from %s", qUtf8Printable(address));
            return false;
        }
    }
    const bool accepted = check();
    QMutexLocker locker(&mutex);
    if (accepted)
        records.remove(address);
    else
        recordFailure(address, clock());
    return accepted;
}

// The caller holds the mutex.
void LoginThrottle::recordFailure(const QString &address, qint64 now)
{
    if (!records.contains(address))
        makeRoom(now);
    Record &record = records[address];
    if (isQuiet(record, now))
        record = Record();
    while (!record.failures.isEmpty() && now - record.failures.first() > config.failureWindowMs)
        record.failures.removeFirst();
    record.failures << now;
    if (record.failures.size() < config.maxFailures)
        return;
    const qint64 lockout = std::min<qint64>(
        qint64(config.firstLockoutMs) << std::min(record.lockouts, 30), config.maxLockoutMs);
    record.lockedUntil = now + lockout;
    ++record.lockouts;
    record.failures.clear();
    qWarning("LoginThrottle: %d failed logins from %s; its logins are refused for %lld s",
        config.maxFailures, qUtf8Printable(address), (lockout + 999) / 1000);
}

// Quiet for a whole window after its last failure and its last lockout: the address starts
// afresh.
bool LoginThrottle::isQuiet(const Record &record, qint64 now) const
{
    const qint64 lastFailure = record.failures.isEmpty() ? 0 : record.failures.last();
    return now - std::max(lastFailure, record.lockedUntil) > config.failureWindowMs;
}

// Many addresses failing at once must not grow the records without bound. The caller holds the
// mutex.
void LoginThrottle::makeRoom(qint64 now)
{
    if (records.size() < mostAddresses)
        return;
    for (auto it = records.begin(); it != records.end();)
        it = isQuiet(it.value(), now) ? records.erase(it) : std::next(it);
    if (records.size() < mostAddresses)
        return;
    const auto lastEvent = [](const Record &record) {
        return std::max(record.failures.isEmpty() ? 0 : record.failures.last(), record.lockedUntil);
    };
    records.erase(std::min_element(records.begin(), records.end(),
        [&](const Record &a, const Record &b) { return lastEvent(a) < lastEvent(b); }));
}
