#include "crypto/envelope.h"

#include "crypto/aescipher.h"

#include <QString>

namespace {

// Every device and every client shares this key; changing it cuts off the installed clients.
const QByteArray &envelopeKey()
{
    static const QByteArray key = QByteArrayLiteral("KQWZ5830271946mv");
    return key;
}

// A text shorter than this cannot hold even one Base64-encoded block.
constexpr int shortestSealedText = 16;

} // namespace

namespace envelope {

// Base64 text (ASCII) of plain encrypted and zero-padded to whole 16-byte blocks.
QByteArray seal(const QByteArray &plain)
{
    return AesCipher::Crypt(
        AesCipher::AES_128, AesCipher::ECB, plain, envelopeKey(), QByteArray(), AesCipher::ZERO)
        .toBase64();
}

// Plain bytes of a sealed text with the zero padding stripped and cut at the first zero byte;
// empty when the text is too short, not whole blocks, or decrypts to nothing but zeros.
// Characters outside the Base64 alphabet are skipped, as the device always has done.
QByteArray open(const QByteArray &sealed)
{
    if (QString::fromUtf8(sealed).size() < shortestSealedText)
        return QByteArray();
    const QByteArray cipherBytes = QByteArray::fromBase64(sealed);
    if (cipherBytes.isEmpty() || cipherBytes.size() % 16 != 0)
        return QByteArray();
    QByteArray plain = AesCipher::Decrypt(AesCipher::AES_128, AesCipher::ECB, cipherBytes,
        envelopeKey(), QByteArray(), AesCipher::ZERO);
    const int firstZero = plain.indexOf('\0');
    if (firstZero >= 0)
        plain.truncate(firstZero);
    return plain;
}

} // namespace envelope
