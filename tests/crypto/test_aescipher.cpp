#include "crypto/aescipher.h"

#include <QtTest>

Q_DECLARE_METATYPE(AesCipher::Aes)
Q_DECLARE_METATYPE(AesCipher::Mode)
Q_DECLARE_METATYPE(AesCipher::Padding)

// Round trips, wrong key and IV lengths and the padding sizes are fuzzed (fuzz/fuzz_aes.cpp);
// what the fuzzer cannot know are the published answers and the exact padding bytes.
class TestAesCipher : public QObject
{
    Q_OBJECT
private slots:
    void knownAnswers_data();
    void knownAnswers();
    void padding_data();
    void padding();
};

// FIPS-197 appendix C (one block under each key size) and NIST SP 800-38A F.1 to F.4 (AES-128,
// four blocks in each mode); the stream modes keep a tail cut inside a block.
void TestAesCipher::knownAnswers_data()
{
    QTest::addColumn<AesCipher::Aes>("level");
    QTest::addColumn<AesCipher::Mode>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    const QByteArray block = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray keys
        = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    QTest::newRow("AES-128 block") << AesCipher::AES_128 << AesCipher::ECB << keys.left(16) << block
                                   << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("AES-192 block") << AesCipher::AES_192 << AesCipher::ECB << keys.left(24) << block
                                   << QByteArray::fromHex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("AES-256 block") << AesCipher::AES_256 << AesCipher::ECB << keys << block
                                   << QByteArray::fromHex("8ea2b7ca516745bfeafc49904b496089");
    const QByteArray key = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const QByteArray plain = QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a"
                                                 "ae2d8a571e03ac9c9eb76fac45af8e51"
                                                 "30c81c46a35ce411e5fbc1191a0a52ef"
                                                 "f69f2445df4f9b17ad2b417be66c3710");
    const auto mode = [&](const char *name, AesCipher::Mode mode, const char *cipher, int cut) {
        QTest::newRow(name) << AesCipher::AES_128 << mode << key << plain.left(cut)
                            << QByteArray::fromHex(cipher).left(cut);
    };
    const char ecb[] = "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
                       "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4";
    const char cbc[] = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                       "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    const char cfb[] = "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                       "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";
    const char ofb[] = "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
                       "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e";
    mode("ECB", AesCipher::ECB, ecb, 64);
    mode("CBC", AesCipher::CBC, cbc, 64);
    mode("CFB128", AesCipher::CFB, cfb, 64);
    mode("OFB", AesCipher::OFB, ofb, 64);
    mode("CFB128 cut inside a block", AesCipher::CFB, cfb, 37);
    mode("OFB cut inside a block", AesCipher::OFB, ofb, 37);
}

void TestAesCipher::knownAnswers()
{
    QFETCH(AesCipher::Aes, level);
    QFETCH(AesCipher::Mode, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    // Whole blocks gain no zero padding; a cut text would, so only its decryption is published.
    if (plain.size() % 16 == 0)
        QCOMPARE(AesCipher::Crypt(level, mode, plain, key, iv, AesCipher::ZERO), cipher);
    QCOMPARE(AesCipher::Decrypt(level, mode, cipher, key, iv, AesCipher::ZERO), plain);
}

// Decryption gives back the padded text, so it shows the padding bytes; removing them must
// never take data that carries no valid padding.
void TestAesCipher::padding_data()
{
    QTest::addColumn<AesCipher::Padding>("padding");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("padded");
    QTest::addColumn<QByteArray>("unpadded"); // what removing the padding of raw leaves
    const QByteArray fifteen(15, 'a');
    const QByteArray sixteen(16, 'b');
    QTest::newRow("ZERO (the envelope's): trailing zeros are lost")
        << AesCipher::ZERO << QByteArray("abc\0", 4) << QByteArray("abc") + QByteArray(13, '\0')
        << QByteArray("abc");
    QTest::newRow("PKCS7: 17 bytes gain fifteen 0x0f, last byte 0x00 keeps data")
        << AesCipher::PKCS7 << sixteen + QByteArray(1, '\0')
        << sixteen + QByteArray(1, '\0') + QByteArray(15, '\x0f') << sixteen + QByteArray(1, '\0');
    QTest::newRow("PKCS7: count beyond the length keeps data")
        << AesCipher::PKCS7 << QByteArray("ab\x05") << QByteArray("ab\x05") + QByteArray(13, '\x0d')
        << QByteArray("ab\x05");
    QTest::newRow("ISO: 15 bytes gain 0x80, no marker keeps data")
        << AesCipher::ISO << fifteen << fifteen + QByteArray("\x80") << fifteen;
}

void TestAesCipher::padding()
{
    QFETCH(AesCipher::Padding, padding);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, padded);
    QFETCH(QByteArray, unpadded);
    const QByteArray key(16, 'k');
    const QByteArray cipher
        = AesCipher::Crypt(AesCipher::AES_128, AesCipher::ECB, raw, key, QByteArray(), padding);
    QCOMPARE(
        AesCipher::Decrypt(AesCipher::AES_128, AesCipher::ECB, cipher, key, QByteArray(), padding),
        padded);
    QCOMPARE(AesCipher::RemovePadding(raw, padding), unpadded);
}

QTEST_GUILESS_MAIN(TestAesCipher)
#include "test_aescipher.moc"
