#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real DORXWebOnDevice executable, copied into a temporary directory of its own with an INI
// file beside it, listening on a free loopback port, with a D-Bus session address where nothing
// listens. The directory is also the working directory,
// so the databases and settings files the server writes land there and vanish with the fixture.
class ServerProcess
{
public:
    ServerProcess();
    ~ServerProcess();

    // Directory that holds the executable, its INI file and its working files.
    QString dir() const { return tempDir.path(); }
    QString filePath(const QString &name) const { return tempDir.filePath(name); }

    // Writes DORXWebOnDevice.ini. Unless iniText sets them, "[listener]" gets host=127.0.0.1
    // and "[platform]" gets shell=tools/recordingshell and networkFile=interfaces in dir(), so
    // that no test ever reboots, re-times or re-addresses the machine; the text is otherwise
    // written as it stands.
    void writeConfig(const QString &iniText);
    // The commands the server gave the recording shell so far, one a line, in order.
    QStringList shellLog() const;
    // Writes a file below dir(), creating its folders.
    void writeFile(const QString &relativePath, const QByteArray &content);

    // The D-Bus session bus the server is given (DaemonBus::address()). Without one, and without
    // an address of the test's own in the environment it set, the server is given an address
    // where nothing listens: no server of a test ever reaches the machine's bus.
    void useBus(const QString &address) { busAddress = address; }

    // Starts the server with the given arguments (by default the chosen free port) and waits
    // until it accepts connections; false when it exited or did not listen within 15 s.
    bool start();
    // Starts with arbitrary arguments and waits for the process to end; returns its exit code.
    int runToExit(const QStringList &arguments, int timeoutMs = 15000);
    // Sends SIGTERM to the pid and waits; kills it when it does not end within 5 s.
    void stop();

    quint16 port() const { return serverPort; }
    qint64 pid() const { return process.processId(); }
    QProcess &qprocess() { return process; }
    // Standard error and output of the process so far.
    QByteArray output() const;

    // Opens a connection, writes request, and reads until the server closes the connection or
    // timeoutMs passes; returns everything read.
    QByteArray exchange(const QByteArray &request, int timeoutMs = 10000) const;

    // Posts body to path on a connection of its own, with the session cookie "sessionid" when
    // sessionId is given; returns the reply (empty head when none arrived within timeoutMs).
    struct Reply
    {
        QByteArray head; // status line and headers
        QByteArray body; // de-chunked
        QByteArray sessionId; // value of the "sessionid" cookie the reply sets, or empty
    };
    Reply post(const QByteArray &path, const QByteArray &body,
        const QByteArray &sessionId = QByteArray(), int timeoutMs = 20000) const;

    // A port on 127.0.0.1 that nothing listens on at the moment of the call.
    static quint16 freePort();

private:
    QTemporaryDir tempDir;
    // The server's output goes to a file here, outside dir(): a pipe that nobody drains while a
    // test waits on its sockets would fill up and stop the server in its next log line.
    QTemporaryDir outputDir;
    QProcess process;
    quint16 serverPort = 0;
    QString busAddress;

    // Puts the bus address into the environment the test chose (or the test's own).
    void setBusEnvironment();
};

// Reads one complete HTTP response (head and body framed by Content-Length or chunked encoding)
// from a connected socket; empty when none arrives within timeoutMs. The body comes back
// de-chunked in *body when body is given.
class QTcpSocket;
QByteArray readHttpResponse(QTcpSocket &socket, int timeoutMs = 10000, QByteArray *body = nullptr);
