#include "crypto/aescipher.h"
#include "crypto/des.h"

#include <QtTest>

// Round trips, wrong key and IV lengths, padding sizes, the refusal of zero characters and long
// passwords are fuzzed (fuzz/fuzz_aes.cpp, fuzz/fuzz_des.cpp); here are the published answers,
// the exact padding bytes, the texts browsers send and the limits themselves.
class TestCrypto : public QObject
{
    Q_OBJECT
private slots:
    void aesKnownAnswers_data();
    void aesKnownAnswers();
    void aesPadding_data();
    void aesPadding();
    void desKnownAnswers();
    void desPasswordTexts();
};

// FIPS-197 appendix C (one block under each key size) and NIST SP 800-38A F.1 to F.4 (AES-128,
// four blocks in each mode); the stream modes keep a tail cut inside a block.
void TestCrypto::aesKnownAnswers_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    const QByteArray block = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray keys
        = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const QByteArray key = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray plain = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a"
                                                 "ae2d8a571e03ac9c9eb76fac45af8e51"
                                                 "30c81c46a35ce411e5fbc1191a0a52ef"
                                                 "f69f2445df4f9b17ad2b417be66c3710");
    const auto row = [&](const char *name, int level, int mode, const char *cipher, int cut = 64) {
        const bool fips = level > 0 || cut == 16;
        QTest::newRow(name) << level << mode << (fips ? keys.left(16 + 8 * level) : key)
                            << (fips ? block : plain.left(cut))
                            << QByteArray::fromHex(cipher).left(cut);
    };
    row("AES-128 block", 0, AesCipher::ECB, "69c4e0d86a7b0430d8cdb78070b4c55a", 16);
    row("AES-192 block", 1, AesCipher::ECB, "dda97ca4864cdfe06eaf70a0ec0d7191", 16);
    row("AES-256 block", 2, AesCipher::ECB, "8ea2b7ca516745bfeafc49904b496089", 16);
    const char cfb[] = "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                       "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";
    const char ofb[] = "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
                       "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e";
    row("ECB", 0, AesCipher::ECB,
        "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
        "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4");
    row("CBC", 0, AesCipher::CBC,
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    row("CFB128", 0, AesCipher::CFB, cfb);
    row("OFB", 0, AesCipher::OFB, ofb);
    row("CFB128 cut inside a block", 0, AesCipher::CFB, cfb, 37);
    row("OFB cut inside a block", 0, AesCipher::OFB, ofb, 37);
}

void TestCrypto::aesKnownAnswers()
{
    QFETCH(int, level);
    QFETCH(int, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const auto aes = AesCipher::Aes(level);
    const auto m = AesCipher::Mode(mode);
    // Whole blocks gain no zero padding; a cut text would, so only its decryption is published.
    if (plain.size() % 16 == 0)
        QCOMPARE(AesCipher::Crypt(aes, m, plain, key, iv, AesCipher::ZERO), cipher);
    QCOMPARE(AesCipher::Decrypt(aes, m, cipher, key, iv, AesCipher::ZERO), plain);
}

// Decryption gives back the padded text, so it shows the padding bytes; removing them must
// never take data that carries no valid padding.
void TestCrypto::aesPadding_data()
{
    QTest::addColumn<int>("padding");
    QTest::addColumn<QByteArray>("raw"); // removing its padding leaves it as it is
    QTest::addColumn<QByteArray>("padded");
    const QByteArray seventeen = QByteArray(16, 'b') + '\0';
    QTest::newRow("PKCS7: 17 bytes gain fifteen 0x0f, last byte 0x00 keeps data")
        << int(AesCipher::PKCS7) << seventeen << seventeen + QByteArray(15, '\x0f');
    QTest::newRow("PKCS7: count beyond the length keeps data")
        << int(AesCipher::PKCS7) << QByteArray("ab\x05") << "ab\x05" + QByteArray(13, '\x0d');
    QTest::newRow("ISO: 15 bytes gain 0x80, no marker keeps data")
        << int(AesCipher::ISO) << QByteArray(15, 'a') << QByteArray(15, 'a') + "\x80";
    // The envelope's: trailing zeros are lost.
    QTest::newRow("ZERO") << int(AesCipher::ZERO) << QByteArray("abc\0", 4)
                          << "abc" + QByteArray(13, '\0');
}

void TestCrypto::aesPadding()
{
    QFETCH(int, padding);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, padded);
    const auto pad = AesCipher::Padding(padding);
    const QByteArray key(16, 'k');
    const auto ecb = AesCipher::AES_128;
    const QByteArray cipher = AesCipher::Crypt(ecb, AesCipher::ECB, raw, key, {}, pad);
    QCOMPARE(AesCipher::Decrypt(ecb, AesCipher::ECB, cipher, key, {}, pad), padded);
    QCOMPARE(AesCipher::RemovePadding(raw, pad), pad == AesCipher::ZERO ? raw.left(3) : raw);
}

// The standard's worked example, a cipher text of zeros, a weak-parity key. Mode 0 decrypts;
// 1 and every other value encrypt.
void TestCrypto::desKnownAnswers()
{
    for (const char *hex : {"133457799BBCDFF1 0123456789ABCDEF 85E813540F0AB405",
             "0E329232EA6D0D73 8787878787878787 0000000000000000",
             "0101010101010101 95F8A5E5DD31D900 8000000000000000"}) {
        const QList<QByteArray> kpc = QByteArray(hex).split(' ');
        const auto run = [key = QByteArray::fromHex(kpc[0])](int mode, const QByteArray &hex) {
            unsigned char out[8];
            des0(mode, reinterpret_cast<const unsigned char *>(QByteArray::fromHex(hex).data()),
                reinterpret_cast<const unsigned char *>(key.constData()), out);
            return QByteArray(reinterpret_cast<const char *>(out), 8);
        };
        for (const int mode : {1, 7, -1})
            QCOMPARE(run(mode, kpc[1]), QByteArray::fromHex(kpc[2]));
        QCOMPARE(run(0, kpc[2]), QByteArray::fromHex(kpc[1]));
    }
}

// "abc" filled up with five zero bytes and enciphered under the password key is what a browser
// form sends for "abc". A password is at most 96 ISO 8859-1 characters, its text at most 100
// bytes (200 digits); what lies beyond gives nothing rather than a password cut short.
void TestCrypto::desPasswordTexts()
{
    const QString abc = QStringLiteral("59515d10fb8524fd");
    QCOMPARE(des0_out("abc"), abc);
    QCOMPARE(des0_in(abc), QStringLiteral("abc"));
    QCOMPARE(des0_in(abc.toUpper()), QStringLiteral("abc"));
    QCOMPARE(des0_in(abc + "0123456789abcdef"), QStringLiteral("abc")); // a zero byte ends it
    QCOMPARE(des0_in("25f5fa97cfe795dd"), QString()); // block beginning with a zero byte
    QCOMPARE(des0_in(QString()), QString());
    const QString password(96, 'x');
    const QString longest = des0_out(password) + "00000000";
    QCOMPARE(longest.size(), 200);
    QVERIFY(des0_in(longest).startsWith(password));
    QCOMPARE(des0_in(longest + "0"), QString());
    QCOMPARE(des0_in(QString(100000, 'a')), QString());
    QCOMPARE(des0_out(QString(97, 'x')), QString());
    QCOMPARE(des0_out(QString::fromUtf8("pass\xe5\xaf\x86")), QString());
}

QTEST_GUILESS_MAIN(TestCrypto)
#include "test_crypto.moc"
