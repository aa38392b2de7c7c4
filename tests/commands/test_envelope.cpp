#include "commandclient.h"
#include "commands/txdeal.h"
#include "crypto/envelope.h"
#include "store/operatordb.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The message envelope of the encrypted commands: exercised without a server (the working
// directory is a temporary one holding "sqlconfig.ini" and "login_sql.db"), and the messages
// that every command refuses, against the real server.
class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void decode_aes_data();
    void decode_aes();
    void reply_texts_are_exact();
    void counter_wraps_data();
    void counter_wraps();
    void delay_s_waits_and_serves_events();
    void messagesNotForThisDevice_data();
    void messagesNotForThisDevice();

private:
    QTemporaryDir workDir;
};

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
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("plain");
    const QByteArray noisy = sealedText("{\"order\":3}").insert(4, "\r\n*");
    QTest::newRow("sealed text opens") << sealedText("{\"id\":12}") << "{\"id\":12}";
    QTest::newRow("characters outside Base64 skipped") << noisy << "{\"order\":3}";
    QTest::newRow("12 bytes are no whole block") << QByteArray(12, 'x').toBase64() << QString();
    QTest::newRow("only zero bytes") << sealedText(QByteArray(32, '\0')) << QString();
    QTest::newRow("cut at the first zero byte")
        << sealedText(QByteArray("abc\0def", 7)) << QStringLiteral("abc");
}

void TestEnvelope::decode_aes()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, plain);
    QCOMPARE(TxDeal::decode_aes(QString::fromLatin1(body)), plain);
}

void TestEnvelope::reply_texts_are_exact()
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
    // An array reply carries the first count items.
    const QJsonObject items[3] = {{{"n", 3}}, {{"n", 1}}, {{"n", 2}}};
    QCOMPARE(opened(TxDeal::sendback_data_array(QString(), 1, items, 0).toLatin1()).value("datas"),
        QJsonValue(QJsonArray()));
    QCOMPARE(opened(TxDeal::sendback_data_array(QString(), 1, items, 2).toLatin1()).value("datas"),
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
    const QJsonObject reply
        = opened(TxDeal::sendback_data_txid("", 1, QJsonObject(), key).toLatin1());
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

void TestEnvelope::messagesNotForThisDevice_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");

    const QByteArray garbage = "this is not an envelope at all";
    const QByteArray foreign = message("x", QStringLiteral("54321"),
        {{"order", 1}, {"datas", QJsonObject {{"username", "dorx"}, {"password", "6172839405"}}}});
    QTest::newRow("unreadable login") << QByteArray("tplogin") << garbage << 6 << "";
    QTest::newRow("login that is no JSON object")
        << QByteArray("tplogin") << sealedText("[1,2,3]") << 6 << "";
    QTest::newRow("unreadable logout") << QByteArray("tplogout") << garbage << 6 << "";
    QTest::newRow("unreadable access-record query")
        << QByteArray("getinfo/record") << garbage << 6 << "";
    QTest::newRow("unreadable device message: as for another device")
        << QByteArray("getinfo/person") << garbage << 2 << "";
    for (const char *path : {"tplogin", "tplogout", "getinfo/txid", "getinfo/record",
             "person/property", "getinfo/system", "system/property", "longopen/property"})
        QTest::addRow("%s for another device", path) << QByteArray(path) << foreign << 2 << "x";
}

// Answered with the code and no more, and the session, the files and the doors stay as they were
// (the door's code would be 1 without a daemon).
void TestEnvelope::messagesNotForThisDevice()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    ServerProcess server;
    server.writeConfig(QString());
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server.start(), server.output().constData());
    Client client(server);
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    const QJsonObject reply = client.exchange("/command/" + path, body);
    QCOMPARE(reply, QJsonObject({{"respond", respond}, {"id", id}, {"devicesn", serialNumber}}));
    QVERIFY(client.loggedIn());
    QCOMPARE(server.shellLog(), QStringList());
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "test_envelope.moc"
