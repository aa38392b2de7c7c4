// DES and the password transform of the browser forms. The first byte chooses what to check:
// one block under an 8-byte key; a password (ISO 8859-1) through des0_out and back through
// des0_in; or any text, as a browser may send it, through des0_in. DES is slow bit by bit under
// the sanitizers, so each input checks one of the three.

#include "fuzzsupport.h"

#include "crypto/des.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void checkBlock(const QByteArray &input)
{
    unsigned char key[8] = {};
    unsigned char block[8] = {};
    std::memcpy(key, input.constData(), size_t(qMin(8, input.size())));
    const QByteArray blockBytes = input.mid(8, 8);
    std::memcpy(block, blockBytes.constData(), size_t(blockBytes.size()));
    unsigned char sealed[8];
    unsigned char opened[8];
    des0(1, block, key, sealed);
    des0(0, sealed, key, opened);
    FUZZ_CHECK(std::memcmp(opened, block, 8) == 0);
    des0(1, block, key, block); // in place, as callers may
    FUZZ_CHECK(std::memcmp(block, sealed, 8) == 0);
}

void checkPassword(const QByteArray &input)
{
    const QString password = QString::fromLatin1(input.constData(), input.size());
    const QString hex = des0_out(password);
    if (input.contains('\0') || input.size() > 96) {
        FUZZ_CHECK(hex.isEmpty());
        return;
    }
    FUZZ_CHECK(hex.size() == (input.size() + 7) / 8 * 16);
    // Browsers send the digits in either case.
    FUZZ_CHECK(des0_in(input.size() % 2 ? hex.toUpper() : hex) == password);
}

void checkAnyText(const QByteArray &input)
{
    const QString text = QString::fromUtf8(input.constData(), input.size());
    const QString plain = des0_in(text);
    if (text.size() > 200)
        FUZZ_CHECK(plain.isEmpty());
    FUZZ_CHECK(plain.size() <= (text.size() + 1) / 2);
    FUZZ_CHECK(!plain.contains(QChar(0)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    switch (data[0] % 3) {
    case 0:
        checkBlock(input);
        break;
    case 1:
        checkPassword(input);
        break;
    case 2:
        checkAnyText(input);
        break;
    }
    return 0;
}
