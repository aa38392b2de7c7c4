#include "httpserver/httpsessionstore.h"

#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"

#include "logging/redact.h"

#include <QDateTime>
#include <QSettings>

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

HttpSessionStore::HttpSessionStore(const QSettings *settings, QObject *parent)
    : QObject(parent)
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
    if (!id.isEmpty() && !sessions.contains(id)) {
        qDebug("HttpSessionStore: received invalid session cookie with ID %s",
            redact::sessionId(id).constData());
        id.clear();
    }
    return id;
}

// Id of the caller's live session, or empty.
QByteArray HttpSessionStore::getSessionId(HttpRequest &request, HttpResponse &response)
{
    QMutexLocker locker(&mutex);
    return liveSessionId(request, response);
}

// The caller's session, refreshed, with its cookie (re)set on the response so the browser's
// expiry moves along; with allowCreate a new session when the caller has none, otherwise a null
// session and no cookie.
HttpSession HttpSessionStore::getSession(
    HttpRequest &request, HttpResponse &response, bool allowCreate)
{
    QMutexLocker locker(&mutex);
    const QByteArray id = liveSessionId(request, response);
    if (!id.isEmpty()) {
        HttpSession session = sessions.value(id);
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
    sessions.insert(session.getId(), session);
    setSessionCookie(response, session.getId());
    return session;
}

// The stored session of that id, refreshed; a null session when there is none.
HttpSession HttpSessionStore::getSession(const QByteArray &id)
{
    QMutexLocker locker(&mutex);
    HttpSession session = sessions.value(id);
    session.setLastAccess();
    return session;
}

// Logout: the store forgets the session; handles held elsewhere keep its data until they go.
void HttpSessionStore::removeSession(const HttpSession &session)
{
    QMutexLocker locker(&mutex);
    emit sessionDeleted(session.getId());
    sessions.remove(session.getId());
}

// Removes every session idle for longer than the expiration time.
void HttpSessionStore::sessionTimerEvent()
{
    QMutexLocker locker(&mutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (now - it.value().getLastAccess() > config.expirationTime) {
            const QByteArray id = it.key();
            qDebug("HttpSessionStore: session %s expired", redact::sessionId(id).constData());
            emit sessionDeleted(id);
            it = sessions.erase(it);
        } else {
            ++it;
        }
    }
}

// Every request to a gated path without a cookie creates a session, so a flood of such requests
// would otherwise grow the store for a whole expiration time. When it is full, the session unused
// for longest goes, preferring one that holds no values: a logged-in operator keeps his session
// while a client that never logged in fills the store. The caller holds the mutex.
void HttpSessionStore::makeRoom()
{
    if (sessions.size() < config.maxSessions)
        return;
    auto victim = sessions.end();
    bool victimEmpty = false;
    qint64 victimAccess = 0;
    for (auto it = sessions.begin(); it != sessions.end(); ++it) {
        const bool empty = it.value().getAll().isEmpty();
        const qint64 access = it.value().getLastAccess();
        if (victim == sessions.end() || (empty && !victimEmpty)
            || (empty == victimEmpty && access < victimAccess)) {
            victim = it;
            victimEmpty = empty;
            victimAccess = access;
        }
    }
    qDebug("HttpSessionStore: too many sessions, dropping session %s",
        redact::sessionId(victim.key()).constData());
    emit sessionDeleted(victim.key());
    sessions.erase(victim);
}

void HttpSessionStore::setSessionCookie(HttpResponse &response, const QByteArray &id) const
{
    response.setCookie(HttpCookie(config.cookieName, id, config.expirationTime / 1000,
        config.cookiePath, config.cookieComment, config.cookieDomain, false, false, "Lax"));
}

} // namespace weblet
