#include "httpserver/httpsessionstore.h"

#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "logging/redact.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSettings>

#include <map>

namespace weblet {

namespace {

// Fixed: the idle time is configurable, the scan period is not.
const int expiryScanIntervalMs = 60000;

} // namespace

SessionStoreConfig SessionStoreConfig::read(const QSettings &group)
{
    SessionStoreConfig config;
    config.cookieName
        = group.value("cookieName", QString::fromUtf8(config.cookieName)).toString().toUtf8();
    config.expirationTime = group.value("expirationTime", config.expirationTime).toInt();
    config.cookiePath = group.value("cookiePath").toString().toUtf8();
    config.cookieComment = group.value("cookieComment").toString().toUtf8();
    config.cookieDomain = group.value("cookieDomain").toString().toUtf8();
    config.maxSessions = qMax(1, group.value("maxSessions", config.maxSessions).toInt());
    return config;
}

// Every live session by id, and the same sessions by their last use through the store, oldest
// first: one order for the sessions that hold no values and one for those that do, so the session
// to make room is always the first of one order, found without looking at any other.
struct HttpSessionStore::Registry
{
    struct Entry
    {
        HttpSession session;
        quint64 lastUse = 0; // its key in byUse[holdsValues]
        bool holdsValues = false;
    };

    void add(const HttpSession &session)
    {
        const quint64 use = ++uses;
        sessions.insert(session.getId(), Entry {session, use, false});
        byUse[false].emplace(use, session.getId());
    }

    void touch(const QByteArray &id)
    {
        const auto it = sessions.find(id);
        Q_ASSERT(it != sessions.end());
        byUse[it->holdsValues].erase(it->lastUse);
        it->lastUse = ++uses;
        byUse[it->holdsValues].emplace(it->lastUse, id);
    }

    // Moves the session to the order that matches its values now; a session no longer stored
    // is left alone.
    void reclassify(const QByteArray &id)
    {
        const auto it = sessions.find(id);
        if (it == sessions.end())
            return;
        const bool holdsValues = !it->session.getAll().isEmpty();
        if (holdsValues == it->holdsValues)
            return;
        byUse[it->holdsValues].erase(it->lastUse);
        it->holdsValues = holdsValues;
        byUse[holdsValues].emplace(it->lastUse, id);
    }

    void remove(const QByteArray &id)
    {
        const auto it = sessions.find(id);
        if (it == sessions.end())
            return;
        byUse[it->holdsValues].erase(it->lastUse);
        sessions.erase(it);
        Q_ASSERT(size_t(sessions.size()) == byUse[false].size() + byUse[true].size());
    }

    // The least recently used session that holds no values, else the least recently used one.
    QByteArray leastValuable() const
    {
        Q_ASSERT(!sessions.isEmpty());
        return byUse[false].empty() ? byUse[true].begin()->second : byUse[false].begin()->second;
    }

    QMutex mutex; // guards everything below
    QHash<QByteArray, Entry> sessions;
    std::map<quint64, QByteArray> byUse[2]; // [holds values]: id by last use
    quint64 uses = 0; // last use given out
};

HttpSessionStore::HttpSessionStore(const QSettings *settings, QObject *parent)
    : QObject(parent)
    , registry(std::make_shared<Registry>())
    , config(SessionStoreConfig::read(*settings))
    , expiryTimer(this)
{
    connect(&expiryTimer, &QTimer::timeout, this, &HttpSessionStore::sessionTimerEvent);
    expiryTimer.start(expiryScanIntervalMs);
    qDebug("HttpSessionStore: Sessions expire after %i milliseconds", config.expirationTime);
}

HttpSessionStore::~HttpSessionStore()
{
    expiryTimer.stop();
}

// Id of the live session named by the cookie this response already sets (a session created
// earlier while serving the same request) or else by the request's cookie; empty when neither
// names a stored session. The caller holds the mutex.
QByteArray HttpSessionStore::liveSessionId(HttpRequest &request, HttpResponse &response) const
{
    QByteArray id = response.getCookies().value(config.cookieName).getValue();
    if (id.isEmpty())
        id = request.getCookie(config.cookieName);
    if (!id.isEmpty() && !registry->sessions.contains(id)) {
        qDebug("HttpSessionStore: received invalid session cookie with ID %s",
            redact::sessionId(id).constData());
        id.clear();
    }
    return id;
}

// Id of the caller's live session, or empty.
QByteArray HttpSessionStore::getSessionId(HttpRequest &request, HttpResponse &response)
{
    QMutexLocker locker(&registry->mutex);
    return liveSessionId(request, response);
}

// The caller's session, refreshed, with its cookie (re)set on the response so the browser's
// expiry moves along; with allowCreate a new session when the caller has none, otherwise a null
// session and no cookie.
HttpSession HttpSessionStore::getSession(
    HttpRequest &request, HttpResponse &response, bool allowCreate)
{
    QMutexLocker locker(&registry->mutex);
    const QByteArray id = liveSessionId(request, response);
    if (!id.isEmpty()) {
        registry->touch(id);
        HttpSession session = registry->sessions.value(id).session;
        setSessionCookie(response, id);
        session.setLastAccess();
        return session;
    }
    if (!allowCreate)
        return HttpSession();
    makeRoom();
    HttpSession session(true);
    qDebug("HttpSessionStore: create new session with ID %s",
        redact::sessionId(session.getId()).constData());
    registry->add(session);
    // The session tells the store when it gains or loses values, so that the store knows which
    // sessions may go first without asking each of them.
    session.setValuesWatcher([weak = std::weak_ptr<Registry>(registry), id = session.getId()] {
        if (const std::shared_ptr<Registry> registry = weak.lock()) {
            QMutexLocker locker(&registry->mutex);
            registry->reclassify(id);
        }
    });
    setSessionCookie(response, session.getId());
    return session;
}

// The stored session of that id, refreshed; a null session when there is none.
HttpSession HttpSessionStore::getSession(const QByteArray &id)
{
    QMutexLocker locker(&registry->mutex);
    const auto it = registry->sessions.constFind(id);
    if (it == registry->sessions.constEnd())
        return HttpSession();
    HttpSession session = it->session;
    registry->touch(id);
    session.setLastAccess();
    return session;
}

// Logout: the store forgets the session; handles held elsewhere keep its data until they go.
void HttpSessionStore::removeSession(const HttpSession &session)
{
    QMutexLocker locker(&registry->mutex);
    emit sessionDeleted(session.getId());
    registry->remove(session.getId());
}

// Removes every session idle for longer than the expiration time.
void HttpSessionStore::sessionTimerEvent()
{
    QMutexLocker locker(&registry->mutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QList<QByteArray> expired;
    for (auto it = registry->sessions.cbegin(); it != registry->sessions.cend(); ++it) {
        if (now - it->session.getLastAccess() > config.expirationTime)
            expired << it.key();
    }
    for (const QByteArray &id : expired) {
        qDebug("HttpSessionStore: session %s expired", redact::sessionId(id).constData());
        emit sessionDeleted(id);
        registry->remove(id);
    }
}

// Every request to a gated path without a cookie creates a session, so a flood of such requests
// would otherwise grow the store for a whole expiration time. When it is full, the session unused
// for longest goes, preferring one that holds no values: a logged-in operator keeps his session
// while a client that never logged in fills the store. The caller holds the mutex.
void HttpSessionStore::makeRoom()
{
    if (registry->sessions.size() < config.maxSessions)
        return;
    const QByteArray victim = registry->leastValuable();
    qDebug("HttpSessionStore: too many sessions, dropping session %s",
        redact::sessionId(victim).constData());
    emit sessionDeleted(victim);
    registry->remove(victim);
}
void HttpSessionStore::setSessionCookie(HttpResponse &response, const QByteArray &id) const
{
    response.setCookie(HttpCookie(config.cookieName, id, config.expirationTime / 1000,
        config.cookiePath, config.cookieComment, config.cookieDomain, false, false, "Lax"));
}

} // namespace weblet
