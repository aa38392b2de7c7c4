#include "store/sqlconnection.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The kept connection of a thread behaves like a fresh one for every operation: it sees what
// other connections wrote, follows a file that was replaced, and never holds a transaction
// between operations.
class TestSqlConnection : public QObject
{
    Q_OBJECT

private slots:
    void keptConnectionFollowsTheFile();
};

namespace {

// Rows of table t in file, read through the calling thread's kept connection.
int keptCount(const QString &file)
{
    int count = -1;
    sqlconnection::use(file, "Test", [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("select count(*) from t")) && query.next())
            count = query.value(0).toInt();
    });
    return count;
}

// Runs statement on a connection of its own, as another process would.
bool runElsewhere(const QString &file, const QString &statement)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "elsewhere");
        db.setDatabaseName(file);
        ok = db.open() && QSqlQuery(db).exec(statement);
        if (ok && statement.startsWith(QLatin1String("BEGIN")))
            ok = QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase("elsewhere");
    return ok;
}

} // namespace

void TestSqlConnection::keptConnectionFollowsTheFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("kept.db");
    QVERIFY(runElsewhere(file, "create table t(x int)"));
    QCOMPARE(keptCount(file), 0);

    QVERIFY(runElsewhere(file, "insert into t values(1)"));
    QCOMPARE(keptCount(file), 1);

    const QString other = dir.filePath("other.db");
    QVERIFY(runElsewhere(other, "create table t(x int)"));
    QVERIFY(runElsewhere(other, "insert into t values(1), (2), (3)"));
    QVERIFY(QFile::remove(file));
    QVERIFY(QFile::rename(other, file));
    QCOMPARE(keptCount(file), 3);

    // A transaction that work forgets is rolled back, so another writer is not locked out.
    QTest::ignoreMessage(
        QtWarningMsg, qPrintable("Test: a transaction on " + file + " was left open, rolled back"));
    QVERIFY(sqlconnection::use(file, "Test", [](QSqlDatabase &db) {
        QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
        QSqlQuery(db).exec(QStringLiteral("insert into t values(4)"));
    }));
    QVERIFY(runElsewhere(file, "BEGIN EXCLUSIVE"));
    QCOMPARE(keptCount(file), 3);
}

QTEST_GUILESS_MAIN(TestSqlConnection)
#include "test_sqlconnection.moc"
