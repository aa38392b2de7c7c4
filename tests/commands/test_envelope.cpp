#include "commandclient.h"
#include "commands/txdeal.h"
#include "store/operatordb.h"

#include <QTemporaryDir>
#include <QtTest>

// The transaction counter of the envelope's replies without a server (the working directory is a
// temporary one holding "login_sql.db"); messages the commands refuse are test_doorcommands', the
// exact reply texts those of tests/dispatch and tests/tools.
class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void counter_wraps_data();
    void counter_wraps();

private:
    QTemporaryDir workDir;
};

void TestEnvelope::initTestCase()
{
    QVERIFY(QDir::setCurrent(workDir.path()));
    OperatorDb::check_sql();
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

QTEST_GUILESS_MAIN(TestEnvelope)
#include "test_envelope.moc"
