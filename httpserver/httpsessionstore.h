#pragma once

#include "httpserver/httpsession.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

class QSettings;

namespace weblet {

class HttpRequest;
class HttpResponse;

// Settings of the group "sessions", read once: handler threads use only this snapshot, never
// the QSettings object, which is not safe to share between threads.
struct SessionStoreConfig
{
    QByteArray cookieName = "sessionid"; // "cookieName"
    int expirationTime = 3600000; // "expirationTime": idle milliseconds before expiry
    QByteArray cookiePath; // "cookiePath": empty leaves "Path" out
    QByteArray cookieComment; // "cookieComment"
    QByteArray cookieDomain; // "cookieDomain"
    int maxSessions = 10000; // "maxSessions": live sessions at most, then the least used goes
    static SessionStoreConfig read(const QSettings &group);
};

// The sessions of all clients, found through the session cookie. Shared by every handler
// thread; the expiry scan runs in the thread that owns the store.
class HttpSessionStore : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpSessionStore)

public:
    HttpSessionStore(const QSettings *settings, QObject *parent = nullptr);
    ~HttpSessionStore() override;

    QByteArray getSessionId(HttpRequest &request, HttpResponse &response);
    HttpSession getSession(HttpRequest &request, HttpResponse &response, bool allowCreate = true);
    HttpSession getSession(const QByteArray &id);
    void removeSession(const HttpSession &session);

public slots:
    void sessionTimerEvent();

signals:
    // Emitted while the store's lock is held: a directly connected slot must not call the store.
    void sessionDeleted(const QByteArray &sessionId);

private:
    struct Registry;

    QByteArray liveSessionId(HttpRequest &request, HttpResponse &response) const;
    void setSessionCookie(HttpResponse &response, const QByteArray &id) const;
    void makeRoom();

    // The sessions and their order of use, with the lock that guards them. Shared with the
    // sessions themselves, which report through it when they gain or lose values, and may
    // outlive the store.
    const std::shared_ptr<Registry> registry;
    const SessionStoreConfig config;
    QTimer expiryTimer;
};

} // namespace weblet
