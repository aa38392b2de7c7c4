#include "crypto/aescipher.h"

#include <QtTest>

Q_DECLARE_METATYPE(AesCipher::Aes)
Q_DECLARE_METATYPE(AesCipher::Mode)
Q_DECLARE_METATYPE(AesCipher::Padding)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The four plain text blocks and the AES-128 key of the published mode examples.
const char kModeKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kModeIv[] = "000102030405060708090a0b0c0d0e0f";
const char kModePlain[] = "6bc1bee22e409f96e93d7e117393172a"
                          "ae2d8a571e03ac9c9eb76fac45af8e51"
                          "30c81c46a35ce411e5fbc1191a0a52ef"
                          "f69f2445df4f9b17ad2b417be66c3710";

} // namespace

class TestAesCipher : public QObject
{
    Q_OBJECT
private slots:
    void blockVectors_data();
    void blockVectors();
    void modeVectors_data();
    void modeVectors();
    void streamModesKeepShortTail();
    void padding_data();
    void padding();
    void roundTrip();
    void removePadding_data();
    void removePadding();
    void instanceRemovesItsOwnPadding();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
};

// FIPS-197 appendix C: one block under each key size.
void TestAesCipher::blockVectors_data()
{
    QTest::addColumn<AesCipher::Aes>("level");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipherText");
    QTest::newRow("AES-128") << AesCipher::AES_128 << hex("000102030405060708090a0b0c0d0e0f")
                             << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("AES-192") << AesCipher::AES_192
                             << hex("000102030405060708090a0b0c0d0e0f1011121314151617")
                             << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("AES-256")
        << AesCipher::AES_256
        << hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
        << hex("8ea2b7ca516745bfeafc49904b496089");
}

void TestAesCipher::blockVectors()
{
    QFETCH(AesCipher::Aes, level);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipherText);
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");
    QCOMPARE(AesCipher::Crypt(level, AesCipher::ECB, plain, key, QByteArray(), AesCipher::ZERO),
        cipherText);
    QCOMPARE(
        AesCipher::Decrypt(level, AesCipher::ECB, cipherText, key, QByteArray(), AesCipher::ZERO),
        plain);
}

// NIST SP 800-38A, AES-128 examples F.1.1/F.1.2, F.2.1/F.2.2, F.3.13/F.3.14 and F.4.1/F.4.2.
void TestAesCipher::modeVectors_data()
{
    QTest::addColumn<AesCipher::Mode>("mode");
    QTest::addColumn<QByteArray>("cipherText");
    QTest::newRow("ECB") << AesCipher::ECB
                         << hex("3ad77bb40d7a3660a89ecaf32466ef97"
                                "f5d3d58503b9699de785895a96fdbaaf"
                                "43b1cd7f598ece23881b00e3ed030688"
                                "7b0c785e27e8ad3f8223207104725dd4");
    QTest::newRow("CBC") << AesCipher::CBC
                         << hex("7649abac8119b246cee98e9b12e9197d"
                                "5086cb9b507219ee95db113a917678b2"
                                "73bed6b8e3c1743b7116e69e22229516"
                                "3ff1caa1681fac09120eca307586e1a7");
    QTest::newRow("CFB128") << AesCipher::CFB
                            << hex("3b3fd92eb72dad20333449f8e83cfb4a"
                                   "c8a64537a0b3a93fcde3cdad9f1ce58b"
                                   "26751f67a3cbb140b1808cf187a4f4df"
                                   "c04b05357c5d1c0eeac4c66f9ff7f2e6");
    QTest::newRow("OFB") << AesCipher::OFB
                         << hex("3b3fd92eb72dad20333449f8e83cfb4a"
                                "7789508d16918f03f53c52dac54ed825"
                                "9740051e9c5fecf64344f7a82260edcc"
                                "304c6528f659c77866a510d9c1d6ae5e");
}

void TestAesCipher::modeVectors()
{
    QFETCH(AesCipher::Mode, mode);
    QFETCH(QByteArray, cipherText);
    // The examples are whole blocks, which ISO padding leaves as they are.
    AesCipher aes(AesCipher::AES_128, mode);
    QCOMPARE(aes.encode(hex(kModePlain), hex(kModeKey), hex(kModeIv)), cipherText);
    QCOMPARE(aes.decode(cipherText, hex(kModeKey), hex(kModeIv)), hex(kModePlain));
}

// The published cipher texts cut inside the third block decode to the plain text cut alike.
void TestAesCipher::streamModesKeepShortTail()
{
    const QByteArray plain = hex(kModePlain);
    for (const AesCipher::Mode mode : {AesCipher::CFB, AesCipher::OFB}) {
        const QByteArray cipherText
            = AesCipher::Crypt(AesCipher::AES_128, mode, plain, hex(kModeKey), hex(kModeIv));
        QCOMPARE(AesCipher::Decrypt(
                     AesCipher::AES_128, mode, cipherText.left(37), hex(kModeKey), hex(kModeIv)),
            plain.left(37));
    }
}

// What decode gives back is the padded text, so it shows the padding bytes exactly.
void TestAesCipher::padding_data()
{
    QTest::addColumn<AesCipher::Padding>("padding");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("padded");
    const QByteArray fifteen(15, 'a');
    const QByteArray sixteen(16, 'b');
    QTest::newRow("ZERO: empty stays empty") << AesCipher::ZERO << QByteArray() << QByteArray();
    QTest::newRow("ZERO: 17 bytes gain 15 zeros")
        << AesCipher::ZERO << QByteArray(17, 'c') << QByteArray(17, 'c') + QByteArray(15, '\0');
    QTest::newRow("PKCS7: empty becomes a block of 0x10")
        << AesCipher::PKCS7 << QByteArray() << QByteArray(16, '\x10');
    QTest::newRow("PKCS7: 15 bytes gain 0x01")
        << AesCipher::PKCS7 << fifteen << fifteen + QByteArray("\x01");
    QTest::newRow("PKCS7: aligned gains a block of 0x10")
        << AesCipher::PKCS7 << sixteen << sixteen + QByteArray(16, '\x10');
    QTest::newRow("ISO: empty stays empty") << AesCipher::ISO << QByteArray() << QByteArray();
    QTest::newRow("ISO: 15 bytes gain 0x80")
        << AesCipher::ISO << fifteen << fifteen + QByteArray("\x80");
    QTest::newRow("ISO: aligned gains nothing") << AesCipher::ISO << sixteen << sixteen;
}

void TestAesCipher::padding()
{
    QFETCH(AesCipher::Padding, padding);
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, padded);
    const QByteArray key = hex(kModeKey);
    const QByteArray cipherText
        = AesCipher::Crypt(AesCipher::AES_128, AesCipher::ECB, raw, key, QByteArray(), padding);
    QCOMPARE(cipherText.size(), padded.size());
    QCOMPARE(AesCipher::Decrypt(
                 AesCipher::AES_128, AesCipher::ECB, cipherText, key, QByteArray(), padding),
        padded);
}

// Every level, mode and padding that can be told apart from the data, at every length around
// the block edges, comes back whole, trailing zero bytes included.
void TestAesCipher::roundTrip()
{
    const QByteArray iv = hex(kModeIv);
    for (const auto level : {AesCipher::AES_128, AesCipher::AES_192, AesCipher::AES_256}) {
        const QByteArray key = QByteArray("0123456789abcdefghijklmnopqrstuv").left(16 + 8 * level);
        for (const auto mode : {AesCipher::ECB, AesCipher::CBC, AesCipher::CFB, AesCipher::OFB}) {
            for (const auto padding : {AesCipher::PKCS7, AesCipher::ISO}) {
                AesCipher aes(level, mode, padding);
                for (int length : {0, 1, 15, 16, 17, 33}) {
                    QByteArray raw(length, '\0');
                    for (int i = 0; i < length; ++i)
                        raw[i] = static_cast<char>(i * 37 % 251);
                    const QByteArray cipherText = aes.encode(raw, key, iv);
                    QCOMPARE(cipherText.size() % 16, 0);
                    QCOMPARE(aes.removePadding(aes.decode(cipherText, key, iv)), raw);
                }
            }
        }
    }
}

void TestAesCipher::removePadding_data()
{
    QTest::addColumn<AesCipher::Padding>("padding");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ZERO: empty") << AesCipher::ZERO << QByteArray() << QByteArray();
    QTest::newRow("ZERO: trailing zeros go")
        << AesCipher::ZERO << QByteArray("abc\0\0\0", 6) << QByteArray("abc");
    QTest::newRow("ZERO: all zeros leave nothing")
        << AesCipher::ZERO << QByteArray(16, '\0') << QByteArray();
    QTest::newRow("PKCS7: three bytes of 0x03")
        << AesCipher::PKCS7 << QByteArray("abcde\x03\x03\x03") << QByteArray("abcde");
    QTest::newRow("PKCS7: whole block of 0x10")
        << AesCipher::PKCS7 << QByteArray(16, '\x10') << QByteArray();
    QTest::newRow("PKCS7: other padding bytes not checked")
        << AesCipher::PKCS7 << QByteArray("abcdexy\x03") << QByteArray("abcde");
    QTest::newRow("PKCS7: last byte 0x00 keeps data")
        << AesCipher::PKCS7 << QByteArray("abc\0", 4) << QByteArray("abc\0", 4);
    QTest::newRow("PKCS7: count beyond length keeps data")
        << AesCipher::PKCS7 << QByteArray("ab\x03") + QByteArray("\x05")
        << QByteArray("ab\x03") + QByteArray("\x05");
    QTest::newRow("ISO: marker and zeros go")
        << AesCipher::ISO << QByteArray("abc\x80\0\0", 6) << QByteArray("abc");
    QTest::newRow("ISO: marker at the start leaves nothing")
        << AesCipher::ISO << QByteArray("\x80\0\0", 3) << QByteArray();
    QTest::newRow("ISO: no marker keeps data")
        << AesCipher::ISO << QByteArray("abc\0\0", 5) << QByteArray("abc\0\0", 5);
    QTest::newRow("ISO: all zeros keep data")
        << AesCipher::ISO << QByteArray(16, '\0') << QByteArray(16, '\0');
    QTest::newRow("ISO: only the last marker goes")
        << AesCipher::ISO << QByteArray("a\x80\x80") << QByteArray("a\x80");
}

void TestAesCipher::removePadding()
{
    QFETCH(AesCipher::Padding, padding);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    QCOMPARE(AesCipher::RemovePadding(data, padding), expected);
}

// The envelope's way (ECB, zero padding): plain text that ends in zero bytes loses them.
void TestAesCipher::instanceRemovesItsOwnPadding()
{
    const QByteArray key = hex(kModeKey);
    const QByteArray raw("{\"id\":1}\0\0", 10);
    AesCipher aes(AesCipher::AES_128, AesCipher::ECB, AesCipher::ZERO);
    const QByteArray decoded = aes.decode(aes.encode(raw, key, QByteArray()), key, QByteArray());
    QCOMPARE(decoded, raw + QByteArray(6, '\0'));
    QCOMPARE(aes.removePadding(decoded), QByteArray("{\"id\":1}"));
}

void TestAesCipher::rejectsBadArguments_data()
{
    QTest::addColumn<AesCipher::Aes>("level");
    QTest::addColumn<AesCipher::Mode>("mode");
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("ivLength");
    QTest::newRow("AES-128, 15-byte key") << AesCipher::AES_128 << AesCipher::ECB << 15 << 0;
    QTest::newRow("AES-128, 17-byte key") << AesCipher::AES_128 << AesCipher::ECB << 17 << 0;
    QTest::newRow("AES-192, 16-byte key") << AesCipher::AES_192 << AesCipher::ECB << 16 << 0;
    QTest::newRow("AES-256, 24-byte key") << AesCipher::AES_256 << AesCipher::CBC << 24 << 16;
    QTest::newRow("CBC, empty IV") << AesCipher::AES_128 << AesCipher::CBC << 16 << 0;
    QTest::newRow("CBC, 12-byte IV") << AesCipher::AES_128 << AesCipher::CBC << 16 << 12;
    QTest::newRow("OFB, empty IV") << AesCipher::AES_128 << AesCipher::OFB << 16 << 0;
    QTest::newRow("unknown mode") << AesCipher::AES_128 << static_cast<AesCipher::Mode>(4) << 16
                                  << 16;
}

void TestAesCipher::rejectsBadArguments()
{
    QFETCH(AesCipher::Aes, level);
    QFETCH(AesCipher::Mode, mode);
    QFETCH(int, keyLength);
    QFETCH(int, ivLength);
    const QByteArray key(keyLength, 'k');
    const QByteArray iv(ivLength, 'i');
    const QByteArray text(32, 't');
    QVERIFY(AesCipher::Crypt(level, mode, text, key, iv).isEmpty());
    QVERIFY(AesCipher::Decrypt(level, mode, text, key, iv).isEmpty());
}

QTEST_GUILESS_MAIN(TestAesCipher)
#include "test_aescipher.moc"
