#include "store/sqlite.h"

#include <QDir>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

namespace {

QString run(const QString &command)
{
    return Sqlite().dbus_pro(command);
}

QString person(int id, const char *name)
{
    return QStringLiteral("%1|1|0|%2|g||||0|0|0||").arg(id).arg(name);
}

// Counts the store's open failures; they come from several threads at once.
std::atomic<int> cannotOpenCount {0};

void countCannotOpen(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg
        && message.startsWith(QLatin1String("Sqlite: cannot open access_database.db: ")))
        ++cannotOpenCount;
}

} // namespace

class TestSqlite : public QObject
{
    Q_OBJECT

    QTemporaryDir created; // databases made by Init once, copied for every test
    std::unique_ptr<QTemporaryDir> dir;
    QString startDir;

private slots:
    // Init announces every table it creates, and creates nothing when all are there.
    void initTestCase()
    {
        startDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(created.path()));
        for (const char *table : {"record", "account", "permit", "warrant", "doorset", "timezone",
                 "specialday", "holiday", "stay", "person"})
            QTest::ignoreMessage(
                QtDebugMsg, qPrintable(QStringLiteral("Table %1 created!").arg(table)));
        QVERIFY(Sqlite::Init());
        QVERIFY(Sqlite::Init());
        QVERIFY(QDir::setCurrent(startDir));
    }

    void init()
    {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        QVERIFY(QDir::setCurrent(dir->path()));
        for (const char *file : {"access_database.db", "record_database.db"})
            QVERIFY(QFile::copy(created.filePath(file), file));
    }

    void cleanup()
    {
        QDir::setCurrent(startDir);
        dir.reset();
    }

    // Each file holds only its own tables, Init fills in what is missing and keeps rows, and the
    // operator database's default connection is never touched. The reading runners agree on rows
    // and differ only in how they report a failed statement.
    void filesAndRunners()
    {
        Sqlite store;
        const QString tables = QStringLiteral("select name from sqlite_master order by name");
        QCOMPARE(store.get_note(tables),
            QStringLiteral(
                "cardid,doorset,holiday,permit,person,specialday,stay,timezone,warrant,"));
        QCOMPARE(store.get_note_re(tables), QStringLiteral("record,"));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("^Sqlite: statement failed on record_database.db: no such table: "
                               "person"));
        QCOMPARE(store.get_note_re(QStringLiteral("select * from person")), QString());
        QCOMPARE(run("1.3." + person(7, "a")), QStringLiteral("0"));
        QVERIFY(QFile::remove(QStringLiteral("record_database.db")));
        QTest::ignoreMessage(QtDebugMsg, "Table record created!");
        QVERIFY(Sqlite::Init());
        QCOMPARE(run(QStringLiteral("80")), QStringLiteral("0.1.0.0.0.0.0.0.0.0.0.0.0"));
        QVERIFY(!QSqlDatabase::contains(QSqlDatabase::defaultConnection));

        const QString rows = QStringLiteral("select 1, 'a.b|c,d%' union all select 2, null");
        const QString expected = QStringLiteral("1|a%2Eb%7Cc%2Cd%25,2|,");
        QCOMPARE(store.get_note(rows), expected);
        QCOMPARE(store.get_note_card(rows), expected);
        QCOMPARE(store.database_cmd(rows), expected);
        QCOMPARE(store.get_note(QStringLiteral("select * from stay")), QString());
        QCOMPARE(store.get_note(QStringLiteral("select 5")), QStringLiteral("5,"));
        const QString bad = QStringLiteral("selec 1");
        for (int i = 0; i < 3; ++i)
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression("^Sqlite: statement failed on access_database.db: near"));
        QCOMPARE(store.get_note(bad), QString());
        QCOMPARE(store.get_note_card(bad), QStringLiteral("sqlcmdfailed"));
        QCOMPARE(store.database_cmd(bad),
            QStringLiteral("near \"selec\": syntax error Unable to execute statement"));
    }

    // Each entry is "command => expected reply" ("sql:" runs a statement behind the typed
    // operations' back, " ! " is followed by the start of the failure that is logged); the entries
    // run in order against fresh databases.
    void interpreter_data()
    {
        QTest::addColumn<QStringList>("script");
        const QString p1 = "1.3.1|1|0|a|g||||0|0|0|| => 0";
        const QString p2 = "1.3.2|1|0|b|g||||0|0|0|| => 0";
        const QString p3 = "1.3.3|1|0|c|g||||0|0|0|| => 0";
        const QString r = "|5|c12|1|100|0|1|0|| => 0"; // a record text after its number

        QTest::newRow("replace keeps one row per key; a fetch has no trailing comma")
            << QStringList {p1, "1.3.1|2|0|z|g||||0|0|0|| => 0", "81.1 => 0.1",
                   "1.4.1 => 0.1|2|0|z|g||||0|0|0||"};
        QTest::newRow("page of two from three, each row followed by a comma; beyond the last row")
            << QStringList {p3, p1, p2, "1.5.0.2 => 0.1|1|0|a|g||||0|0|0||,2|1|0|b|g||||0|0|0||,",
                   "1.5.3.5 => 2"};
        QTest::newRow("delete by key; 257 clears like 1, leaving the other tables")
            << QStringList {p1, p2, "2.3.1|c => 0", "1.2.1 => 0", "1.4.1 => 2", "81.1 => 0.1",
                   "257.1 => 0", "81.1 => 0.0", "81.2 => 0.1"};
        QTest::newRow("repeated keys: fetch gives the first stored, the others see them all")
            << QStringList {"sql:insert into person values(3,0,0,'b','','','','',0,0,0,'','') => ",
                   "sql:insert into person values(3,0,0,'c','','','','',0,0,0,'','') => ",
                   "1.4.3 => 0.3|0|0|b|||||0|0|0||",
                   "1.5.0.5 => 0.3|0|0|b|||||0|0|0||,3|0|0|c|||||0|0|0||,", "81.1 => 0.2",
                   "1.2.3 => 0", "81.1 => 0.0"};
        QTest::newRow(
            "card search is literal: contains, any ASCII case, %, _ and quotes only match "
            "themselves")
            << QStringList {"2.3.1|120|f10 => 0", "2.3.2|5123|f11 => 0", "2.3.3|12%253|f2 => 0",
                   "2.3.4|1_2|f%25 => 0", "2.3.5|ab => 0", "2.3.6|it's x%2Ey => 0",
                   "2.10.12 => 0.1|120|f10|||,2|5123|f11|||,3|12%253|f2|||,",
                   "2.10.AB => 0.5|ab||||,", "2.10.%25 => 0.3|12%253|f2|||,",
                   "2.10._ => 0.4|1_2|f%25|||,", "2.10.' => 0.6|it's x%2Ey||||,",
                   "2.10.x%2Ey => 0.6|it's x%2Ey||||,", "2.10.999 => 2",
                   "2.11.%25 => 0.4|1_2|f%25|||,"};
        QTest::newRow("a refused insert keeps the old row")
            << QStringList {"sql:create trigger refuse before insert on person when new.Name = "
                            "'refused' begin select raise(abort, 'refused by test'); end => ",
                   p1, "1.3.1|1|0|refused|g||||0|0|0|| => 3 ! access_database.db: refused by test",
                   "1.4.1 => 0.1|1|0|a|g||||0|0|0||"};
        QTest::newRow("unknown table or operation")
            << QStringList {"11.1 => 1", "1.9 => 1", "1.0 => 1", "3.9 => 1", "2.12 => 1",
                   "20.1 => 1", "0.1 => 1", "x.1 => 1", " => 1", "82 => 1"};
        QTest::newRow("80 counts every table in order, from an empty store") << QStringList {
            "80.0 => 0.0.0.0.0.0.0.0.0.0.0.0.0", p1, p2, "2.3.1|c => 0", "4.3.1 => 0",
            "5.3.1|1 => 0", "6.3.1 => 0", "7.3.1 => 0", "8.3.1 => 0", "9.3.1 => 0", "10.3.1 => 0",
            "20.3.RECORDID.5 => 0", "3.3.0" + r, "3.3.0" + r, "80 => 0.2.1.1.1.1.1.1.1.1.5.6.2"};
        QTest::newRow("81 picks one count") << QStringList {"81.12 => 0.0", "81.99 => 0.",
            "81.0 => 0.", "81 => 0.", p1, "81.1 => 0.1", "81.257 => 0.1"};
        QTest::newRow(
            "records numbered from the counter, whatever their text says, across a clear; "
            "settings keys and values travel encoded")
            << QStringList {"3.3.99" + r, "3.4.0 => 0.0|5|c12|1|100|0|1|0||", "3.4.99 => 2",
                   "20.4.RECORDID => 1", "3.1 => 0", "20.3.RECORDID.41 => 0", "3.3.7" + r,
                   "3.4.41 => 0.41|5|c12|1|100|0|1|0||", "20.4.RECORDID => 42", "81.10 => 0.41",
                   "81.12 => 0.1", "20.4.NOSUCHKEY => ", "20.3.a%2Eb.c%2Ed => 0",
                   "20.4.a%2Eb => c.d"};
        QTest::newRow("record range includes both ends") << QStringList {"3.3.0" + r, "3.3.0" + r,
            "3.3.0" + r, "3.3.0" + r, "3.6.1.2 => 0.1|5|c12|1|100|0|1|0||,2|5|c12|1|100|0|1|0||,",
            "3.6.2.1 => 2", "3.6.4.9 => 2"};
        QTest::newRow("newest record of a person") << QStringList {"3.3.0|5|a|1|100|0|1|0|| => 0",
            "3.3.0|5|b|1|300|1|1|0|| => 0", "3.3.0|5|c|1|200|0|1|0|| => 0",
            "3.3.0|6|d|1|900|0|1|0|| => 0", "3.7.5 => 0.1|5|b|1|300|1|1|0||,",
            "3.8.5.0 => 0.2|5|c|1|200|0|1|0||,", "3.8.5.7 => 2", "3.7.4 => 2"};
        QTest::newRow("doorset keyed on door and direction together; 5.2.1.2 deletes one")
            << QStringList {"5.3.1|1|3 => 0", "5.3.1|2|4 => 0", "5.3.1|2|9 => 0", "81.4 => 0.2",
                   "5.4.1.2 => 0.1|2|9|0|0|0|0|0|0|0|0|0||", "5.2.1.2 => 0", "5.4.1.2 => 2",
                   "5.4.1.1 => 0.1|1|3|0|0|0|0|0|0|0|0|0||"};
        QTest::newRow("doorset page ordered by door, then direction")
            << QStringList {"5.3.2 => 0", "5.3.1|1 => 0", "5.3.1 => 0",
                   "5.5.0.3 => 0.1|0|0|0|0|0|0|0|0|0|0|0||,1|1|0|0|0|0|0|0|0|0|0|0||,"
                   "2|0|0|0|0|0|0|0|0|0|0|0||,"};
        QTest::newRow("warrant by group, door, direction and type") << QStringList {
            "6.3.1|2|3|0|4|5|1|6|0|| => 0", "6.3.9|2|3|1|4|5|1|6|0|| => 0",
            "6.10.2.3.0.6 => 0.1|2|3|0|4|5|1|6|0||,", "6.10.2.3.0.5 => 2", "6.10.3.3.0.6 => 2"};
    }

    void interpreter()
    {
        QFETCH(QStringList, script);
        for (const QString &entry : script) {
            const QString command = entry.section(QStringLiteral(" => "), 0, 0);
            const QString reply = entry.section(QStringLiteral(" => "), 1).section(" ! ", 0, 0);
            const QString logged = entry.section(QStringLiteral(" ! "), 1);
            if (!logged.isEmpty())
                QTest::ignoreMessage(QtWarningMsg,
                    QRegularExpression(
                        '^' + QRegularExpression::escape("Sqlite: statement failed on " + logged)));
            QCOMPARE(command.startsWith(QLatin1String("sql:"))
                    ? Sqlite().database_cmd(command.mid(4))
                    : run(command),
                reply);
        }
    }

    // Without tables every write fails; it answers "3", and the driver's error is logged. A
    // record number that cannot be saved stores no record, so that no number is given twice.
    void failedWritesAnswerThree()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("sqlconfig.ini")));
        QTest::ignoreMessage(QtWarningMsg, "Sqlite: cannot write RECORDID to sqlconfig.ini");
        QCOMPARE(run(QStringLiteral("3.3.0|1")), QStringLiteral("3"));
        QTest::ignoreMessage(QtWarningMsg, "Sqlite: cannot write LONGOPEN to sqlconfig.ini");
        QCOMPARE(run(QStringLiteral("20.3.LONGOPEN.2")), QStringLiteral("3"));
        QCOMPARE(run(QStringLiteral("81.12")), QStringLiteral("0.0"));

        QVERIFY(QDir().rmdir(QStringLiteral("sqlconfig.ini")));
        for (const char *file : {"access_database.db", "record_database.db"})
            QVERIFY(QFile::remove(file));
        // Clear, delete, replace, doorset delete, record add (tried five times), record clear.
        for (const auto &write : QList<QPair<QString, int>> {{"1.1", 1}, {"4.2.5", 1},
                 {"1.3.5|0|0|n", 1}, {"5.2.1.2", 1}, {"3.3.0|1", 5}, {"3.1", 1}}) {
            for (int i = 0; i < write.second; ++i)
                QTest::ignoreMessage(QtWarningMsg,
                    QRegularExpression("^Sqlite: statement failed on \\w+_database.db: no such "
                                       "table"));
            QCOMPARE(run(write.first), QStringLiteral("3"));
        }
    }

    // A working directory that no longer exists: the files can be neither opened nor created. The
    // three runners wait out the bound side by side, each on a thread of its own.
    void unopenableDatabaseIsReported()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("gone")) && QDir::setCurrent(QStringLiteral("gone")));
        QVERIFY(QDir().rmdir(dir->filePath(QStringLiteral("gone"))));
        const std::function<QString()> calls[]
            = {[] { return Sqlite().get_note_card(QStringLiteral("select * from cardid")); },
                [] { return Sqlite().database_cmd(QStringLiteral("select 1")); },
                [] { return run(QStringLiteral("1.1")); }};
        QString replies[3];
        std::unique_ptr<QThread> threads[3];
        cannotOpenCount = 0;
        const QtMessageHandler testLog = qInstallMessageHandler(countCannotOpen);
        for (int i = 0; i < 3; ++i) {
            threads[i].reset(QThread::create([&, i] { replies[i] = calls[i](); }));
            threads[i]->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));
        qInstallMessageHandler(testLog);
        QCOMPARE(cannotOpenCount.load(), 3);
        QCOMPARE(QStringList(std::begin(replies), std::end(replies)),
            QStringList({"openf", "Error: Failed to connect database", "3"}));
    }

    void lockedDatabase_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("holdMs"); // negative: until told to let go
        QTest::addColumn<QString>("kept");
        QTest::newRow("held beyond the bound: reported, old row kept") << "3" << -1 << "old";
        QTest::newRow("released within the bound: waited for") << "0" << 300 << "new";
    }

    // Another connection, as the access daemon's, holds the write lock on the access database;
    // the record database, another file, stays usable meanwhile.
    void lockedDatabase()
    {
        QFETCH(QString, reply);
        QFETCH(int, holdMs);
        QFETCH(QString, kept);
        QCOMPARE(run("1.3." + person(7, "old")), QStringLiteral("0"));
        QSemaphore locked, release;
        bool held = false, committed = false;
        std::unique_ptr<QThread> holder(QThread::create([&] {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "lock");
                db.setDatabaseName(QStringLiteral("access_database.db"));
                QSqlQuery query(db);
                held = db.open() && query.exec(QStringLiteral("BEGIN EXCLUSIVE"));
                locked.release();
                release.tryAcquire(1, holdMs);
                committed = query.exec(QStringLiteral("COMMIT"));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("lock"));
        }));
        holder->start();
        QVERIFY(locked.tryAcquire(1, 30000) && held);
        if (holdMs < 0)
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(
                    "^Sqlite: statement failed on access_database.db: database is locked"));
        QCOMPARE(run("1.3." + person(7, "new")), reply);
        QCOMPARE(run(QStringLiteral("3.3.0|7")), QStringLiteral("0"));
        release.release();
        QVERIFY(holder->wait(30000) && committed);
        QCOMPARE(run(QStringLiteral("1.4.7")), "0." + person(7, qPrintable(kept)));
    }

    void threadsUseConnectionsOfTheirOwn()
    {
        std::unique_ptr<QThread> writers[2];
        for (int first : {0, 1})
            writers[first].reset(QThread::create([first] {
                for (int id = first * 1000; id < first * 1000 + 20; ++id) {
                    Sqlite store;
                    store.dbus_pro("1.3." + person(id, "t"));
                    store.dbus_pro("3.3.0|" + QString::number(id));
                }
            }));
        for (auto &writer : writers)
            writer->start();
        for (auto &writer : writers)
            QVERIFY(writer->wait(120000));
        QCOMPARE(run(QStringLiteral("80")), QStringLiteral("0.40.0.0.0.0.0.0.0.0.0.39.40"));
        // The writers' connections ended with their threads; this thread keeps one per file.
        QCOMPARE(QSqlDatabase::connectionNames().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSqlite)
#include "test_sqlite.moc"
