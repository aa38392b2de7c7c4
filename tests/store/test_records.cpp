#include "store/inifile.h"
#include "store/records.h"
#include "store/storetext.h"

#include "sqlfile.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace records;

namespace {

// Builds a pipe text from the kind's field pattern ('n' number, 't' text), each text field holding
// the hostile text with its position appended (so a shifted field shows), and checks that the
// record writes the same pipe text back and that SQLite reads its SQL values form as exactly the
// plain values in column order (sqlOnlyTexts: empty texts the SQL form adds at the end).
template<class R>
void roundTrip(const QString &text, const char *pattern, int sqlOnlyTexts,
    R (*fromStr)(const QString &), QString (*toStr)(R), QString (*toStrDb)(R))
{
    QStringList pipe, values;
    for (int i = 0; pattern[i]; ++i) {
        values << (pattern[i] == 'n' ? QString::number(4000000000u + quint32(i))
                                     : text + QString::number(i));
        pipe << (pattern[i] == 'n' ? values.last() : storetext::encode(values.last()));
    }
    for (int i = 0; i < sqlOnlyTexts; ++i)
        values << QString();
    const R record = fromStr(pipe.join(QLatin1Char('|')));
    QCOMPARE(toStr(record), pipe.join(QLatin1Char('|')));
    const QList<QStringList> rows = sqlRows(":memory:", "select " + toStrDb(record));
    QVERIFY2(rows.size() == 1, qPrintable(toStrDb(record)));
    QCOMPARE(rows[0], values);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The store's text forms: record pipe texts and SQL literals, the encoding of texts inside store
// commands, and values in the hand-edited INI file.
class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void encodingIsReversible_data()
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

    void encodingIsReversible()
    {
        QFETCH(QString, plain);
        QFETCH(QString, encoded);
        QFETCH(bool, exact);
        QCOMPARE(storetext::decode(encoded), plain);
        QCOMPARE(storetext::decode(storetext::encode(plain)), plain);
        if (exact)
            QCOMPARE(storetext::encode(plain), encoded);
    }

    // The one table of hostile texts: every text field of every kind holds the text.
    void everyKindRoundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("quotes ending the statement") << "O'Brien''); delete from person; --";
        QTest::newRow("separators, percent and placeholders") << "a.b|c,d %1 %% %25";
        QTest::newRow("non-ASCII, backslash and line end") << QString::fromUtf8("张三 Zoë a\\b\nc");
        QTest::newRow("NUL character") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    }

    void everyKindRoundTrips()
    {
        QFETCH(QString, text);
        roundTrip(text, "nnntttttnnntt", 0, person_from_str, person_to_str, person_to_str_db);
        roundTrip(text, "nttttt", 0, cardid_from_str, cardid_to_str, cardid_to_str_db);
        roundTrip(text, "nntnnnnntt", 0, record_from_str, record_to_str, record_to_str_db);
        roundTrip(text, "nnnnnnnnnnnnnnnnntt", 0, permit_from_str, permit_to_str, permit_to_str_db);
        roundTrip(text, "nnnnnnnnnnnn", 2, doorset_from_str, doorset_to_str, doorset_to_str_db);
        roundTrip(text, "nnnnnnnnntt", 0, warrant_from_str, warrant_to_str, warrant_to_str_db);
        roundTrip(
            text, "nnntttttttttnttt", 0, timezone_from_str, timezone_to_str, timezone_to_str_db);
        roundTrip(text, "ntnntt", 0, holiday_from_str, holiday_to_str, holiday_to_str_db);
        roundTrip(text, "ntntt", 0, specialday_from_str, specialday_to_str, specialday_to_str_db);
        roundTrip(text, "nnnnnnnnttn", 0, stay_from_str, stay_to_str, stay_to_str_db);
    }

    void fixedForms()
    {
        QCOMPARE(person_to_str(person_from_str(QString())), "0|0|0||||||0|0|0||");
        // Bad numbers read 0, missing sections 0 or empty.
        QCOMPARE(person_to_str(person_from_str("7|abc|-1")), "7|0|0||||||0|0|0||");
        // Numbers: decimal digits only, at most 32 bits.
        QCOMPARE(record_to_str(record_from_str("007|4294967295|c|+5| 5|0x10|4294967296")),
            "7|4294967295|c|0|0|0|0|0||");
        QCOMPARE(cardid_to_str(cardid_from_str("1|a|b|c|d|e|f|g")), "1|a|b|c|d|e");
        // The stay's fgzrflag comes last in both forms, its mode goes bare into SQL.
        QCOMPARE(stay_to_str_db(stay_from_str("0|0|0|0|0|5|0|0|f||1")), "0,0,0,0,0,5,0,0,'f','',1");
        QCOMPARE(holiday_to_str_db(holiday_from_str("1|0501|1|2")), "1,'0501',1,'2','',''");
        DoorSetStruct doorset; // its form texts live in SQL only
        doorset.form1 = QStringLiteral("kept");
        QCOMPARE(doorset_to_str_db(doorset), "0,0,0,0,0,0,0,0,0,0,0,0,'kept',''");
    }

    // The rule is SQLite's own: a text is kept when an integer column gives it back unchanged.
    void numericColumnsKeep()
    {
        const QTemporaryDir dir;
        const QString file = dir.filePath("n.db");
        for (const QString text : {"20240101", "-5", "9223372036854775807", "08:00-12:00", "0101",
                 "-0", " +12\n", "1.0", "1e2", "9223372036854775808"}) {
            QVERIFY(sqlExec(file,
                {"create table if not exists n(a int)", "delete from n", "insert into n values(?)"},
                {text}));
            QVERIFY2(storetext::keptByNumericColumn(text)
                    == (sqlRows(file, "select a from n") == QList<QStringList> {{text}}),
                qPrintable(text));
        }
    }

    // DORXWebOnDevice.ini is kept by people with comments: only the group's own keys change.
    void iniWritesOnlyTheGroupsKeys_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-" for no file
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("no file yet")
            << QByteArray("-") << QByteArray("[login]\nname=n\npassword=p\n");
        QTest::newRow("group added at the end")
            << QByteArray("; sample\n[listener]\nhost=\n")
            << QByteArray("; sample\n[listener]\nhost=\n\n[login]\nname=n\npassword=p\n");
        QTest::newRow("last line without line end")
            << QByteArray("[a]\nx=1") << QByteArray("[a]\nx=1\n\n[login]\nname=n\npassword=p\n");
        QTest::newRow("keys replaced where they stand")
            << QByteArray("[login]\n; who\nname = old\nfileroot=/up\npassword=old\n\n[x]\ny=2\n")
            << QByteArray("[login]\n; who\nname=n\nfileroot=/up\npassword=p\n\n[x]\ny=2\n");
        QTest::newRow("new keys at the start of the group")
            << QByteArray("[login]\nfileroot=/up\r\n[x]\nname=other group\n")
            << QByteArray("[login]\nname=n\npassword=p\nfileroot=/up\r\n[x]\nname=other group\n");
        QTest::newRow("later lines of a key dropped")
            << QByteArray("[login]\nname=a\nname=b\n;name=c\n")
            << QByteArray("[login]\npassword=p\nname=n\n;name=c\n");
    }

    void iniWritesOnlyTheGroupsKeys()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QTemporaryDir dir;
        const QString path = dir.filePath("DORXWebOnDevice.ini");
        QFile file(path);
        QVERIFY(before == "-" || (file.open(QIODevice::WriteOnly) && file.write(before) > 0));
        file.close();
        QVERIFY(inifile::writeGroup(path, "login", {{"name", "n"}, {"password", "p"}}));
        QCOMPARE(readFile(path), after);
        QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions()); // it holds a password
    }

    void iniValuesReadBackAsWritten()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath("a.ini");
        for (const QString &value : {QString(), QString::fromUtf8("门卫"),
                 QString("a;b, \"c\" = d # e"), QString("x\ny\\z"), QString("@Invalid() ")}) {
            QVERIFY(inifile::writeGroup(path, "login", {{"name", value}, {"password", value}}));
            QSettings settings(path, QSettings::IniFormat);
            settings.setIniCodec("UTF-8");
            QCOMPARE(settings.value("login/name").toString(), value);
            QCOMPARE(settings.value("login/password").toString(), value);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
