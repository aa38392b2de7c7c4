#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class QTcpSocket;

// The real DORXWebOnDevice executable, copied into a temporary directory (also its working
// directory, so every file it writes vanishes with the fixture) with an INI file beside it,
// listening on a free loopback port.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess() { stop(); }

    QString dir() const { return tempDir.path(); }
    QString filePath(const QString &name) const { return tempDir.filePath(name); }
    // Writes DORXWebOnDevice.ini; unless iniText sets them, the listener's host is 127.0.0.1 and
    // the platform layer's shell and network file are the recording stand-ins in dir(), so that no
    // test ever reboots, re-times or re-addresses the machine.
    void writeConfig(const QString &iniText);
    // The commands the server gave the recording shell so far, in order.
    QStringList shellLog() const;
    // Writes a file below dir(), creating its folders.
    void writeFile(const QString &relativePath, const QByteArray &content);
    // The D-Bus session bus the server is given. Without one, and without an address of the test's
    // own in the process environment, it gets one where nothing listens: never the machine's bus.
    void useBus(const QString &address) { busAddress = address; }

    // Starts the server on a free port and waits until it accepts connections; false when it
    // exited or did not listen within 15 s.
    bool start();
    // Starts with arbitrary arguments and returns the exit code (-1000: did not end in time).
    int runToExit(const QStringList &arguments, int timeoutMs = 15000);
    // Ends the server by stopProcess().
    void stop();

    quint16 port() const { return serverPort; }
    qint64 pid() const { return process.processId(); }
    QProcess &qprocess() { return process; }
    // Standard error and output of the process so far.
    QByteArray output() const;

    // Writes request on a new connection; everything read until the server closes it or timeoutMs.
    QByteArray exchange(const QByteArray &request, int timeoutMs = 10000) const;

    struct Reply
    {
        QByteArray head; // status line and headers; empty when no reply came in time
        QByteArray body; // de-chunked
        QByteArray sessionId; // the "sessionid" cookie the reply sets, or empty
    };
    // Posts body to path on a connection of its own, with the "sessionid" cookie when given.
    Reply post(const QByteArray &path, const QByteArray &body,
        const QByteArray &sessionId = QByteArray(), int timeoutMs = 20000) const;

    // A port on 127.0.0.1 that nothing listens on at the moment of the call.
    static quint16 freePort();

private:
    QTemporaryDir tempDir;
    // Output goes to a file outside dir(): an undrained pipe would fill and stop the server.
    QTemporaryDir outputDir;
    QProcess process;
    quint16 serverPort = 0;
    QString busAddress;

    void setBusEnvironment();
};

// Ends a process of the test's own: SIGTERM first, killed when it does not end within 5 s.
void stopProcess(QProcess &process);

// Reads one complete HTTP response (framed by Content-Length or chunked) from a connected socket;
// empty when none arrives within timeoutMs. The de-chunked body goes to *body when given.
QByteArray readHttpResponse(QTcpSocket &socket, int timeoutMs = 10000, QByteArray *body = nullptr);
