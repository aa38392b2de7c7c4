// Part of the ThreadSanitizer build only (see the top CMakeLists): a shared library that every
// program of that build loads ahead of Qt.
//
// Debian's Qt is not instrumented, and QMutex (QRecursiveMutex with it) and QReadWriteLock lock
// and unlock inside Qt, on futexes that ThreadSanitizer cannot see: it would know nothing of our
// locks, and every variable they guard would look raced whenever two threads met at a lock. Nor
// would it know that QThread::wait() returns only after the thread has ended. The definitions
// below stand in for Qt's functions wherever our code calls them: each calls Qt's own and tells
// ThreadSanitizer what it did, through its annotations. Qt's calls inside its own library still
// reach its own functions; what that hides is suppressed in tsan.supp.

#include <QMutex>
#include <QReadWriteLock>
#include <QThread>

#include <sanitizer/tsan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <vector>

namespace {

// Qt's own definition of the function with this mangled name; nothing can go on without it.
template<typename Function> Function qtOwn(const char *mangledName)
{
    void *symbol = dlsym(RTLD_NEXT, mangledName);
    if (!symbol) {
        fprintf(stderr, "tsanqtlocks: Qt has no %s\n", mangledName);
        abort();
    }
    return reinterpret_cast<Function>(symbol);
}

// Runs Qt's locking call, which tells whether it locked, between the annotations; flags as
// ThreadSanitizer's interface defines them for a lock.
template<typename QtLock> bool annotatedLock(void *lock, unsigned flags, QtLock qtLock)
{
    __tsan_mutex_pre_lock(lock, flags);
    const bool locked = qtLock();
    __tsan_mutex_post_lock(lock, flags | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return locked;
}

template<typename QtUnlock> void annotatedUnlock(void *lock, unsigned flags, QtUnlock qtUnlock)
{
    __tsan_mutex_pre_unlock(lock, flags);
    qtUnlock();
    __tsan_mutex_post_unlock(lock, flags);
}

// A program that found Qt's lock functions before these would run without a word of its locks
// reaching ThreadSanitizer, and report races that are none.
__attribute__((constructor)) void checkLoadedAheadOfQt()
{
    if (dlsym(RTLD_DEFAULT, "_ZN6QMutex4lockEv") == dlsym(RTLD_NEXT, "_ZN6QMutex4lockEv")) {
        fprintf(stderr, "tsanqtlocks: loaded after Qt; link it ahead of Qt\n");
        abort();
    }
}

unsigned reentrancy(const QMutex *mutex)
{
    return mutex->isRecursive() ? __tsan_mutex_write_reentrant : 0;
}

// The read-write locks this thread holds for reading: QReadWriteLock::unlock() releases either
// kind, but ThreadSanitizer must be told which. Our read-write locks are never recursive.
thread_local std::vector<const QReadWriteLock *> heldForReading;

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    annotatedLock(this, reentrancy(this), [this] {
        own(this);
        return true;
    });
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    return annotatedLock(this, reentrancy(this) | __tsan_mutex_try_lock,
        [this, timeout] { return own(this, timeout); });
}

void QMutex::unlock() noexcept
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    annotatedUnlock(this, 0, [this] { own(this); });
}

void QReadWriteLock::lockForRead()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    annotatedLock(this, __tsan_mutex_read_lock, [this] {
        own(this);
        return true;
    });
    heldForReading.push_back(this);
}

bool QReadWriteLock::tryLockForRead()
{
    return tryLockForRead(0);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = annotatedLock(this, __tsan_mutex_read_lock | __tsan_mutex_try_lock,
        [this, timeout] { return own(this, timeout); });
    if (locked)
        heldForReading.push_back(this);
    return locked;
}

void QReadWriteLock::lockForWrite()
{
    static const auto own
        = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    annotatedLock(this, 0, [this] {
        own(this);
        return true;
    });
}

bool QReadWriteLock::tryLockForWrite()
{
    return tryLockForWrite(0);
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    return annotatedLock(
        this, __tsan_mutex_try_lock, [this, timeout] { return own(this, timeout); });
}

void QReadWriteLock::unlock()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    const auto held = std::find(heldForReading.begin(), heldForReading.end(), this);
    const bool reading = held != heldForReading.end();
    if (reading)
        heldForReading.erase(held);
    annotatedUnlock(this, reading ? __tsan_mutex_read_lock : 0, [this] { own(this); });
}

// Everything the thread did before it emits finished(), in the slots connected before it was
// started too, happens before wait() returns true.
void QThread::start(Priority priority)
{
    static const auto own = qtOwn<void (*)(QThread *, Priority)>("_ZN7QThread5startENS_8PriorityE");
    connect(this, &QThread::finished, [this] { __tsan_release(this); });
    own(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto own
        = qtOwn<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = own(this, deadline);
    if (ended)
        __tsan_acquire(this);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto own = qtOwn<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = own(this, time);
    if (ended)
        __tsan_acquire(this);
    return ended;
}
