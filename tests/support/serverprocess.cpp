#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <csignal>

ServerProcess::ServerProcess()
{
    const QString exe = tempDir.filePath("DORXWebOnDevice");
    QFile::copy(QStringLiteral(DORX_SERVER_PATH), exe);
    process.setWorkingDirectory(tempDir.path());
    process.setProgram(exe);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(outputDir.filePath("output"), QIODevice::Append);
}

ServerProcess::~ServerProcess()
{
    stop();
}

namespace {

// Adds key=value to group in text unless text sets key already.
void setDefault(QString *text, const QString &group, const QString &key, const QString &value)
{
    if (text->contains(QLatin1Char('\n') + key + QLatin1Char('=')) || text->startsWith(key + '='))
        return;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    if (text->contains(header))
        text->replace(header, header + QLatin1Char('\n') + key + QLatin1Char('=') + value);
    else
        *text += QLatin1Char('\n') + header + QLatin1Char('\n') + key + QLatin1Char('=') + value
            + QLatin1Char('\n');
}

} // namespace

void ServerProcess::writeConfig(const QString &iniText)
{
    QString text = iniText;
    setDefault(
        &text, QStringLiteral("listener"), QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    setDefault(&text, QStringLiteral("platform"), QStringLiteral("shell"),
        QStringLiteral(DORX_RECORDING_SHELL));
    setDefault(&text, QStringLiteral("platform"), QStringLiteral("networkFile"),
        tempDir.filePath(QStringLiteral("interfaces")));
    writeFile(QStringLiteral("DORXWebOnDevice.ini"), text.toUtf8());
}

QStringList ServerProcess::shellLog() const
{
    QFile log(tempDir.filePath(QStringLiteral("shell.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList commands = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    commands.removeLast(); // every command ends its line
    return commands;
}

void ServerProcess::writeFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = tempDir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(content);
}

quint16 ServerProcess::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A daemon call of a command under test reaches the bus the test asked for (useBus, or an address
// of its own in the environment it gave), and otherwise no bus: never the machine's own, which
// the test's environment may name.
void ServerProcess::setBusEnvironment()
{
    const QString name = QStringLiteral("DBUS_SESSION_BUS_ADDRESS");
    const QProcessEnvironment machine = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment environment = process.processEnvironment();
    if (environment.isEmpty())
        environment = machine;
    if (!busAddress.isEmpty())
        environment.insert(name, busAddress);
    else if (!environment.contains(name) || environment.value(name) == machine.value(name))
        environment.insert(name, QStringLiteral("unix:path=") + outputDir.filePath("no-bus"));
    process.setProcessEnvironment(environment);
}

bool ServerProcess::start()
{
    serverPort = freePort();
    setBusEnvironment();
    process.setArguments({QString::number(serverPort)});
    process.start();
    if (!process.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (process.state() != QProcess::Running)
            return false;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, serverPort);
        if (probe.waitForConnected(200)) {
            probe.disconnectFromHost();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

int ServerProcess::runToExit(const QStringList &arguments, int timeoutMs)
{
    setBusEnvironment();
    process.setArguments(arguments);
    process.start();
    if (!process.waitForFinished(timeoutMs))
        return -1000;
    return process.exitCode();
}

void ServerProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QByteArray ServerProcess::output() const
{
    QFile file(outputDir.filePath("output"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ServerProcess::exchange(const QByteArray &request, int timeoutMs) const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, serverPort);
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write(request);
    socket.waitForBytesWritten(5000);
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            received += socket.readAll();
    }
    received += socket.readAll();
    return received;
}

ServerProcess::Reply ServerProcess::post(const QByteArray &path, const QByteArray &body,
    const QByteArray &sessionId, int timeoutMs) const
{
    Reply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, serverPort);
    if (!socket.waitForConnected(qMin(10000, timeoutMs)))
        return reply;
    QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!sessionId.isEmpty())
        request += "Cookie: sessionid=" + sessionId + "\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    socket.write(request);
    reply.head = readHttpResponse(socket, timeoutMs, &reply.body);
    const int cookie = reply.head.indexOf("\r\nSet-Cookie: sessionid=");
    if (cookie >= 0) {
        const int start = cookie + int(qstrlen("\r\nSet-Cookie: sessionid="));
        const int end = reply.head.indexOf(';', start);
        reply.sessionId = reply.head.mid(start, end < 0 ? -1 : end - start);
    }
    return reply;
}

namespace {

// Reads until `socket` holds a full line; returns it without CRLF, or a null array on timeout.
QByteArray readLine(QTcpSocket &socket, const QDeadlineTimer &deadline, bool *ok)
{
    while (!socket.canReadLine()) {
        if (deadline.hasExpired()
            || !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            *ok = false;
            return QByteArray();
        }
    }
    return socket.readLine();
}

QByteArray readExactly(QTcpSocket &socket, qint64 count, const QDeadlineTimer &deadline, bool *ok)
{
    while (socket.bytesAvailable() < count) {
        if (deadline.hasExpired()
            || !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            *ok = false;
            return QByteArray();
        }
    }
    return socket.read(count);
}

} // namespace

QByteArray readHttpResponse(QTcpSocket &socket, int timeoutMs, QByteArray *body)
{
    QDeadlineTimer deadline(timeoutMs);
    bool ok = true;
    QByteArray whole;
    qint64 contentLength = -1;
    bool chunked = false;
    for (;;) {
        const QByteArray line = readLine(socket, deadline, &ok);
        if (!ok)
            return QByteArray();
        whole += line;
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty())
            break;
        const int colon = trimmed.indexOf(':');
        if (colon > 0) {
            const QByteArray name = trimmed.left(colon).trimmed().toLower();
            const QByteArray value = trimmed.mid(colon + 1).trimmed();
            if (name == "content-length")
                contentLength = value.toLongLong();
            else if (name == "transfer-encoding" && value.toLower() == "chunked")
                chunked = true;
        }
    }
    QByteArray content;
    if (chunked) {
        for (;;) {
            const QByteArray sizeLine = readLine(socket, deadline, &ok);
            if (!ok)
                return QByteArray();
            whole += sizeLine;
            const qint64 size = sizeLine.trimmed().toLongLong(nullptr, 16);
            const QByteArray chunk = readExactly(socket, size + 2, deadline, &ok);
            if (!ok)
                return QByteArray();
            whole += chunk;
            if (size == 0)
                break;
            content += chunk.left(size);
        }
    } else if (contentLength > 0) {
        content = readExactly(socket, contentLength, deadline, &ok);
        if (!ok)
            return QByteArray();
        whole += content;
    }
    if (body)
        *body = content;
    return whole;
}
