// AES round trips. The first byte chooses level, mode and padding; then come the key, the IV
// (chaining modes) and the plain text, each as long as the input still allows, so keys and IVs
// of wrong lengths are fuzzed too.

#include "fuzzsupport.h"

#include "crypto/aescipher.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    const auto level = AesCipher::Aes(data[0] % 3);
    const auto mode = AesCipher::Mode(data[0] / 3 % 4);
    const auto padding = AesCipher::Padding(data[0] / 12 % 3);
    const int keyLength = 16 + 8 * level;
    const QByteArray key = input.left(keyLength);
    const QByteArray iv = mode == AesCipher::ECB ? QByteArray() : input.mid(key.size(), 16);
    const QByteArray plain = input.mid(key.size() + iv.size());

    const QByteArray schedule = AesCipher::ExpandKey(level, mode, key, true);
    const QByteArray sealed = AesCipher::Crypt(level, mode, plain, key, iv, padding);
    if (key.size() != keyLength || (mode != AesCipher::ECB && iv.size() != 16)) {
        FUZZ_CHECK(sealed.isEmpty());
        FUZZ_CHECK(AesCipher::Decrypt(level, mode, plain, key, iv, padding).isEmpty());
        if (key.size() != keyLength)
            FUZZ_CHECK(schedule.isEmpty());
        return 0;
    }
    FUZZ_CHECK(schedule.size() == 16 * (11 + 2 * level));

    const int missing = (16 - plain.size() % 16) % 16;
    const int padLength = padding == AesCipher::PKCS7 && missing == 0 ? 16 : missing;
    FUZZ_CHECK(sealed.size() == plain.size() + padLength);
    const QByteArray opened = AesCipher::Decrypt(level, mode, sealed, key, iv, padding);
    FUZZ_CHECK(opened.size() == sealed.size());
    FUZZ_CHECK(opened.left(plain.size()) == plain);
    const bool paddingTellsApart = padding == AesCipher::PKCS7
        || (padding == AesCipher::ISO && padLength > 0)
        || (padding == AesCipher::ZERO && !plain.endsWith('\0'));
    if (paddingTellsApart)
        FUZZ_CHECK(AesCipher::RemovePadding(opened, padding) == plain);

    // The plain text taken as cipher text: only whole blocks in the block modes.
    const QByteArray decoded = AesCipher::Decrypt(level, mode, plain, key, iv, padding);
    const bool blockMode = mode == AesCipher::ECB || mode == AesCipher::CBC;
    FUZZ_CHECK(decoded.size() == (blockMode ? plain.size() - plain.size() % 16 : plain.size()));
    for (const auto rule : {AesCipher::ZERO, AesCipher::PKCS7, AesCipher::ISO})
        FUZZ_CHECK(plain.startsWith(AesCipher::RemovePadding(plain, rule)));
    return 0;
}
