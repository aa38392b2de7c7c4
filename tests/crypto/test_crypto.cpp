#include "crypto/aescipher.h"
#include "crypto/des.h"

#include <QtTest>

// Round trips, wrong key and IV lengths, padding sizes, the refusal of zero characters and long
// passwords are fuzzed (fuzz/fuzz_aes.cpp, fuzz/fuzz_des.cpp); here are the published answers,
// the exact padding bytes and the texts browsers send.
class TestCrypto : public QObject
{
    Q_OBJECT
private slots:
    // FIPS-197 appendix C (one block under each key size) and NIST SP 800-38A F.2 to F.4 (two
    // blocks; the stream modes keep a tail cut inside a block).
    void knownAnswers_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        const QByteArray fipsKey
            = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
        const QByteArray fips = "00112233445566778899aabbccddeeff";
        const QByteArray nistKey = "2b7e151628aed2a6abf7158809cf4f3c";
        const QByteArray nist = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51";
        const auto row = [](const char *name, int level, int mode, const QByteArray &key,
                             const QByteArray &plain, const QByteArray &cipher, int cut = 32) {
            QTest::newRow(name) << level << mode << QByteArray::fromHex(key)
                                << QByteArray::fromHex(plain).left(cut)
                                << QByteArray::fromHex(cipher).left(cut);
        };
        row("AES-128 block", 0, AesCipher::ECB, fipsKey.left(32), fips,
            "69c4e0d86a7b0430d8cdb78070b4c55a");
        row("AES-192 block", 1, AesCipher::ECB, fipsKey.left(48), fips,
            "dda97ca4864cdfe06eaf70a0ec0d7191");
        row("AES-256 block", 2, AesCipher::ECB, fipsKey, fips, "8ea2b7ca516745bfeafc49904b496089");
        const char cfb[] = "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b";
        const char ofb[] = "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825";
        row("CBC", 0, AesCipher::CBC, nistKey, nist,
            "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
        row("CFB128", 0, AesCipher::CFB, nistKey, nist, cfb);
        row("OFB", 0, AesCipher::OFB, nistKey, nist, ofb);
        row("CFB128 cut inside a block", 0, AesCipher::CFB, nistKey, nist, cfb, 21);
        row("OFB cut inside a block", 0, AesCipher::OFB, nistKey, nist, ofb, 21);
    }

    void knownAnswers()
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
    void aesPadding()
    {
        const QByteArray key(16, 'k');
        const auto padded = [&key](AesCipher::Padding padding, const QByteArray &raw) {
            const auto ecb = AesCipher::AES_128;
            return AesCipher::Decrypt(ecb, AesCipher::ECB,
                AesCipher::Crypt(ecb, AesCipher::ECB, raw, key, {}, padding), key, {}, padding);
        };
        const QByteArray seventeen = QByteArray(16, 'b') + '\0', fifteen(15, 'a');
        QCOMPARE(padded(AesCipher::PKCS7, seventeen), seventeen + QByteArray(15, '\x0f'));
        QCOMPARE(padded(AesCipher::ISO, fifteen), fifteen + "\x80");
        // Last byte 0x00, a count beyond the length, no 0x80 marker.
        for (const QByteArray &raw : {seventeen, QByteArray("ab\x05"), fifteen})
            for (const auto padding : {AesCipher::PKCS7, AesCipher::ISO})
                QCOMPARE(AesCipher::RemovePadding(raw, padding), raw);
    }

    // "abc" filled up with five zero bytes and enciphered with DES under the password key is what
    // a browser form sends for "abc": a known answer of both directions.
    void desPasswordTexts()
    {
        const QString abc = QStringLiteral("59515d10fb8524fd");
        QCOMPARE(des0_out("abc"), abc);
        QCOMPARE(des0_in(abc + "0123456789abcdef"), QStringLiteral("abc")); // a zero byte ends it
        QCOMPARE(des0_in("25f5fa97cfe795dd"), QString()); // block beginning with a zero byte
        QCOMPARE(des0_out(QString::fromUtf8("pass\xe5\xaf\x86")), QString()); // not ISO 8859-1
    }
};

QTEST_GUILESS_MAIN(TestCrypto)
#include "test_crypto.moc"
