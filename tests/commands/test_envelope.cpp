#include "commands/envelope.h"
#include "commands/txdeal.h"
#include "crypto/aescipher.h"
#include "dispatch/operatordb.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <clocale>

// The message envelope of the encrypted commands, exercised without a server: the working
// directory is a temporary one holding "sqlconfig.ini" and "login_sql.db".
class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void decode_aes_data();
    void decode_aes();
    void decode_aes_skips_characters_outside_base64();
    void json_to_qstring_data();
    void json_to_qstring();
    void json_to_uint_data();
    void json_to_uint();
    void QstringToJson_data();
    void QstringToJson();
    void text_that_is_no_json_is_logged();
    void texts_stay_utf8_under_a_latin1_locale();
    void reply_text_is_indented_and_sorted();
    void reply_without_serial_number_file();
    void data_array_with_count_zero_is_empty();
    void data_array_keeps_order();
    void counter_first_use();
    void counter_wraps_data();
    void counter_wraps();
    void delay_s_waits_and_serves_events();

private:
    static QByteArray opened(const QString &reply) { return envelope::open(reply.toLatin1()); }

    QTemporaryDir workDir;
};

void TestEnvelope::initTestCase()
{
    QVERIFY(workDir.isValid());
    QVERIFY(QDir::setCurrent(workDir.path()));
    OperatorDb::check_sql();
}

void TestEnvelope::init()
{
    QFile::remove(QStringLiteral("sqlconfig.ini"));
    QVERIFY(TxDeal::write_userset(QStringLiteral("DEVICESN"), QStringLiteral("12345")));
}

void TestEnvelope::decode_aes_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("plain");

    const QByteArray json = "{\"id\":12}";
    QTest::newRow("sealed text opens")
        << QString::fromLatin1(envelope::seal(json)) << QString::fromLatin1(json);
    QTest::newRow("15 characters are too short")
        << QStringLiteral("QUJDREVGR0hJSktM").left(15) << QString();
    QTest::newRow("16 characters decoding to 12 bytes")
        << QString::fromLatin1(QByteArray(12, 'x').toBase64()) << QString();
    QTest::newRow("20 bytes are not whole blocks")
        << QString::fromLatin1(QByteArray(20, 'x').toBase64()) << QString();
    QTest::newRow("only zero bytes")
        << QString::fromLatin1(envelope::seal(QByteArray(32, '\0'))) << QString();
    QTest::newRow("cut at the first zero byte")
        << QString::fromLatin1(envelope::seal(QByteArray("abc\0def", 7))) << QStringLiteral("abc");
    QTest::newRow("not Base64 at all") << QStringLiteral("%%%%%%%%%%%%%%%%%%%%%%%%") << QString();
    QTest::newRow("UTF-8 text survives")
        << QString::fromLatin1(envelope::seal(QString::fromUtf8("门禁").toUtf8()))
        << QString::fromUtf8("门禁");
}

void TestEnvelope::decode_aes()
{
    QFETCH(QString, body);
    QFETCH(QString, plain);
    QCOMPARE(TxDeal::decode_aes(body), plain);
}

void TestEnvelope::decode_aes_skips_characters_outside_base64()
{
    QString body = QString::fromLatin1(envelope::seal("{\"order\":3}"));
    body.insert(4, QStringLiteral("\r\n*"));
    QCOMPARE(TxDeal::decode_aes(body), QStringLiteral("{\"order\":3}"));
}

void TestEnvelope::json_to_qstring_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("text");
    QTest::newRow("number 12 is echoed as text") << "{\"id\":12}"
                                                 << "12";
    QTest::newRow("number 1.5 counts as 0") << "{\"id\":1.5}"
                                            << "0";
    QTest::newRow("negative whole number") << "{\"id\":-7}"
                                           << "-7";
    QTest::newRow("beyond 32 bits counts as 0") << "{\"id\":3000000000}"
                                                << "0";
    QTest::newRow("string unchanged") << "{\"id\":\"A-1\"}"
                                      << "A-1";
    QTest::newRow("missing gives empty") << "{}"
                                         << "";
    QTest::newRow("null gives empty") << "{\"id\":null}"
                                      << "";
    QTest::newRow("true gives empty") << "{\"id\":true}"
                                      << "";
    QTest::newRow("array gives empty") << "{\"id\":[1]}"
                                       << "";
}

void TestEnvelope::json_to_qstring()
{
    QFETCH(QString, json);
    QFETCH(QString, text);
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    QCOMPARE(TxDeal::json_to_qstring(object.value(QLatin1String("id"))), text);
}

void TestEnvelope::json_to_uint_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<quint32>("number");
    QTest::newRow("number 3") << "{\"order\":3}" << 3u;
    QTest::newRow("string 3 selects the same as 3") << "{\"order\":\"3\"}" << 3u;
    QTest::newRow("-1 wraps to the largest value") << "{\"order\":-1}" << 4294967295u;
    QTest::newRow("fraction counts as 0") << "{\"order\":2.5}" << 0u;
    QTest::newRow("string not a number") << "{\"order\":\"3a\"}" << 0u;
    QTest::newRow("empty string") << "{\"order\":\"\"}" << 0u;
    QTest::newRow("missing order reads as 0") << "{}" << 0u;
    QTest::newRow("object gives 0") << "{\"order\":{}}" << 0u;
}

void TestEnvelope::json_to_uint()
{
    QFETCH(QString, json);
    QFETCH(quint32, number);
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    QCOMPARE(TxDeal::json_to_uint(object.value(QLatin1String("order"))), number);
}

void TestEnvelope::QstringToJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("members");
    QTest::newRow("object") << "{\"id\":1,\"order\":2}" << 2;
    QTest::newRow("array gives an empty object") << "[1,2]" << 0;
    QTest::newRow("text after a zero character is ignored")
        << QString::fromLatin1("{\"id\":1}\0garbage", 16) << 1;
}

void TestEnvelope::QstringToJson()
{
    QFETCH(QString, text);
    QFETCH(int, members);
    QCOMPARE(TxDeal::QstringToJson(text).size(), members);
}

void TestEnvelope::text_that_is_no_json_is_logged()
{
    QTest::ignoreMessage(QtDebugMsg, "String NULL {\"id\":");
    QVERIFY(TxDeal::QstringToJson(QStringLiteral("{\"id\":")).isEmpty());
}

void TestEnvelope::texts_stay_utf8_under_a_latin1_locale()
{
    // The device may run under the C locale; names must not turn into "?" on the way.
    QTextCodec *before = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const QString name = QString::fromUtf8("张三");
    const QString decoded = TxDeal::decode_aes(QString::fromLatin1(
        envelope::seal(QString::fromUtf8("{\"datas\":{\"username\":\"张三\"}}").toUtf8())));
    const QJsonObject object = TxDeal::QstringToJson(decoded);
    QVERIFY(TxDeal::write_userset(QStringLiteral("DEVICESN"), name));
    const QString stored = TxDeal::read_userset(QStringLiteral("DEVICESN"));
    const QByteArray reply = opened(TxDeal::sendback_respond(name, 1));
    QTextCodec::setCodecForLocale(before);

    QCOMPARE(object.value(QLatin1String("datas")).toObject().value(QLatin1String("username")),
        QJsonValue(name));
    QCOMPARE(stored, name);
    QVERIFY(reply.contains(QString::fromUtf8("\"id\": \"张三\"").toUtf8()));
}

void TestEnvelope::reply_text_is_indented_and_sorted()
{
    QJsonObject datas;
    datas.insert(QStringLiteral("name"), QStringLiteral("a"));
    datas.insert(QStringLiteral("count"), 2);
    QCOMPARE(opened(TxDeal::sendback_respond(QStringLiteral("12"), 1)),
        QByteArray("{\n"
                   "    \"devicesn\": \"12345\",\n"
                   "    \"id\": \"12\",\n"
                   "    \"respond\": 1\n"
                   "}\n"));
    QCOMPARE(opened(TxDeal::sendback_data(QString(), 3, datas)),
        QByteArray("{\n"
                   "    \"datas\": {\n"
                   "        \"count\": 2,\n"
                   "        \"name\": \"a\"\n"
                   "    },\n"
                   "    \"devicesn\": \"12345\",\n"
                   "    \"id\": \"\",\n"
                   "    \"respond\": 3\n"
                   "}\n"));
}

void TestEnvelope::reply_without_serial_number_file()
{
    QFile::remove(QStringLiteral("sqlconfig.ini"));
    const QJsonObject reply
        = QJsonDocument::fromJson(opened(TxDeal::sendback_respond(QStringLiteral("1"), 2)))
              .object();
    QCOMPARE(reply.value(QLatin1String("devicesn")), QJsonValue(QString()));
    QCOMPARE(reply.value(QLatin1String("respond")), QJsonValue(2));
}

void TestEnvelope::data_array_with_count_zero_is_empty()
{
    const QJsonObject item {{QStringLiteral("a"), 1}};
    const QJsonObject reply = QJsonDocument::fromJson(
        opened(TxDeal::sendback_data_array(QStringLiteral("9"), 1, &item, 0)))
                                  .object();
    QCOMPARE(reply.value(QLatin1String("datas")), QJsonValue(QJsonArray()));
}

void TestEnvelope::data_array_keeps_order()
{
    const QJsonObject items[3]
        = {{{QStringLiteral("n"), 3}}, {{QStringLiteral("n"), 1}}, {{QStringLiteral("n"), 2}}};
    const QJsonObject reply
        = QJsonDocument::fromJson(opened(TxDeal::sendback_data_array(QString(), 1, items, 2)))
              .object();
    QCOMPARE(reply.value(QLatin1String("datas")).toArray(), QJsonArray({items[0], items[1]}));
}

void TestEnvelope::counter_first_use()
{
    const QString key = QStringLiteral("10.0.0.9first");
    const QJsonObject object = TxDeal::get_txid_obj(key);
    QCOMPARE(object, QJsonObject({{QStringLiteral("txid"), 1}}));
    const QJsonObject reply = QJsonDocument::fromJson(
        opened(TxDeal::sendback_data_txid(QStringLiteral("5"), 1, object, key)))
                                  .object();
    QCOMPARE(reply.value(QLatin1String("txid")), QJsonValue(2));
    QCOMPARE(reply.value(QLatin1String("datas")).toObject(), object);
    QCOMPARE(OperatorDb::get_txid_db(key), 2u);
}

void TestEnvelope::counter_wraps_data()
{
    QTest::addColumn<uint>("stored");
    QTest::addColumn<int>("next");
    QTest::newRow("counts on below the top") << 4999999u << 5000000;
    QTest::newRow("5000000 starts again at 1") << 5000000u << 1;
    QTest::newRow("a value beyond the range starts again at 1") << 4000000000u << 1;
    QTest::newRow("the largest unsigned value starts again at 1") << 4294967295u << 1;
}

void TestEnvelope::counter_wraps()
{
    QFETCH(uint, stored);
    QFETCH(int, next);
    const QString key = QStringLiteral("wrap-%1").arg(stored);
    OperatorDb::get_txid_db(key);
    QCOMPARE(OperatorDb::upgrade_txid(key, stored), 0);
    QCOMPARE(TxDeal::get_txid_obj(key).value(QLatin1String("txid")), QJsonValue(next));
    const QJsonObject reply = QJsonDocument::fromJson(
        opened(TxDeal::sendback_data_txid(QString(), 1, QJsonObject(), key)))
                                  .object();
    QCOMPARE(reply.value(QLatin1String("txid")), QJsonValue(next));
    QCOMPARE(OperatorDb::get_txid_db(key), uint(next));
}

void TestEnvelope::delay_s_waits_and_serves_events()
{
    bool served = false;
    QTimer::singleShot(0, this, [&served] { served = true; });
    QElapsedTimer clock;
    clock.start();
    TxDeal::delay_s(1);
    QVERIFY(served);
    QVERIFY(clock.elapsed() >= 1000);
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "test_envelope.moc"
