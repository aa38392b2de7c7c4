#pragma once

#include <QProcess>
#include <QTemporaryDir>

class QTcpSocket;

// Ends a process of the test's own: SIGTERM first, killed when it does not end within 5 s.
void stopProcess(QProcess &process);

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
    // the platform's shell and network file are recording stand-ins in dir(): no test ever
    // reboots, re-times or re-addresses the machine.
    void writeConfig(const QString &iniText);
    QStringList shellLog() const; // the commands given to the recording shell so far, in order
    void writeFile(const QString &relativePath, const QByteArray &content); // makes its folders
    // The session bus the server is given; else (unless the test set one in qprocess()'s
    // environment) an address where nothing listens: never the machine's bus.
    void useBus(const QString &address) { busAddress = address; }

    // Starts on a free port; false when it exited or did not accept connections within 15 s.
    bool start();
    // Starts with these arguments and returns the exit code (-1000: did not end in time).
    int runToExit(const QStringList &arguments, int timeoutMs = 15000);
    void stop() { stopProcess(process); }

    quint16 port() const { return serverPort; }
    qint64 pid() const { return process.processId(); }
    QProcess &qprocess() { return process; }
    QByteArray output() const; // standard error and output so far

    // Writes request on a new connection; everything read until the server closes it or timeoutMs.
    QByteArray exchange(const QByteArray &request, int timeoutMs = 10000) const;

    struct Reply
    {
        QByteArray head; // status line and headers; empty when no reply came in time
        QByteArray body; // de-chunked
        QByteArray sessionId; // the "sessionid" cookie the reply sets, or empty
    };
    // Posts body to path on a new connection, with the "sessionid" cookie when given.
    Reply post(const QByteArray &path, const QByteArray &body,
        const QByteArray &sessionId = QByteArray(), int timeoutMs = 20000) const;

    static quint16 freePort(); // on 127.0.0.1, unused at the moment of the call

private:
    QTemporaryDir tempDir;
    // Output goes to a file outside dir(): an undrained pipe would fill and stop the server.
    QTemporaryDir outputDir;
    QProcess process;
    quint16 serverPort = 0;
    QString busAddress;

    void setBusEnvironment();
};

// Reads one complete HTTP response (framed by Content-Length or chunked) from a connected socket;
// empty when none arrives within timeoutMs. The de-chunked body goes to *body when given.
QByteArray readHttpResponse(QTcpSocket &socket, int timeoutMs = 10000, QByteArray *body = nullptr);
