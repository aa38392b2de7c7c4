#include "serverprocess.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

ServerProcess::ServerProcess()
{
    const QString exe = tempDir.filePath("DORXWebOnDevice");
    QFile::copy(QStringLiteral(DORX_SERVER_PATH), exe);
    process.setWorkingDirectory(tempDir.path());
    process.setProgram(exe);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(outputDir.filePath("output"), QIODevice::Append);
}

void ServerProcess::writeConfig(const QString &iniText)
{
    QString text = iniText;
    for (const QStringList &entry : {QStringList {"listener", "host", "127.0.0.1"},
             QStringList {"platform", "shell", DORX_RECORDING_SHELL},
             QStringList {"platform", "networkFile", tempDir.filePath("interfaces")}}) {
        const QString header = '[' + entry[0] + ']', line = entry[1] + '=' + entry[2];
        if (!text.contains('\n' + entry[1] + '=') && !text.startsWith(entry[1] + '='))
            text = text.contains(header) ? text.replace(header, header + '\n' + line)
                                         : text + '\n' + header + '\n' + line + '\n';
    }
    writeFile("DORXWebOnDevice.ini", text.toUtf8());
}

QStringList ServerProcess::shellLog() const
{
    QFile log(tempDir.filePath("shell.log"));
    QString text = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    text.chop(1); // every command ends its line
    return text.isEmpty() ? QStringList() : text.split('\n');
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

// The test's environment may name the machine's own bus: that one is never passed on.
void ServerProcess::setBusEnvironment()
{
    const QString name = "DBUS_SESSION_BUS_ADDRESS";
    const QProcessEnvironment machine = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment environment
        = process.processEnvironment().isEmpty() ? machine : process.processEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(name, busAddress);
    else if (!environment.contains(name) || environment.value(name) == machine.value(name))
        environment.insert(name, "unix:path=" + outputDir.filePath("no-bus"));
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
    for (QDeadlineTimer deadline(15000);
         !deadline.hasExpired() && process.state() == QProcess::Running; QThread::msleep(50)) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, serverPort);
        if (probe.waitForConnected(200)) {
            probe.disconnectFromHost();
            return true;
        }
    }
    return false;
}

int ServerProcess::runToExit(const QStringList &arguments, int timeoutMs)
{
    setBusEnvironment();
    process.setArguments(arguments);
    process.start();
    return process.waitForFinished(timeoutMs) ? process.exitCode() : -1000;
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
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
    for (QDeadlineTimer deadline(timeoutMs);
         !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState;)
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    return socket.readAll();
}

ServerProcess::Reply ServerProcess::post(const QByteArray &path, const QByteArray &body,
    const QByteArray &sessionId, int timeoutMs) const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, serverPort);
    socket.write("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        + (sessionId.isEmpty() ? QByteArray() : "Cookie: sessionid=" + sessionId + "\r\n")
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    Reply reply;
    reply.head = readHttpResponse(socket, timeoutMs, &reply.body);
    const QRegularExpressionMatch cookie
        = QRegularExpression("\r\nSet-Cookie: sessionid=([^;\r]*)").match(reply.head);
    reply.sessionId = cookie.captured(1).toLatin1();
    return reply;
}

QByteArray readHttpResponse(QTcpSocket &socket, int timeoutMs, QByteArray *body)
{
    const QDeadlineTimer deadline(timeoutMs);
    bool ok = true;
    QByteArray whole;
    // The next line (count < 0) or count bytes; ok turns false when they do not come in time.
    const auto take = [&](qint64 count) {
        while (ok && (count < 0 ? !socket.canReadLine() : socket.bytesAvailable() < count))
            ok = !deadline.hasExpired()
                && socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        const QByteArray data = !ok ? QByteArray()
            : count < 0             ? socket.readLine()
                                    : socket.read(count);
        whole += data;
        return data;
    };
    while (ok && !take(-1).trimmed().isEmpty()) { }
    const QString head = QString::fromLatin1(whole).toLower();
    const qint64 contentLength
        = QRegularExpression("\r\ncontent-length: *(\\d+)").match(head).captured(1).toLongLong();
    const bool chunked = head.contains("\r\ntransfer-encoding: chunked\r\n");
    QByteArray content;
    for (qint64 size = 1; chunked && ok && size > 0;) {
        size = take(-1).trimmed().toLongLong(nullptr, 16);
        content += take(size + 2).left(size);
    }
    if (!chunked && contentLength > 0)
        content = take(contentLength);
    if (ok && body)
        *body = content;
    return ok ? whole : QByteArray();
}
