// The memory floor bench/http.sh compares the server with: a bare Qt Core + Network + Sql
// program that listens on a port and opens one SQLite file, then idles until it is stopped.
// Usage: rssfloor PORT FILE

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(QByteArray(argv[1]).toUInt())))
        return 1;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(argv[2]));
    if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("create table if not exists t(x int)")))
        return 1;
    return app.exec();
}
