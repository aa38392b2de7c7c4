#include "crypto/des.h"

#include <QtTest>

// Block and password round trips, the refusal of zero characters and of long passwords, and the
// bound on what des0_in returns are fuzzed (fuzz/fuzz_des.cpp); here are the published answers,
// the texts browsers send and the limits themselves.
class TestDes : public QObject
{
    Q_OBJECT
private slots:
    void knownAnswers_data();
    void knownAnswers();
    void passwordTexts_data();
    void passwordTexts();
    void limits();
};

void TestDes::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    QTest::newRow("worked example of the standard")
        << QByteArray::fromHex("133457799BBCDFF1") << QByteArray::fromHex("0123456789ABCDEF")
        << QByteArray::fromHex("85E813540F0AB405");
    QTest::newRow("cipher text of all zeros")
        << QByteArray::fromHex("0E329232EA6D0D73") << QByteArray::fromHex("8787878787878787")
        << QByteArray::fromHex("0000000000000000");
    QTest::newRow("known answer, weak-parity key")
        << QByteArray::fromHex("0101010101010101") << QByteArray::fromHex("95F8A5E5DD31D900")
        << QByteArray::fromHex("8000000000000000");
}

// Mode 0 decrypts; 1 and every other value encrypt.
void TestDes::knownAnswers()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    const auto run = [&key](int mode, const QByteArray &input) {
        unsigned char out[8];
        des0(mode, reinterpret_cast<const unsigned char *>(input.constData()),
            reinterpret_cast<const unsigned char *>(key.constData()), out);
        return QByteArray(reinterpret_cast<const char *>(out), 8);
    };
    for (const int mode : {1, 7, -1})
        QCOMPARE(run(mode, plain), cipher);
    QCOMPARE(run(0, cipher), plain);
}

// "abc" filled up with five zero bytes and enciphered under the password key is what a browser
// form sends for the password "abc".
void TestDes::passwordTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("password");
    QTest::newRow("lower-case digits") << "59515d10fb8524fd"
                                       << "abc";
    QTest::newRow("upper-case digits") << "59515D10FB8524FD"
                                       << "abc";
    QTest::newRow("a zero byte ends the password") << "59515d10fb8524fd0123456789abcdef"
                                                   << "abc";
    QTest::newRow("block beginning with a zero byte") << "25f5fa97cfe795dd" << QString();
    QTest::newRow("empty text") << QString() << QString();
}

void TestDes::passwordTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, password);
    QCOMPARE(des0_in(text), password);
    if (!password.isEmpty())
        QCOMPARE(des0_out(password), text.left(16).toLower());
}

// A password is at most 96 ISO 8859-1 characters, its text at most 100 bytes (200 digits); what
// lies beyond gives nothing rather than a password cut short.
void TestDes::limits()
{
    const QString password(96, 'x');
    const QString longest = des0_out(password) + "00000000";
    QCOMPARE(longest.size(), 200);
    QVERIFY(des0_in(longest).startsWith(password));
    QCOMPARE(des0_in(longest + "0"), QString());
    QCOMPARE(des0_in(QString(100000, 'a')), QString());
    QCOMPARE(des0_out(QString(97, 'x')), QString());
    QCOMPARE(des0_out(QString::fromUtf8("pass\xe5\xaf\x86")), QString());
}

QTEST_GUILESS_MAIN(TestDes)
#include "test_des.moc"
