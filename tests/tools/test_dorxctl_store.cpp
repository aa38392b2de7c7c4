#include "store/records.h"
#include "store/sqlite.h"
#include "store/storetext.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The field engineer's view into a terminal's data: "dorxctl store" run from a shell in the
// terminal's working directory.
class TestDorxctlStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void printsEachReplyOnItsOwnLine();
    void refuses_data();
    void refuses();

private:
    QByteArray dorxctl(const QStringList &arguments, int *status, QByteArray *errors = nullptr);
    std::unique_ptr<QTemporaryDir> dir;
};

void TestDorxctlStore::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    const QString start = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    const bool created = Sqlite::Init();
    QVERIFY(QDir::setCurrent(start));
    QVERIFY(created);
}

QByteArray TestDorxctlStore::dorxctl(const QStringList &arguments, int *status, QByteArray *errors)
{
    QProcess process;
    process.setWorkingDirectory(dir->path());
    process.start(QStringLiteral(DORXCTL_PATH), arguments);
    if (!process.waitForFinished(60000))
        return QByteArray();
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.readAllStandardOutput();
}

void TestDorxctlStore::printsEachReplyOnItsOwnLine()
{
    PersonStruct person;
    person.personid = 7;
    person.name = QStringLiteral("5byg5LiJ");
    person.iden = QStringLiteral("it's 50% a.b|c,d 张三");
    const QString stored = records::person_to_str(person);

    int status = -1;
    QByteArray errors;
    const QByteArray out = dorxctl({"store", "1.3." + stored, "1.4.7", "81.1", "11.1", "1.4.8",
                                       "20.3.NOTE." + storetext::encode("a.b"), "20.4.NOTE"},
        &status, &errors);
    QCOMPARE(QString::fromUtf8(out), "0\n0." + stored + "\n0.1\n1\n2\n0\na.b\n");
    // Every command runs; the failed ones are named and set the exit status.
    QCOMPARE(status, 3);
    QCOMPARE(errors,
        QByteArray("dorxctl: store command 11.1 answered 1: unknown table or operation\n"
                   "dorxctl: store command 1.4.8 answered 2: nothing found\n"));
    QCOMPARE(QFileInfo(dir->filePath("sqlconfig.ini")).exists(), true);
}

void TestDorxctlStore::refuses_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    const QStringList commands {"store", "1.1", "20.3.NOTE.x"};
    const QString elsewhere = " in the current directory; run store where the server keeps its "
                              "databases\n";
    QTest::newRow("no command") << QString() << QStringList {"store"} << 2
                                << "dorxctl: store needs at least one store command, e.g. "
                                   "dorxctl store 80 1.4.17\n";
    QTest::newRow("no access database")
        << "access_database.db" << commands << 1 << "dorxctl: no access_database.db" + elsewhere;
    QTest::newRow("no record database")
        << "record_database.db" << commands << 1 << "dorxctl: no record_database.db" + elsewhere;
}

// Nothing runs, and a directory without the server's databases (not the terminal's) is left
// without new files.
void TestDorxctlStore::refuses()
{
    QFETCH(QString, missing);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QVERIFY(missing.isEmpty() || QFile::remove(dir->filePath(missing)));
    int actualStatus = -1;
    QByteArray errors;
    QCOMPARE(dorxctl(arguments, &actualStatus, &errors), QByteArray());
    QCOMPARE(actualStatus, status);
    QCOMPARE(QString::fromUtf8(errors), error);
    QVERIFY(missing.isEmpty() || !QFileInfo::exists(dir->filePath(missing)));
    QVERIFY(!QFileInfo::exists(dir->filePath("sqlconfig.ini")));
}

QTEST_GUILESS_MAIN(TestDorxctlStore)
#include "test_dorxctl_store.moc"
