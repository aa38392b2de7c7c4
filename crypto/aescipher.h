#pragma once

#include <QByteArray>
#include <QObject>
#include <QVector>

// AES (FIPS-197) over byte arrays in memory, with four chaining modes and three padding rules.
// Every failure is an empty result. An instance holds the block being transformed, so it serves
// one thread at a time; callers make one per operation.
class AesCipher : public QObject
{
    Q_OBJECT
public:
    // A fixed underlying type keeps any number cast to these types well-defined, so a stray
    // value can be caught (an unknown level is 128 bits, an unknown mode gives empty results).
    enum Aes : int { AES_128 = 0, AES_192 = 1, AES_256 = 2 };
    enum Mode : int { ECB = 0, CBC = 1, CFB = 2, OFB = 3 };
    enum Padding : int { ZERO = 0, PKCS7 = 1, ISO = 2 };

    AesCipher(Aes level, Mode mode, Padding padding = ISO);

    QByteArray encode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv);
    QByteArray decode(const QByteArray &cipherText, const QByteArray &key, const QByteArray &iv);
    QByteArray removePadding(const QByteArray &data) const;
    QByteArray expandKey(const QByteArray &key, bool encryptionKey) const;
    QByteArray printArray(const unsigned char *bytes, int count) const;

    static QByteArray Crypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
        const QByteArray &iv = QByteArray(), Padding padding = ISO);
    static QByteArray Decrypt(Aes level, Mode mode, const QByteArray &cipherText,
        const QByteArray &key, const QByteArray &iv = QByteArray(), Padding padding = ISO);
    static QByteArray ExpandKey(Aes level, Mode mode, const QByteArray &key, bool encryptionKey);
    static QByteArray RemovePadding(const QByteArray &data, Padding padding = ISO);

private:
    bool acceptsArguments(const QByteArray &key, const QByteArray &iv) const;
    QByteArray getPadding(int currentSize, int alignment) const;
    QByteArray keyStream(const QByteArray &expandedKey, const QByteArray &iv, int length);
    QByteArray cipher(const QByteArray &expandedKey, const QByteArray &block);
    QVector<quint32> roundKeyWords(const QByteArray &expandedKey) const;
    void encipherInPlace(unsigned char *block, const QVector<quint32> &roundKeys) const;
    QByteArray invCipher(const QByteArray &expandedKey, const QByteArray &block);
    void addRoundKey(int round, const QByteArray &expandedKey);
    void invSubBytes();
    void invShiftRows();
    void invMixColumns();
    static QByteArray byteXor(const QByteArray &a, const QByteArray &b);

    Aes level_;
    Mode mode_;
    int nk_; // key length in 32-bit words
    int keyLength_; // bytes
    int nr_; // rounds
    Padding padding_;
    unsigned char *state_ = nullptr; // the block inside invCipher(), null otherwise
};
