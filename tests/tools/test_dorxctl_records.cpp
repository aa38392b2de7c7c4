#include "dorxctlrun.h"
#include "serverprocess.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Run = DorxctlRun;

// The installer's record commands of dorxctl against the real server, a fresh server and login for
// every test.
class TestDorxctlRecords : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void helpExamplesWork();
    void listsEveryPageAndRange();
    void textsComeBackAsGiven();
    void errors_data();
    void errors();

private:
    Run dorxctl(const QStringList &arguments);
    // Inserts rows into a table of the server, as the access daemon would.
    void insert(const QString &file, const QString &table, int rows, int columns);

    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<QTemporaryDir> home;
};

void TestDorxctlRecords::init()
{
    server = std::make_unique<ServerProcess>();
    server->writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server->start(), server->output().constData());
    home = std::make_unique<QTemporaryDir>();
    const Run login = dorxctl({"--url", QStringLiteral("http://127.0.0.1:%1").arg(server->port()),
        "--devicesn", "12345", "login", "dorx", "6172839405"});
    QVERIFY2(login.exitCode == 0, login.err.constData());
}

void TestDorxctlRecords::cleanup()
{
    server.reset();
    home.reset();
}

Run TestDorxctlRecords::dorxctl(const QStringList &arguments)
{
    return Run::run(arguments, home->filePath(QStringLiteral("state")));
}

void TestDorxctlRecords::insert(const QString &file, const QString &table, int rows, int columns)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "daemon");
        db.setDatabaseName(server->filePath(file));
        QVERIFY(db.open() && db.transaction());
        QSqlQuery query(db);
        // Row i holds i in every column; stored from the last to the first.
        for (int i = rows - 1; i >= 0; --i) {
            QStringList values;
            for (int column = 0; column < columns; ++column)
                values << QString::number(i);
            QVERIFY(query.exec(
                QStringLiteral("insert into %1 values(%2)").arg(table, values.join(','))));
        }
        QVERIFY(db.commit());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("daemon"));
}

// Every example of the help runs, and the record it added reads back with its values.
void TestDorxctlRecords::helpExamplesWork()
{
    const Run help = dorxctl({"--help"});
    QCOMPARE(help.exitCode, 0);
    int examples = 0;
    for (const QString &line : QString::fromUtf8(help.out).split('\n')) {
        if (!line.startsWith(QLatin1String("      dorxctl ")))
            continue;
        ++examples;
        const QStringList words = line.trimmed().split(' ').mid(1);
        const Run run = dorxctl(words);
        QVERIFY2(run.exitCode == 0, qPrintable(line + ": " + run.err));
        if (words.at(0) != QLatin1String("add") || words.at(1) == QLatin1String("doorset"))
            continue;
        const QString key = words.at(2).section('=', 1);
        const Run shown = dorxctl({"show", words.at(1), key});
        QVERIFY2(shown.exitCode == 0, shown.err.constData());
        // Numbers print bare, texts quoted.
        for (const QString &assignment : words.mid(2)) {
            const QString quoted
                = assignment.section('=', 0, 0) + "=\"" + assignment.section('=', 1) + '"';
            const QByteArray line = ' ' + shown.out.trimmed() + ' ';
            QVERIFY2(line.contains(' ' + assignment.toUtf8() + ' ')
                    || line.contains(' ' + quoted.toUtf8() + ' '),
                qPrintable(assignment + " in " + shown.out));
        }
    }
    QCOMPARE(examples, 10);
}

// 205 persons take three pages; 600 access records, asked for by numbers 100 to 399, take two
// range replies.
void TestDorxctlRecords::listsEveryPageAndRange()
{
    insert(QStringLiteral("access_database.db"), QStringLiteral("person"), 205, 13);
    insert(QStringLiteral("record_database.db"), QStringLiteral("record"), 600, 10);

    Run run = dorxctl({"list", "person"});
    QCOMPARE(run.exitCode, 0);
    QStringList lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 205);
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY(lines.at(i).startsWith(QStringLiteral("personid=%1 ").arg(i)));

    run = dorxctl({"records", "100", "399"});
    QCOMPARE(run.exitCode, 0);
    lines = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines.size(), 300);
    QVERIFY(lines.first().startsWith("recordid=100 personid=100 cardid=\"100\" type=100 "));

    run = dorxctl({"records", "1000", "4294967295"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(dorxctl({"list", "warrant"}).out, QByteArray());
}

void TestDorxctlRecords::textsComeBackAsGiven()
{
    const QString text = QString::fromUtf8("a.b|c,\"d\" %2E 张三");
    QCOMPARE(
        dorxctl({"add", "cardid", "personid=5", "cardid=" + text}).out, QByteArray("stored\n"));
    QCOMPARE(dorxctl({"add", "person", "personid=5", "name=" + text}).exitCode, 0);
    const QByteArray quoted = QString::fromUtf8("\"a.b|c,\\\"d\\\" %2E 张三\"").toUtf8();
    QCOMPARE(dorxctl({"show", "cardid", "5"}).out,
        "personid=5 cardid=" + quoted + " fingerid=\"\" xp=\"\"\n");
    QVERIFY(dorxctl({"show", "person", "5"}).out.contains(" name=" + quoted + " "));

    QCOMPARE(dorxctl({"delete", "cardid", "5"}).out, QByteArray("deleted\n"));
    const Run gone = dorxctl({"show", "cardid", "5"});
    QCOMPARE(gone.exitCode, 3);
    QCOMPARE(gone.err, QByteArray("dorxctl: no such record (respond 4)\n"));
    QCOMPARE(dorxctl({"clear", "person"}).out, QByteArray("cleared\n"));
    QCOMPARE(dorxctl({"list", "person"}).out, QByteArray());
}

void TestDorxctlRecords::errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown kind") << QStringList {"list", "people"} << 2
                                  << "dorxctl: usage: dorxctl list KIND ..., KIND one of person";
    QTest::newRow("unknown field") << QStringList {"add", "person", "personid=1", "nmae=x"} << 2
                                   << "dorxctl: not FIELD=VALUE with a field of person";
    QTest::newRow("not a number") << QStringList {"add", "permit", "permitrank=-1"} << 2
                                  << "dorxctl: permitrank must be a number";
    QTest::newRow("number beyond 32 bits") << QStringList {"show", "person", "4294967296"} << 2
                                           << "dorxctl: 4294967296 is not a number (personid)";
    QTest::newRow("key left out") << QStringList {"add", "stay", "enable=1"} << 2
                                  << "dorxctl: stay needs its key stayid";
    QTest::newRow("door settings need door and direction") << QStringList {
        "delete", "doorset", "1"} << 2 << "dorxctl: usage: dorxctl delete doorset DOOR DIRECTION";
    QTest::newRow("door settings are not read back") << QStringList {
        "list", "doorset"} << 2 << "dorxctl: the device cannot read door settings back";
    QTest::newRow("access records are the daemon's") << QStringList {"add", "record",
        "recordid=1"} << 2 << "dorxctl: access records are added by the access daemon";
    QTest::newRow("range upside down")
        << QStringList {"records", "5", "4"} << 2 << "dorxctl: usage: dorxctl records FIRST LAST";
    QTest::newRow("text the device would change") << QStringList {"add", "holiday", "holidayid=1",
        "daytime=0101"} << 3 << "dorxctl: the device refused the order or a text";
}

void TestDorxctlRecords::errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Run run = dorxctl(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(message.toUtf8()), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestDorxctlRecords)
#include "test_dorxctl_records.moc"
