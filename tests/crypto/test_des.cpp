#include "crypto/des.h"

#include <QtTest>

namespace {

QByteArray runDes(int mode, const QByteArray &input, const QByteArray &key)
{
    unsigned char out[8];
    des0(mode, reinterpret_cast<const unsigned char *>(input.constData()),
        reinterpret_cast<const unsigned char *>(key.constData()), out);
    return QByteArray(reinterpret_cast<const char *>(out), 8);
}

// "abc" filled up with five zero bytes, enciphered under the password key.
const char kAbcCipherText[] = "59515d10fb8524fd";

} // namespace

class TestDes : public QObject
{
    Q_OBJECT
private slots:
    void publishedVectors_data();
    void publishedVectors();
    void passwordTransform_data();
    void passwordTransform();
    void readsMissingDigitsAsZero_data();
    void readsMissingDigitsAsZero();
    void limitsCipherTextTo100Bytes();
    void browserTextRoundTrip_data();
    void browserTextRoundTrip();
    void browserTextRefusesWhatCannotComeBack_data();
    void browserTextRefusesWhatCannotComeBack();
};

void TestDes::publishedVectors_data()
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
void TestDes::publishedVectors()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    QCOMPARE(runDes(1, plain, key), cipher);
    QCOMPARE(runDes(7, plain, key), cipher);
    QCOMPARE(runDes(-1, plain, key), cipher);
    QCOMPARE(runDes(0, cipher, key), plain);
}

void TestDes::passwordTransform_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("password");
    QTest::newRow("empty text") << QString() << QString();
    QTest::newRow("three letters, lower-case hex") << QString(kAbcCipherText) << QString("abc");
    QTest::newRow("three letters, upper-case hex")
        << QString(kAbcCipherText).toUpper() << QString("abc");
    QTest::newRow("block beginning with a zero byte") << QString("25f5fa97cfe795dd") << QString();
    QTest::newRow("anything after the zero byte ignored")
        << QString(kAbcCipherText) + "0123456789abcdef" << QString("abc");
}

void TestDes::passwordTransform()
{
    QFETCH(QString, text);
    QFETCH(QString, password);
    QCOMPARE(des0_in(text), password);
}

// A missing last digit, a short last block and characters that are no hexadecimal digits all
// read as zeros: the short text gives what the text with those zeros gives, cut to the bytes
// the short text has.
void TestDes::readsMissingDigitsAsZero_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("filledText");
    QTest::newRow("odd digit count") << "0123456789ABCDE"
                                     << "0123456789ABCDE0";
    QTest::newRow("three digits make two bytes") << "ABC"
                                                 << "ABC0000000000000";
    QTest::newRow("short second block") << "0123456789abcdefABC0"
                                        << "0123456789abcdefABC0000000000000";
    QTest::newRow("non-hex letters") << "xyz3456789ABCDEg"
                                     << "0003456789ABCDE0";
    QTest::newRow("character outside ISO 8859-1 is one digit")
        << QString::fromUtf8("0123456789ABCDE\xe4\xb8\xad") << "0123456789ABCDE0";
}

void TestDes::readsMissingDigitsAsZero()
{
    QFETCH(QString, text);
    QFETCH(QString, filledText);
    const QString expected = des0_in(filledText).left((text.size() + 1) / 2);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(des0_in(text), expected);
}

void TestDes::limitsCipherTextTo100Bytes()
{
    const QString password(96, 'x');
    const QString longest = des0_out(password) + "00000000";
    QCOMPARE(longest.size(), 200);
    QVERIFY(des0_in(longest).startsWith(password));
    QCOMPARE(des0_in(longest + "0"), QString());
    QCOMPARE(des0_in(longest + "00"), QString());
    QCOMPARE(des0_in(QString(100000, 'a')), QString());
}

void TestDes::browserTextRoundTrip_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("three letters") << "abc";
    QTest::newRow("several blocks") << "correct horse battery staple";
    QTest::newRow("ISO 8859-1 letters") << QString::fromUtf8("p\xc3\xa4sSw\xc3\xb6rd\xc3\xbf");
    QTest::newRow("96 characters, the longest") << QString(96, 'x');
}

void TestDes::browserTextRoundTrip()
{
    QFETCH(QString, password);
    const QString text = des0_out(password);
    QCOMPARE(text.size(), (password.size() + 7) / 8 * 16);
    QCOMPARE(des0_in(text), password);
    // The text a browser form sends for "abc", in lower case.
    if (password == QLatin1String("abc"))
        QCOMPARE(text, QString(kAbcCipherText));
}

void TestDes::browserTextRefusesWhatCannotComeBack_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("empty password") << QString();
    QTest::newRow("97 characters") << QString(97, 'x');
    QTest::newRow("zero character") << QString("ab") + QChar(0) + "c";
    QTest::newRow("character outside ISO 8859-1") << QString::fromUtf8("pass\xe5\xaf\x86");
}

void TestDes::browserTextRefusesWhatCannotComeBack()
{
    QFETCH(QString, password);
    QCOMPARE(des0_out(password), QString());
}

QTEST_GUILESS_MAIN(TestDes)
#include "test_des.moc"
