// Part of the ThreadSanitizer build only (see the top CMakeLists): a shared library that every
// program of that build loads ahead of Qt.
//
// Debian's Qt is not instrumented, and QMutex (QRecursiveMutex with it) and QReadWriteLock lock
// and unlock inside Qt, on futexes that ThreadSanitizer cannot see: it would know nothing of our
// locks, and every variable they guard would look raced whenever two threads met at a lock. Nor
// would it know that QThread::wait() returns only after the thread has ended. The definitions
// below stand in for Qt's functions wherever our code calls them: each calls Qt's own and tells
// ThreadSanitizer what it did, through its annotations. Qt's calls inside its own library still
// reach its own functions, and the calls of every other shared library go straight on to Qt's
// (see fromLibrary); what that hides is suppressed in tsan.supp.

#include <QMutex>
#include <QReadWriteLock>
#include <QThread>

#include <sanitizer/tsan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
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

// Every shared library reaches these definitions too, through the dynamic linker: Qt's others
// and its plugins, which release some of their locks through code of Qt's headers compiled into
// them, never coming here, so ThreadSanitizer would see locks held for ever or released twice.
// Only the program's own locks are told: our code, linked into it statically.
bool fromLibrary(const void *caller)
{
    struct Segment
    {
        uintptr_t begin, end;
    };
    static const std::vector<Segment> program = [] {
        std::vector<Segment> segments;
        dl_iterate_phdr(
            [](dl_phdr_info *object, size_t, void *found) {
                for (int i = 0; i < object->dlpi_phnum; ++i) {
                    const ElfW(Phdr) &header = object->dlpi_phdr[i];
                    if (header.p_type == PT_LOAD) {
                        const uintptr_t begin = object->dlpi_addr + header.p_vaddr;
                        static_cast<std::vector<Segment> *>(found)->push_back(
                            {begin, begin + header.p_memsz});
                    }
                }
                return 1; // the first object is the program itself
            },
            &segments);
        return segments;
    }();
    const auto address = reinterpret_cast<uintptr_t>(caller);
    return std::none_of(program.begin(), program.end(),
        [address](const Segment &s) { return address >= s.begin && address < s.end; });
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

// The locks this thread holds that ThreadSanitizer was told of: an unlock is told exactly when
// its lock was, whoever calls it (a library's function may end by jumping to the unlock, which
// then seems called from the program). QReadWriteLock::unlock() releases either kind, but
// ThreadSanitizer must be told which; our read-write locks are never recursive.
thread_local std::vector<const void *> heldForWriting; // mutexes too
thread_local std::vector<const void *> heldForReading;

bool release(std::vector<const void *> &held, const void *lock)
{
    const auto found = std::find(held.begin(), held.end(), lock);
    if (found == held.end())
        return false;
    held.erase(found);
    return true;
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this);
    annotatedLock(this, reentrancy(this), [this] {
        own(this);
        return true;
    });
    heldForWriting.push_back(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this, timeout);
    const bool locked = annotatedLock(this, reentrancy(this) | __tsan_mutex_try_lock,
        [this, timeout] { return own(this, timeout); });
    if (locked)
        heldForWriting.push_back(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    if (!release(heldForWriting, this))
        return own(this);
    annotatedUnlock(this, 0, [this] { own(this); });
}

void QReadWriteLock::lockForRead()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this);
    annotatedLock(this, __tsan_mutex_read_lock, [this] {
        own(this);
        return true;
    });
    heldForReading.push_back(this);
}

bool QReadWriteLock::tryLockForRead()
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock14tryLockForReadEv");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this);
    return tryLockForRead(0);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this, timeout);
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
    if (fromLibrary(__builtin_return_address(0)))
        return own(this);
    annotatedLock(this, 0, [this] {
        own(this);
        return true;
    });
    heldForWriting.push_back(this);
}

bool QReadWriteLock::tryLockForWrite()
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this);
    return tryLockForWrite(0);
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto own
        = qtOwn<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    if (fromLibrary(__builtin_return_address(0)))
        return own(this, timeout);
    const bool locked = annotatedLock(
        this, __tsan_mutex_try_lock, [this, timeout] { return own(this, timeout); });
    if (locked)
        heldForWriting.push_back(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    static const auto own = qtOwn<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    const bool reading = release(heldForReading, this);
    if (!reading && !release(heldForWriting, this))
        return own(this);
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
