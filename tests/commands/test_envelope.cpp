#include "commands/txdeal.h"
#include "crypto/envelope.h"
#include "store/operatordb.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

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
    void json_values_data();
    void json_values();
    void QstringToJson_data();
    void QstringToJson();
    void texts_stay_utf8_under_a_latin1_locale();
    void reply_text_is_exact();
    void data_array_takes_count_items();
    void counter_wraps_data();
    void counter_wraps();
    void delay_s_waits_and_serves_events();

private:
    QTemporaryDir workDir;
};

namespace {

QString sealedText(const QByteArray &plain)
{
    return QString::fromLatin1(envelope::seal(plain));
}

QJsonObject openedReply(const QString &reply)
{
    return QJsonDocument::fromJson(envelope::open(reply.toLatin1())).object();
}

} // namespace

void TestEnvelope::initTestCase()
{
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
    QString noisy = sealedText("{\"order\":3}");
    noisy.insert(4, QStringLiteral("\r\n*"));
    QTest::newRow("sealed text opens") << sealedText("{\"id\":12}") << "{\"id\":12}";
    QTest::newRow("characters outside Base64 skipped") << noisy << "{\"order\":3}";
    QTest::newRow("UTF-8 text survives") << sealedText("门禁") << QString::fromUtf8("门禁");
    QTest::newRow("15 characters are too short") << sealedText("x").left(15) << QString();
    QTest::newRow("16 characters decoding to 12 bytes")
        << QString::fromLatin1(QByteArray(12, 'x').toBase64()) << QString();
    QTest::newRow("not Base64 at all") << QString(24, QLatin1Char('%')) << QString();
    QTest::newRow("only zero bytes") << sealedText(QByteArray(32, '\0')) << QString();
    QTest::newRow("cut at the first zero byte")
        << sealedText(QByteArray("abc\0def", 7)) << QStringLiteral("abc");
}

void TestEnvelope::decode_aes()
{
    QFETCH(QString, body);
    QFETCH(QString, plain);
    QCOMPARE(TxDeal::decode_aes(body), plain);
}

void TestEnvelope::json_values_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("number");
    QTest::newRow("number 12 is echoed as text") << QByteArray("12") << "12" << 12u;
    QTest::newRow("number 1.5 counts as 0") << QByteArray("1.5") << "0" << 0u;
    QTest::newRow("-1 wraps to the largest unsigned") << QByteArray("-1") << "-1" << 4294967295u;
    QTest::newRow("beyond 32 bits counts as 0") << QByteArray("3000000000") << "0" << 0u;
    QTest::newRow("string 3 selects the same as 3") << QByteArray("\"3\"") << "3" << 3u;
    QTest::newRow("string not a number") << QByteArray("\"3a\"") << "3a" << 0u;
    QTest::newRow("missing") << QByteArray() << "" << 0u;
    QTest::newRow("null") << QByteArray("null") << "" << 0u;
    QTest::newRow("true") << QByteArray("true") << "" << 0u;
    QTest::newRow("object") << QByteArray("{}") << "" << 0u;
}

// json_to_qstring reads "id" and "devicesn", json_to_uint reads "order".
void TestEnvelope::json_values()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, text);
    QFETCH(quint32, number);
    const QJsonObject object
        = QJsonDocument::fromJson(json.isEmpty() ? "{}" : "{\"v\":" + json + '}').object();
    QCOMPARE(TxDeal::json_to_qstring(object.value(QLatin1String("v"))), text);
    QCOMPARE(TxDeal::json_to_uint(object.value(QLatin1String("v"))), number);
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
    QTest::ignoreMessage(QtDebugMsg, "String NULL {\"id\":");
    QVERIFY(TxDeal::QstringToJson(QStringLiteral("{\"id\":")).isEmpty());
}

// The device may run under the C locale; names must not turn into "?" on the way.
void TestEnvelope::texts_stay_utf8_under_a_latin1_locale()
{
    QTextCodec *before = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const QString name = QString::fromUtf8("张三");
    const QJsonObject object
        = TxDeal::QstringToJson(TxDeal::decode_aes(sealedText("{\"name\":\"张三\"}")));
    QVERIFY(TxDeal::write_userset(QStringLiteral("DEVICESN"), name));
    const QJsonObject reply = openedReply(TxDeal::sendback_respond(name, 1));
    QTextCodec::setCodecForLocale(before);
    QCOMPARE(object.value("name").toString(), name);
    QCOMPARE(reply.value("devicesn").toString() + reply.value("id").toString(), name + name);
}

void TestEnvelope::reply_text_is_exact()
{
    const QJsonObject datas {{"name", "a"}, {"count", 2}};
    QCOMPARE(envelope::open(TxDeal::sendback_data(QStringLiteral("12"), 3, datas).toLatin1()),
        QByteArray("{\n"
                   "    \"datas\": {\n"
                   "        \"count\": 2,\n"
                   "        \"name\": \"a\"\n"
                   "    },\n"
                   "    \"devicesn\": \"12345\",\n"
                   "    \"id\": \"12\",\n"
                   "    \"respond\": 3\n"
                   "}\n"));
    // Without "sqlconfig.ini" the serial number is empty.
    QFile::remove(QStringLiteral("sqlconfig.ini"));
    QCOMPARE(envelope::open(TxDeal::sendback_respond(QString(), 2).toLatin1()),
        QByteArray("{\n    \"devicesn\": \"\",\n    \"id\": \"\",\n    \"respond\": 2\n}\n"));
}

void TestEnvelope::data_array_takes_count_items()
{
    const QJsonObject items[3] = {{{"n", 3}}, {{"n", 1}}, {{"n", 2}}};
    QCOMPARE(openedReply(TxDeal::sendback_data_array(QString(), 1, items, 0)).value("datas"),
        QJsonValue(QJsonArray()));
    QCOMPARE(openedReply(TxDeal::sendback_data_array(QString(), 1, items, 2)).value("datas"),
        QJsonValue(QJsonArray({items[0], items[1]})));
}

// get_txid_obj offers the stored value plus one as it is; sendback_data_txid advances the
// counter, starting again at 1 after 5000000, and stores it. (First use: get_txid end to end.)
void TestEnvelope::counter_wraps_data()
{
    QTest::addColumn<uint>("stored");
    QTest::addColumn<qint64>("offered");
    QTest::addColumn<int>("next");
    QTest::newRow("counts on below the top") << 4999999u << qint64(5000000) << 5000000;
    QTest::newRow("5000000 starts again at 1") << 5000000u << qint64(5000001) << 1;
    QTest::newRow("largest unsigned starts again at 1") << 4294967295u << qint64(4294967296) << 1;
}

void TestEnvelope::counter_wraps()
{
    QFETCH(uint, stored);
    QFETCH(qint64, offered);
    QFETCH(int, next);
    const QString key = QStringLiteral("wrap-%1").arg(stored);
    OperatorDb::get_txid_db(key);
    QCOMPARE(OperatorDb::upgrade_txid(key, stored), 0);
    QCOMPARE(TxDeal::get_txid_obj(key).value("txid").toDouble(), double(offered));
    const QJsonObject reply = openedReply(TxDeal::sendback_data_txid("", 1, QJsonObject(), key));
    QCOMPARE(reply.value("txid"), QJsonValue(next));
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
