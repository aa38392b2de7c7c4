#include "httpserver/httpsession.h"

#include <QDateTime>
#include <QReadWriteLock>
#include <QUuid>

namespace weblet {

struct HttpSession::HttpSessionData
{
    QByteArray id;
    qint64 lastAccess = 0; // milliseconds since the epoch
    int refCount = 1; // handles sharing this data
    QReadWriteLock lock; // guards every field
    QMap<QByteArray, QVariant> values;
    std::function<void()> valuesWatcher; // the store that keeps this session, if any
};

HttpSession::HttpSession(bool canStore)
{
    if (!canStore)
        return;
    dataPtr = new HttpSessionData;
    dataPtr->id = QUuid::createUuid().toByteArray();
    dataPtr->lastAccess = QDateTime::currentMSecsSinceEpoch();
}

HttpSession::HttpSession(const HttpSession &other)
    : dataPtr(other.dataPtr)
{
    if (dataPtr) {
        QWriteLocker locker(&dataPtr->lock);
        ++dataPtr->refCount;
    }
}

// Taking over a session counts as using it, so its last access moves to now.
HttpSession &HttpSession::operator=(const HttpSession &other)
{
    HttpSessionData *const old = dataPtr;
    dataPtr = other.dataPtr;
    if (dataPtr) {
        QWriteLocker locker(&dataPtr->lock);
        ++dataPtr->refCount;
        dataPtr->lastAccess = QDateTime::currentMSecsSinceEpoch();
    }
    release(old, "HttpSession: deleting old data");
    return *this;
}

HttpSession::~HttpSession()
{
    release(dataPtr, "HttpSession: deleting data");
}

// Drops one handle's share of data; the last share deletes it (outside its lock, which goes
// with it) and logs message.
void HttpSession::release(HttpSessionData *data, const char *message)
{
    if (!data)
        return;
    bool last;
    {
        QWriteLocker locker(&data->lock);
        last = --data->refCount == 0;
    }
    if (last) {
        qDebug("%s", message);
        delete data;
    }
}

QByteArray HttpSession::getId() const
{
    return dataPtr ? dataPtr->id : QByteArray();
}

void HttpSession::set(const QByteArray &key, const QVariant &value)
{
    if (!dataPtr)
        return;
    std::function<void()> watcher;
    {
        QWriteLocker locker(&dataPtr->lock);
        if (dataPtr->values.isEmpty())
            watcher = dataPtr->valuesWatcher;
        dataPtr->values.insert(key, value);
    }
    if (watcher)
        watcher();
}

void HttpSession::remove(const QByteArray &key)
{
    if (!dataPtr)
        return;
    std::function<void()> watcher;
    {
        QWriteLocker locker(&dataPtr->lock);
        if (dataPtr->values.remove(key) > 0 && dataPtr->values.isEmpty())
            watcher = dataPtr->valuesWatcher;
    }
    if (watcher)
        watcher();
}

void HttpSession::setValuesWatcher(const std::function<void()> &watcher)
{
    if (dataPtr) {
        QWriteLocker locker(&dataPtr->lock);
        dataPtr->valuesWatcher = watcher;
    }
}

// An invalid QVariant when the key is absent or the session is null.
QVariant HttpSession::get(const QByteArray &key) const
{
    if (!dataPtr)
        return QVariant();
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values.value(key);
}

bool HttpSession::contains(const QByteArray &key) const
{
    if (!dataPtr)
        return false;
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values.contains(key);
}

QMap<QByteArray, QVariant> HttpSession::getAll() const
{
    if (!dataPtr)
        return {};
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values;
}

// Milliseconds since the epoch; 0 for a null session.
qint64 HttpSession::getLastAccess() const
{
    if (!dataPtr)
        return 0;
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->lastAccess;
}

void HttpSession::setLastAccess()
{
    if (dataPtr) {
        QWriteLocker locker(&dataPtr->lock);
        dataPtr->lastAccess = QDateTime::currentMSecsSinceEpoch();
    }
}

} // namespace weblet
