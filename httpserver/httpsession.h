#pragma once

#include <QByteArray>
#include <QMap>
#include <QVariant>

#include <functional>

namespace weblet {

// Handle to one client's session data; copies share the data, which lives until the last handle
// goes. A null handle (no data) ignores writes and reads as empty. Handles may be copied and
// destroyed in different threads; the data has a read-write lock of its own.
class HttpSession
{
public:
    // With canStore, a new session with a fresh braced UUID; otherwise a null session.
    explicit HttpSession(bool canStore = false);
    HttpSession(const HttpSession &other);
    HttpSession &operator=(const HttpSession &other);
    virtual ~HttpSession();

    QByteArray getId() const;
    bool isNull() const { return dataPtr == nullptr; }

    void set(const QByteArray &key, const QVariant &value);
    void remove(const QByteArray &key);
    QVariant get(const QByteArray &key) const;
    bool contains(const QByteArray &key) const;
    QMap<QByteArray, QVariant> getAll() const;

    qint64 getLastAccess() const;
    void setLastAccess();

private:
    friend class HttpSessionStore;
    struct HttpSessionData;
    static void release(HttpSessionData *data, const char *message);
    // watcher is called, outside the session's lock, after a set or remove that may have changed
    // whether the session holds any values.
    void setValuesWatcher(const std::function<void()> &watcher);

    HttpSessionData *dataPtr = nullptr;
};

} // namespace weblet
