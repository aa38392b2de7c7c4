#include "store/inifile.h"
#include "store/operatordb.h"
#include "store/records.h"
#include "store/sqlconnection.h"
#include "store/sqlite.h"
#include "store/storetext.h"

#include "sqlfile.h"

#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <tuple>

namespace {

QString run(const QString &command)
{
    return Sqlite().dbus_pro(command);
}

const QString superUser = QString::fromUtf8("dorx|6172839405|超级用户|1");

QString person(int id, const char *name)
{
    return QStringLiteral("%1|1|0|%2|g||||0|0|0||").arg(id).arg(name);
}

// Counts the stores' open failures; they come from several threads at once.
std::atomic<int> cannotOpenCount {0};

void countCannotOpen(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg
        && (message.startsWith(QLatin1String("Sqlite: cannot open access_database.db: "))
            || message.startsWith(QLatin1String("OperatorDb: cannot open login_sql.db: "))))
        ++cannotOpenCount;
}

} // namespace

// What only the store shows, each test in a working directory of its own; the commands on records
// and operators are tested end to end (tests/commands/).
class TestStore : public QObject
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
        for (const QString &table :
            QString("record account permit warrant doorset timezone specialday holiday stay person")
                .split(' '))
            QTest::ignoreMessage(QtDebugMsg, qPrintable("Table " + table + " created!"));
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

    // Only the four separators are encoded; decoding takes either case of hex digit and keeps any
    // other "%" (commands typed by hand). Numbers are decimal digits, at most 32 bits, else 0.
    void valueTexts()
    {
        QCOMPARE(storetext::encode(QString::fromUtf8("O'Brien 张三 a.b|c,d 5%1 %2E")),
            QString::fromUtf8("O'Brien 张三 a%2Eb%7Cc%2Cd 5%251 %252E"));
        QCOMPARE(storetext::decode("a%2eb%7cc %41%zz %2 5%"), QStringLiteral("a.b|c %41%zz %2 5%"));
        QCOMPARE(records::record_to_str(
                     records::record_from_str("007|4294967295|c|+5| 5|0x10|4294967296")),
            QStringLiteral("7|4294967295|c|0|0|0|0|0||"));
    }

    // DORXWebOnDevice.ini is kept by people with comments: only the group's own keys change.
    void iniWritesOnlyTheGroupsKeys_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-" for no file
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("no file yet")
            << QByteArray("-") << QByteArray("[login]\nname=n\npassword=p\n");
        QTest::newRow("group added after a last line without line end")
            << QByteArray("[a]\nx=1") << QByteArray("[a]\nx=1\n\n[login]\nname=n\npassword=p\n");
        QTest::newRow("keys replaced where they stand")
            << QByteArray("[login]\n; who\nname = old\nfileroot=/up\npassword=old\n\n[x]\ny=2\n")
            << QByteArray("[login]\n; who\nname=n\nfileroot=/up\npassword=p\n\n[x]\ny=2\n");
        QTest::newRow("new key at the start of the group, later lines of a key dropped")
            << QByteArray("[login]\nname=a\nname=b\n;name=c\r\n[x]\npassword=x\n")
            << QByteArray("[login]\npassword=p\nname=n\n;name=c\r\n[x]\npassword=x\n");
    }

    // Values are written as QSettings reads them back, whatever they hold.
    void iniWritesOnlyTheGroupsKeys()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFile file(QStringLiteral("DORXWebOnDevice.ini"));
        QVERIFY(before == "-" || (file.open(QIODevice::WriteOnly) && file.write(before) > 0));
        file.close();
        QVERIFY(inifile::writeGroup(file.fileName(), "login", {{"name", "n"}, {"password", "p"}}));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), after);
        const QString value = QString::fromUtf8("@Invalid() 门卫 a;b, \"c\" = d # e\nx\\z");
        QVERIFY(inifile::writeGroup(file.fileName(), "login", {{"name", value}}));
        QSettings settings(file.fileName(), QSettings::IniFormat);
        settings.setIniCodec("UTF-8");
        QCOMPARE(settings.value("login/name").toString(), value);
    }

    // Each file holds only its own tables, Init fills in what is missing and keeps rows, and the
    // operator database's default connection is never touched. A failed statement reads as no
    // rows, or as "sqlcmdfailed" for the card search, which must tell the two apart.
    void filesAndRunners()
    {
        Sqlite store;
        const QString tables = QStringLiteral("select name from sqlite_master order by name");
        QCOMPARE(store.get_note(tables),
            QStringLiteral(
                "cardid,doorset,holiday,permit,person,specialday,stay,timezone,warrant,"));
        QCOMPARE(store.get_note_re(tables), QStringLiteral("record,"));
        QCOMPARE(run("1.3." + person(7, "a")), QStringLiteral("0"));
        QVERIFY(QFile::remove(QStringLiteral("record_database.db")));
        QTest::ignoreMessage(QtDebugMsg, "Table record created!");
        QVERIFY(Sqlite::Init());
        QCOMPARE(run(QStringLiteral("80")), QStringLiteral("0.1.0.0.0.0.0.0.0.0.0.0.0"));
        QVERIFY(!QSqlDatabase::contains(QSqlDatabase::defaultConnection));
        const QString bad = QStringLiteral("selec 1");
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression("^Sqlite: statement failed on access_database.db: near"));
        QCOMPARE(store.get_note(bad), QString());
        QCOMPARE(store.get_note_card(bad), QStringLiteral("sqlcmdfailed"));
    }

    // Each entry is "command => expected reply" ("sql:" runs a statement behind the typed
    // operations' back, " ! " is followed by the start of the failure that is logged); the entries
    // run in order against fresh databases.
    void interpreter_data()
    {
        QTest::addColumn<QStringList>("script");
        const QString p1 = "1.3.1|1|0|a|g||||0|0|0|| => 0";
        const QString r = "|5|c12|1|100|0|1|0|| => 0"; // a record text after its number
        QTest::newRow("repeated keys: fetch gives the first stored, delete and count see them all")
            << QStringList {"sql:insert into person values(3,0,0,'b','','','','',0,0,0,'','') => ",
                   "sql:insert into person values(3,0,0,'c','','','','',0,0,0,'','') => ",
                   "1.4.3 => 0.3|0|0|b|||||0|0|0||", "81.1 => 0.2", "1.2.3 => 0", "81.1 => 0.0",
                   "81.99 => 0."};
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
            << QStringList {"11.1 => 1", "1.9 => 1", " => 1"};
        QTest::newRow("records numbered from the counter, whatever their text says, across a "
                      "clear; settings keys and values travel encoded")
            << QStringList {"3.3.99" + r, "3.4.0 => 0.0|5|c12|1|100|0|1|0||", "3.1 => 0",
                   "3.3.0" + r, "3.4.1 => 0.1|5|c12|1|100|0|1|0||", "20.4.RECORDID => 2",
                   "20.3.a%2Eb.c%2Ed => 0", "20.4.a%2Eb => c.d"};
        QTest::newRow("newest record of a person") << QStringList {"3.3.0|5|a|1|100|0|1|0|| => 0",
            "3.3.0|5|b|1|300|1|1|0|| => 0", "3.3.0|5|c|1|200|0|1|0|| => 0",
            "3.7.5 => 0.1|5|b|1|300|1|1|0||,", "3.8.5.0 => 0.2|5|c|1|200|0|1|0||,", "3.7.4 => 2"};
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

    // A setting that cannot be saved answers "3"; so does a record whose number cannot be saved,
    // and it is not stored, so that no number is given twice.
    void unsavedSettingsAnswerThree()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("sqlconfig.ini")));
        QTest::ignoreMessage(QtWarningMsg, "Sqlite: cannot write LONGOPEN to sqlconfig.ini");
        QCOMPARE(run(QStringLiteral("20.3.LONGOPEN.2")), QStringLiteral("3"));
        QTest::ignoreMessage(QtWarningMsg, "Sqlite: cannot write RECORDID to sqlconfig.ini");
        QCOMPARE(run(QStringLiteral("3.3.0|1")), QStringLiteral("3"));
        QCOMPARE(run(QStringLiteral("81.12")), QStringLiteral("0.0"));
    }

    // A working directory that no longer exists: the files can be neither opened nor created.
    // Every operation waits out the open bound (about five seconds) before it gives up, so they
    // wait side by side, each on a thread of its own.
    void unopenableDatabasesAreReported()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("gone")) && QDir::setCurrent(QStringLiteral("gone")));
        QVERIFY(QDir().rmdir(dir->filePath(QStringLiteral("gone"))));
        const std::function<QString()> calls[]
            = {[] { return Sqlite().get_note_card(QStringLiteral("select * from cardid")); },
                [] { return run(QStringLiteral("1.1")); },
                [] { return QString::number(OperatorDb::get_user_count()); },
                [] {
                    return QString::number(
                        OperatorDb::add_note("user", OperatorDb::builtInSuperUser()));
                }};
        QString replies[4];
        std::unique_ptr<QThread> threads[4];
        cannotOpenCount = 0;
        const QtMessageHandler testLog = qInstallMessageHandler(countCannotOpen);
        for (int i = 0; i < 4; ++i) {
            threads[i].reset(QThread::create([&, i] { replies[i] = calls[i](); }));
            threads[i]->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(60000));
        qInstallMessageHandler(testLog);
        QCOMPARE(cannotOpenCount.load(), 4);
        QCOMPARE(QStringList(std::begin(replies), std::end(replies)),
            QStringList({"openf", "3", "0", "-1"}));
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
        QCOMPARE(run(QStringLiteral("80")), QStringLiteral("0.0.0.0.0.0.0.0.0.0.0.0.0"));
        const int kept = QSqlDatabase::connectionNames().size(); // this thread's, one per file
        for (auto &writer : writers)
            writer->start();
        for (auto &writer : writers)
            QVERIFY(writer->wait(120000));
        QCOMPARE(run(QStringLiteral("80")), QStringLiteral("0.40.0.0.0.0.0.0.0.0.0.39.40"));
        // The writers' connections ended with their threads.
        QCOMPARE(QSqlDatabase::connectionNames().size(), kept);
    }

    void startUpLeavesAnEnabledSuperUser_data()
    {
        QTest::addColumn<QList<QVariantList>>("list"); // written after a first start-up
        QTest::addColumn<QString>("after"); // the stored rows, as get_note gives them
        const QString boss = QString::fromUtf8("boss|pb|超级用户|");
        const QVariant superName = QString::fromUtf8("超级用户");
        QTest::newRow("super-user not enabled: restored")
            << QList<QVariantList> {{"boss", "pb", superName, 0}, {"a", "pa", "op", 1}}
            << boss + "0,a|pa|op|1," + superUser + ',';
        QTest::newRow("built-in name demoted: replaced")
            << QList<QVariantList> {{"dorx", "mine", "op", 1}, {"b", "pb", "op", 1}}
            << "b|pb|op|1," + superUser + ',';
        QTest::newRow("a super-user left: untouched")
            << QList<QVariantList> {{"boss", "pb", superName, 1}} << boss + "1,";
    }

    // A list rewrite may drop every super-user; the next start puts the built-in one back, loudly,
    // so that someone can manage the operators again.
    void startUpLeavesAnEnabledSuperUser()
    {
        QFETCH(QList<QVariantList>, list);
        QFETCH(QString, after);
        OperatorDb::check_sql();
        QCOMPARE(OperatorDb::replace_users(list), 0);
        if (after.endsWith(superUser + ','))
            QTest::ignoreMessage(QtWarningMsg,
                "OperatorDb: no super-user was left in login_sql.db; the built-in super-user "
                "\"dorx\" is back with the default password");
        OperatorDb::check_sql();
        QCOMPARE(OperatorDb::get_note("select * from user"), after);
    }

    // Every step of the check is checked: a refused insert undoes the rest of the repair too.
    void failedStartUpCheckChangesNothing()
    {
        OperatorDb::check_sql();
        QCOMPARE(OperatorDb::replace_users({{"dorx", "mine", "op", 1}}), 0);
        OperatorDb::get_note(QStringLiteral(
            "create trigger ro before insert on user begin select raise(abort, 'ro'); end"));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user.* ro"));
        QTest::ignoreMessage(QtCriticalMsg,
            "OperatorDb: start-up check of login_sql.db failed; the file is left as it was");
        OperatorDb::check_sql();
        QCOMPARE(OperatorDb::get_note("select * from user"), QString("dorx|mine|op|1,"));
    }

    // The login rules, which the login handlers build on. Values are bound, never spliced into
    // statements: quotes are data, and a table name, which cannot be bound, is one of the two.
    void loginRules()
    {
        OperatorDb::check_sql();
        for (const QVariantList &row :
            QList<QVariantList> {{"off", "pw", "op", 0}, {"twice", "first", "op", 1},
                {"twice", "second", "op", 1}, {"o'brien", "it's'); delete from user; --", "op", 1}})
            QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), row), 0);
        // Names compared with their case; not enabled; the first row decides.
        for (const auto &[name, password, allowed] : {std::tuple {"dorx", "6172839405", true},
                 {"dorx", "6172839404", false}, {"Dorx", "6172839405", false},
                 {"nobody", "", false}, {"off", "pw", false}, {"twice", "first", true},
                 {"twice", "second", false}, {"o'brien", "it's'); delete from user; --", true},
                 {"o'brien", "x' or '1'='1", false}})
            QVERIFY2(OperatorDb::login_allowed(name, password) == allowed, name);
        QTest::ignoreMessage(QtWarningMsg, "OperatorDb: refusing insert into unknown table user;x");
        QCOMPARE(OperatorDb::add_note(QStringLiteral("user;x"), {1}), -2);
    }

    // Client keys are chosen by clients: beyond the bound, the key advanced longest ago goes; an
    // update of a key that is not stored stores nothing.
    void countersAreBounded()
    {
        OperatorDb::check_sql();
        OperatorDb::get_note(QStringLiteral("with recursive n(i) as (select 0 union all select i "
                                            "+ 1 from n where i + 1 < ?) insert into txid select "
                                            "'k' || i, 1 from n"),
            {OperatorDb::mostCounters});
        QCOMPARE(OperatorDb::upgrade_txid(QStringLiteral("k0"), 7), 0);
        QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("new")), 0u);
        QCOMPARE(OperatorDb::upgrade_txid(QStringLiteral("k1"), 3), 0);
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select count(*) from txid")),
            QString::number(OperatorDb::mostCounters) + ',');
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select ip, txid from txid where ip in "
                                                     "('k0', 'k1', 'k2', 'new') order by ip")),
            QString("k0|7,k2|1,new|1,"));
    }

    // A thread's kept connection never holds a transaction between operations: work that forgets
    // one has it rolled back, so another writer is not locked out.
    void forgottenTransactionIsRolledBack()
    {
        QVERIFY(sqlExec("kept.db", {"create table t(x int)"}));
        QTest::ignoreMessage(
            QtWarningMsg, "Test: a transaction on kept.db was left open, rolled back");
        QVERIFY(sqlconnection::use("kept.db", "Test", [](QSqlDatabase &db) {
            QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
            QSqlQuery(db).exec(QStringLiteral("insert into t values(4)"));
        }));
        QVERIFY(sqlExec("kept.db", {"BEGIN EXCLUSIVE", "ROLLBACK"}));
        QCOMPARE(sqlRows("kept.db", "select count(*) from t"), QList<QStringList> {{"0"}});
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
