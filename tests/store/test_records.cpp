#include "store/records.h"
#include "store/storetext.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using namespace records;

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void encodingIsReversible_data();
    void encodingIsReversible();
    void everyKindRoundTrips_data();
    void everyKindRoundTrips();
    void fixedForms_data();
    void fixedForms();
    void numericColumnsKeep_data();
    void numericColumnsKeep();

private:
    template<class R>
    void roundTrip(const QString &text, const char *pattern, int sqlOnlyTexts,
        R (*fromStr)(const QString &), QString (*toStr)(R), QString (*toStrDb)(R));
};

namespace {
const char connection[] = "literals";
}

void TestRecords::initTestCase()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(QStringLiteral(":memory:"));
    QVERIFY(db.open());
}

void TestRecords::cleanupTestCase()
{
    QSqlDatabase::database(connection).close();
    QSqlDatabase::removeDatabase(connection);
}

void TestRecords::encodingIsReversible_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("encoded");
    QTest::addColumn<bool>("exact"); // false: an encoding that decode accepts but never writes
    QTest::newRow("the four separators encoded, nothing else")
        << QString::fromUtf8("O'Brien 张三 a.b|c,d 5%1")
        << QString::fromUtf8("O'Brien 张三 a%2Eb%7Cc%2Cd 5%251") << true;
    QTest::newRow("escape-looking text") << QStringLiteral("%2E") << "%252E" << true;
    QTest::newRow("lower-case hex decoded") << QStringLiteral("a.b|c") << "a%2eb%7cc" << false;
    QTest::newRow("any other percent kept")
        << QStringLiteral("%41%zz %2 5%") << "%41%zz %2 5%" << false;
}

void TestRecords::encodingIsReversible()
{
    QFETCH(QString, plain);
    QFETCH(QString, encoded);
    QFETCH(bool, exact);
    QCOMPARE(storetext::decode(encoded), plain);
    QCOMPARE(storetext::decode(storetext::encode(plain)), plain);
    if (exact)
        QCOMPARE(storetext::encode(plain), encoded);
}

// Builds a pipe text from the kind's field pattern ('n' number, 't' text), each text field holding
// the hostile text with its position appended (so a shifted field shows), parses it, and checks
// that the record writes the same pipe text back and that its SQL values form, run by SQLite,
// yields exactly the plain values in column order.
template<class R>
void TestRecords::roundTrip(const QString &text, const char *pattern, int sqlOnlyTexts,
    R (*fromStr)(const QString &), QString (*toStr)(R), QString (*toStrDb)(R))
{
    QStringList pipe;
    QStringList values;
    for (int i = 0; pattern[i]; ++i) {
        if (pattern[i] == 'n') {
            pipe << QString::number(4000000000u + quint32(i));
            values << pipe.last();
        } else {
            values << text + QString::number(i);
            pipe << storetext::encode(values.last());
        }
    }
    for (int i = 0; i < sqlOnlyTexts; ++i)
        values << QString();
    const QString pipeText = pipe.join(QLatin1Char('|'));
    const R record = fromStr(pipeText);
    QCOMPARE(toStr(record), pipeText);

    QSqlQuery query(QSqlDatabase::database(connection));
    QVERIFY2(query.exec(QStringLiteral("select ") + toStrDb(record)), qPrintable(toStrDb(record)));
    QVERIFY(query.next());
    QCOMPARE(query.record().count(), values.size());
    for (int i = 0; i < values.size(); ++i)
        QCOMPARE(query.value(i).toString(), values.at(i));
}

// The one table of hostile texts: every text field of every kind holds the text.
void TestRecords::everyKindRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("quotes ending the statement")
        << QStringLiteral("O'Brien''); delete from person; --");
    QTest::newRow("separators, percent and placeholders") << QStringLiteral("a.b|c,d %1 %% %25");
    QTest::newRow("non-ASCII, backslash and line end") << QString::fromUtf8("张三 Zoë a\\b\nc");
    QTest::newRow("NUL character") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
}

void TestRecords::everyKindRoundTrips()
{
    QFETCH(QString, text);
    roundTrip(text, "nnntttttnnntt", 0, person_from_str, person_to_str, person_to_str_db);
    roundTrip(text, "nttttt", 0, cardid_from_str, cardid_to_str, cardid_to_str_db);
    roundTrip(text, "nntnnnnntt", 0, record_from_str, record_to_str, record_to_str_db);
    roundTrip(text, "nnnnnnnnnnnnnnnnntt", 0, permit_from_str, permit_to_str, permit_to_str_db);
    roundTrip(text, "nnnnnnnnnnnn", 2, doorset_from_str, doorset_to_str, doorset_to_str_db);
    roundTrip(text, "nnnnnnnnntt", 0, warrant_from_str, warrant_to_str, warrant_to_str_db);
    roundTrip(text, "nnntttttttttnttt", 0, timezone_from_str, timezone_to_str, timezone_to_str_db);
    roundTrip(text, "ntnntt", 0, holiday_from_str, holiday_to_str, holiday_to_str_db);
    roundTrip(text, "ntntt", 0, specialday_from_str, specialday_to_str, specialday_to_str_db);
    roundTrip(text, "nnnnnnnnttn", 0, stay_from_str, stay_to_str, stay_to_str_db);
}

void TestRecords::fixedForms_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty text parses to zeros and empty texts")
        << person_to_str(person_from_str(QString())) << "0|0|0||||||0|0|0||";
    QTest::newRow("bad numbers read 0, missing sections 0 or empty")
        << person_to_str(person_from_str(QStringLiteral("7|abc|-1"))) << "7|0|0||||||0|0|0||";
    QTest::newRow("numbers: decimal digits only, at most 32 bits")
        << record_to_str(record_from_str(QStringLiteral("007|4294967295|c|+5| 5|0x10|4294967296")))
        << "7|4294967295|c|0|0|0|0|0||";
    QTest::newRow("sections beyond the kind ignored")
        << cardid_to_str(cardid_from_str(QStringLiteral("1|a|b|c|d|e|f|g"))) << "1|a|b|c|d|e";

    QTest::newRow("stay fgzrflag last in both forms, mode bare in SQL") << stay_to_str_db(
        stay_from_str(QStringLiteral("0|0|0|0|0|5|0|0|f||1"))) << "0,0,0,0,0,5,0,0,'f','',1";
    QTest::newRow("holiday type quoted in SQL")
        << holiday_to_str_db(holiday_from_str(QStringLiteral("1|0501|1|2")))
        << "1,'0501',1,'2','',''";

    DoorSetStruct doorset;
    doorset.doornum = 1;
    doorset.direction = 2;
    doorset.enable = 1;
    doorset.form1 = QStringLiteral("kept");
    QTest::newRow("doorset SQL carries fourteen literals")
        << doorset_to_str_db(doorset) << "1,2,0,0,0,0,0,0,0,0,0,1,'kept',''";
}

void TestRecords::fixedForms()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void TestRecords::numericColumnsKeep_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("kept");
    QTest::newRow("date") << "20240101" << true;
    QTest::newRow("negative integer") << "-5" << true;
    QTest::newRow("largest 64-bit integer") << "9223372036854775807" << true;
    QTest::newRow("text that is no number") << "08:00-12:00" << true;
    QTest::newRow("leading zero") << "0101" << false;
    QTest::newRow("minus zero") << "-0" << false;
    QTest::newRow("sign and spaces around") << " +12\n" << false;
    QTest::newRow("fraction of zero") << "1.0" << false;
    QTest::newRow("exponent") << "1e2" << false;
    QTest::newRow("beyond 64 bits") << "9223372036854775808" << false;
}

// The rule is SQLite's own: what it reports kept comes back from an integer column unchanged, and
// what it reports changed does not.
void TestRecords::numericColumnsKeep()
{
    QFETCH(QString, text);
    QFETCH(bool, kept);
    QCOMPARE(storetext::keptByNumericColumn(text), kept);
    QSqlQuery query(QSqlDatabase::database(connection));
    QVERIFY(query.exec(QStringLiteral("create temp table if not exists n(a int)")));
    QVERIFY(query.exec(QStringLiteral("delete from n")));
    QVERIFY(query.prepare(QStringLiteral("insert into n values(?)")));
    query.addBindValue(text);
    QVERIFY(query.exec());
    QVERIFY(query.exec(QStringLiteral("select a from n")) && query.next());
    QCOMPARE(query.value(0).toString() == text, kept);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
