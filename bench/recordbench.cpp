// Times the command path through the HTTP API beside the same store work done directly: persons
// replaced one encrypted request each, a page of 100 persons, and an access-record range of 100.
// The real server runs in a temporary directory of its own on 10,000 persons and 100,000 access
// records; the client keeps one connection open and seals its requests, as a management client
// does (it opens the replies only after the timing). The direct figures are the store commands
// alone, in this process, on the same files; the times are medians. Beside them the CPU time per
// request: all the server's threads against the store work alone, which a busy machine moves less.
// Each measurement runs twice: with the debug log of the sample configuration written to a file,
// and with warnings only.

#include "benchdata.h"
#include "commandclient.h"
#include "serverprocess.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {

const quint32 personCount = 10000;
const quint32 recordCount = 100000;
const quint32 stride = 7919; // spreads the keys over the whole table

// One keep-alive connection of a logged-in management client.
class Connection
{
public:
    Connection(quint16 port, const QByteArray &sessionId)
        : port(port)
        , sessionId(sessionId)
    { }

    // The sealed reply to message, as it arrived; empty when none came.
    QByteArray post(const QByteArray &path, QJsonObject message)
    {
        message.insert(QStringLiteral("id"), QStringLiteral("b"));
        message.insert(QStringLiteral("devicesn"), QStringLiteral("12345"));
        const QByteArray body = sealed(message);
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
        }
        socket.write("POST " + path
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: sessionid=" + sessionId
            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray reply;
        readHttpResponse(socket, 20000, &reply);
        return reply;
    }

private:
    QTcpSocket socket;
    quint16 port;
    QByteArray sessionId;
};

// The median, which a passing load on the machine moves far less than the mean.
double medianMs(std::vector<qint64> ns)
{
    std::nth_element(ns.begin(), ns.begin() + ns.size() / 2, ns.end());
    return double(ns[ns.size() / 2]) / 1e6;
}

// CPU time of the calling thread so far.
qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// CPU time, user and system, that process pid has used so far (all its threads), from
// /proc/PID/stat; in steps of the kernel's clock tick (10 ms), so read over many requests.
qint64 processCpuNs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * 1000000000 / sysconf(_SC_CLK_TCK);
}

bool storeAnswers(const QString &command, const char *expected)
{
    Sqlite store;
    return store.dbus_pro(command).startsWith(QLatin1String(expected));
}

// One operation, done directly on the store and as a request: the request's path and message for
// run i, and what a right reply holds. Replies are opened after the timing: their decryption is
// the client's work, not the server's.
struct Measurement
{
    const char *what;
    std::function<bool(int)> direct;
    std::function<QPair<QByteArray, QJsonObject>(int)> request;
    std::function<bool(const QJsonObject &)> replyIsRight;
};

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    ServerProcess server;
    if (runs <= 0 || !QDir::setCurrent(server.dir()) || !Sqlite::Init()
        || !writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n")
        || !fill(QStringLiteral("access_database.db"), "person", int(personCount),
            [](quint32 id) { return records::person_to_str_db(benchPerson(id)); })
        || !fill(QStringLiteral("record_database.db"), "record", int(recordCount),
            [](quint32 id) { return records::record_to_str_db(benchRecord(id, personCount)); }))
        return 1;

    const auto key = [](int i) { return quint32(i) * stride % personCount; };
    const auto first = [](int i) { return quint32(i) * stride % (recordCount - 100); };
    const Measurement measurements[] = {
        {"replace a person among 10,000",
            [&](int i) {
                return storeAnswers(
                    QStringLiteral("1.3.") + records::person_to_str(benchPerson(key(i))), "0");
            },
            [&](int i) {
                const PersonStruct p = benchPerson(key(i));
                const QJsonObject datas {{"personid", qint64(p.personid)}, {"persontype", 1},
                    {"accountstatus", 1}, {"name", p.name}, {"group", p.group}, {"iden", p.iden},
                    {"mobil", p.mobil}, {"password", p.password}, {"regtime", 1700000000},
                    {"voliditystart", 1700000000}, {"volidityend", 1900000000}};
                return qMakePair(QByteArray("/command/person/property"),
                    QJsonObject {{"order", 2}, {"datas", datas}});
            },
            [](const QJsonObject &reply) { return reply.value("respond").toInt() == 1; }},
        {"page of 100 persons among 10,000",
            [&](int i) {
                return storeAnswers(
                    QStringLiteral("1.5.%1.100").arg(key(i) % (personCount - 100)), "0.");
            },
            [&](int i) {
                const QJsonObject datas {
                    {"startnum", qint64(key(i) % (personCount - 100))}, {"getnum", 100}};
                return qMakePair(QByteArray("/command/getinfo/person"),
                    QJsonObject {{"order", 5}, {"datas", datas}});
            },
            [](const QJsonObject &reply) {
                return reply.value("datas").toArray().last().toObject().contains("personid");
            }},
        {"access-record range of 100 among 100,000",
            [&](int i) {
                return storeAnswers(
                    QStringLiteral("3.6.%1.%2").arg(first(i)).arg(first(i) + 99), "0.");
            },
            [&](int i) {
                const QJsonObject datas {
                    {"minid", qint64(first(i))}, {"maxid", qint64(first(i) + 99)}};
                return qMakePair(QByteArray("/command/getinfo/record"),
                    QJsonObject {{"order", 6}, {"datas", datas}});
            },
            [](const QJsonObject &reply) {
                return reply.value("datas").toArray().last().toObject().contains("recordid");
            }},
    };

    const char *logs[][2] = {
        {"debug log to a file (sample configuration)", "minLevel=ALL"},
        {"warnings only", "minLevel=WARNING"},
    };
    for (const auto &log : logs) {
        if (!writeFile(QStringLiteral("DORXWebOnDevice.ini"),
                QByteArray("[listener]\nhost=127.0.0.1\n[logging]\nfileName=server.log\n"
                           "maxSize=1000000\nmaxBackups=2\n")
                    + log[1] + "\n")
            || !server.start())
            return 1;
        Client login(server);
        if (login.login(QStringLiteral("dorx"), QStringLiteral("6172839405")) != 1)
            return 1;
        Connection connection(server.port(), login.sessionId());
        std::printf("%s, %d runs each:\n", log[0], runs);
        for (int m = 0; m < 3; ++m) {
            // The two alternate run by run, so a load that comes and goes on the machine
            // weighs on both alike.
            QByteArrayList replies;
            std::vector<qint64> directNs;
            std::vector<qint64> commandNs;
            qint64 directCpuNs = 0;
            const qint64 serverCpuBefore = processCpuNs(server.pid());
            QElapsedTimer timer;
            for (int i = 0; i < runs; ++i) {
                const auto request = measurements[m].request(i);
                timer.start();
                replies << connection.post(request.first, request.second);
                commandNs.push_back(timer.nsecsElapsed());
                timer.start();
                const qint64 cpuBefore = threadCpuNs();
                const bool stored = measurements[m].direct(i);
                directCpuNs += threadCpuNs() - cpuBefore;
                directNs.push_back(timer.nsecsElapsed());
                if (!stored) {
                    std::fprintf(
                        stderr, "recordbench: %s: the store failed\n", measurements[m].what);
                    return 1;
                }
            }
            for (const QByteArray &reply : qAsConst(replies)) {
                if (!measurements[m].replyIsRight(opened(reply))) {
                    std::fprintf(
                        stderr, "recordbench: %s: a reply was wrong\n", measurements[m].what);
                    return 1;
                }
            }
            const double serverCpu
                = double(processCpuNs(server.pid()) - serverCpuBefore) / 1e6 / runs;
            const double directCpu = double(directCpuNs) / 1e6 / runs;
            const double command = medianMs(commandNs);
            const double direct = medianMs(directNs);
            std::printf("  %-42s command %7.2f ms (%5.0f/s)  store alone %7.2f ms  ratio %.2f\n"
                        "  %-42s   CPU %7.2f ms               store alone %7.2f ms  ratio %.2f\n",
                measurements[m].what, command, 1000 / command, direct, command / direct, "",
                serverCpu, directCpu, serverCpu / directCpu);
        }
        std::fflush(stdout);
        server.stop();
    }
    QDir::setCurrent(QDir::rootPath());
    return 0;
}
