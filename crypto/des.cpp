#include "crypto/des.h"

#include <QByteArray>

namespace {

// Permutation tables hold 0-based source positions and end with kEnd.
const unsigned char kEnd = 255;

// clang-format off
const unsigned char kIp[] = {
    57, 49, 41, 33, 25, 17,  9,  1,
    59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,
    63, 55, 47, 39, 31, 23, 15,  7,
    56, 48, 40, 32, 24, 16,  8,  0,
    58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,
    62, 54, 46, 38, 30, 22, 14,  6,
    kEnd};

const unsigned char kIpInverse[] = {
    39,  7, 47, 15, 55, 23, 63, 31,
    38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,
    36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,
    34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25,
    32,  0, 40,  8, 48, 16, 56, 24,
    kEnd};

const unsigned char kE[] = {
    31,  0,  1,  2,  3,  4,
     3,  4,  5,  6,  7,  8,
     7,  8,  9, 10, 11, 12,
    11, 12, 13, 14, 15, 16,
    15, 16, 17, 18, 19, 20,
    19, 20, 21, 22, 23, 24,
    23, 24, 25, 26, 27, 28,
    27, 28, 29, 30, 31,  0,
    kEnd};

const unsigned char kP[] = {
    15,  6, 19, 20,
    28, 11, 27, 16,
     0, 14, 22, 25,
     4, 17, 30,  9,
     1,  7, 23, 13,
    31, 26,  2,  8,
    18, 12, 29,  5,
    21, 10,  3, 24,
    kEnd};

const unsigned char kPc1[] = {
    56, 48, 40, 32, 24, 16,  8,
     0, 57, 49, 41, 33, 25, 17,
     9,  1, 58, 50, 42, 34, 26,
    18, 10,  2, 59, 51, 43, 35,
    62, 54, 46, 38, 30, 22, 14,
     6, 61, 53, 45, 37, 29, 21,
    13,  5, 60, 52, 44, 36, 28,
    20, 12,  4, 27, 19, 11,  3,
    kEnd};

const unsigned char kPc2[] = {
    13, 16, 10, 23,  0,  4,
     2, 27, 14,  5, 20,  9,
    22, 18, 11,  3, 25,  7,
    15,  6, 26, 19, 12,  1,
    40, 51, 30, 36, 46, 54,
    29, 39, 50, 44, 32, 47,
    43, 48, 38, 55, 33, 52,
    45, 41, 49, 35, 28, 31,
    kEnd};

// S1 to S8, entry = row x 16 + column.
const unsigned char kSboxes[8][64] = {
    {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
      0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
      4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
     15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
      3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
      0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
     13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
     13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
     13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
      1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
     13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
     10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
      3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
     14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
      4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
     11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
     10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
      9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
      4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
     13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
      1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
      6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
      1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
      7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
      2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11}};
// clang-format on

// Left rotations of C and D accumulated up to each round.
const int kRotations[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// The browser forms encrypt under this key; its parity bits are ignored as DES ignores them.
const unsigned char kPasswordKey[8] = {'q', 't', 'v', 'k', 0, 0, 0, 0};

// Longest cipher text the password transform accepts, in bytes.
const int kMaxPasswordCipherBytes = 100;

const int kDecrypt = 0;
const int kEncrypt = 1;

void Transfer(const unsigned char *source, unsigned char *destination, const unsigned char *table)
{
    for (int k = 0; table[k] != kEnd; ++k)
        destination[k] = source[table[k]];
}

void dtob(unsigned char byte, unsigned char bits[8])
{
    for (int k = 0; k < 8; ++k)
        bits[k] = (byte >> (7 - k)) & 1;
}

void Circle(unsigned char *bits, int length)
{
    const unsigned char first = bits[0];
    for (int k = 0; k < length - 1; ++k)
        bits[k] = bits[k + 1];
    bits[length - 1] = first;
}

void str_xor(const unsigned char *a, unsigned char *b, int length)
{
    for (int k = 0; k < length; ++k)
        b[k] = (a[k] + b[k]) % 2;
}

void str_cpy(const unsigned char *source, unsigned char *destination, int length)
{
    for (int k = 0; k < length; ++k)
        destination[k] = source[k];
}

// Replaces the first 32 of the 48 bits by the output of the eight S-boxes.
void S_change(unsigned char bits[48])
{
    unsigned char out[32];
    for (int box = 0; box < 8; ++box) {
        const unsigned char *b = bits + 6 * box;
        const int row = 2 * b[0] + b[5];
        const int column = 8 * b[1] + 4 * b[2] + 2 * b[3] + b[4];
        const unsigned char value = kSboxes[box][row * 16 + column];
        for (int k = 0; k < 4; ++k)
            out[4 * box + k] = (value >> (3 - k)) & 1;
    }
    str_cpy(out, bits, 32);
}

// Round keys are computed afresh from the key for every round.
void KeyGenerate(const unsigned char key[64], unsigned char roundKey[48], int round)
{
    unsigned char cd[56];
    Transfer(key, cd, kPc1);
    for (int k = 0; k < kRotations[round]; ++k) {
        Circle(cd, 28);
        Circle(cd + 28, 28);
    }
    Transfer(cd, roundKey, kPc2);
}

// Mode 0 takes the round keys in reverse order and so decrypts; any other mode encrypts.
void des_algo(
    const unsigned char in[64], unsigned char out[64], const unsigned char key[64], int mode)
{
    unsigned char permuted[64];
    Transfer(in, permuted, kIp);
    unsigned char left[32];
    unsigned char right[32];
    str_cpy(permuted, left, 32);
    str_cpy(permuted + 32, right, 32);
    for (int i = 0; i < 16; ++i) {
        unsigned char roundKey[48];
        KeyGenerate(key, roundKey, mode != kDecrypt ? i : 15 - i);
        unsigned char expanded[48];
        Transfer(right, expanded, kE);
        str_xor(roundKey, expanded, 48);
        S_change(expanded);
        unsigned char f[32];
        Transfer(expanded, f, kP);
        str_xor(left, f, 32);
        str_cpy(right, left, 32);
        str_cpy(f, right, 32);
    }
    // The last round's halves go into the final permutation swapped.
    str_cpy(right, permuted, 32);
    str_cpy(left, permuted + 32, 32);
    Transfer(permuted, out, kIpInverse);
}

// Value of one hexadecimal digit of either case; any other character counts as 0.
int asc_to_hex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// Pairs of digits to bytes; a lone last digit is the high half of a byte. Characters are taken
// one byte each whatever the process locale, so the byte count follows the character count.
QByteArray string_to_array(const QString &text)
{
    const QByteArray digits = text.toLatin1();
    QByteArray bytes((digits.size() + 1) / 2, '\0');
    for (int k = 0; k < bytes.size(); ++k) {
        const int high = asc_to_hex(digits.at(2 * k));
        const int low = 2 * k + 1 < digits.size() ? asc_to_hex(digits.at(2 * k + 1)) : 0;
        bytes[k] = static_cast<char>(high * 16 + low);
    }
    return bytes;
}

// Runs every 8-byte block of input through des0 under the password key; a short last block is
// filled up with zero bytes, so the result is a whole number of blocks.
QByteArray passwordBlocks(int mode, const QByteArray &input)
{
    QByteArray blocks = input;
    blocks.append(QByteArray((8 - input.size() % 8) % 8, '\0'));
    QByteArray out(blocks.size(), '\0');
    for (int k = 0; k < blocks.size(); k += 8) {
        des0(mode, reinterpret_cast<const unsigned char *>(blocks.constData() + k), kPasswordKey,
            reinterpret_cast<unsigned char *>(out.data() + k));
    }
    return out;
}

} // namespace

// Mode 0 decrypts one block, any other mode encrypts it; in and out may be the same block.
void des0(int mode, const unsigned char in[8], const unsigned char key[8], unsigned char out[8])
{
    unsigned char inBits[64];
    unsigned char keyBits[64];
    for (int k = 0; k < 8; ++k) {
        dtob(in[k], inBits + 8 * k);
        dtob(key[k], keyBits + 8 * k);
    }
    unsigned char outBits[64];
    des_algo(inBits, outBits, keyBits, mode);
    for (int k = 0; k < 8; ++k) {
        unsigned char byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte = static_cast<unsigned char>((byte << 1) | outBits[8 * k + bit]);
        out[k] = byte;
    }
}

// The plain password behind the hexadecimal cipher text of the browser forms: the deciphered
// bytes up to the first zero byte, one ISO 8859-1 character each. Empty for an empty text and
// for more than 100 bytes of cipher text; a text made under another key gives some other text.
QString des0_in(const QString &text)
{
    const QByteArray cipherText = string_to_array(text);
    const int count = cipherText.size();
    if (count > kMaxPasswordCipherBytes)
        return QString();
    const QByteArray plain = passwordBlocks(kDecrypt, cipherText).left(count);
    const int zero = plain.indexOf('\0');
    return QString::fromLatin1(plain.left(zero < 0 ? count : zero));
}

// The hexadecimal text (lower case) that des0_in turns back into password: the password's
// ISO 8859-1 bytes filled up with zero bytes to whole blocks and enciphered under the password
// key. Empty when des0_in could not give the password back: a character outside ISO 8859-1, a
// zero character, or more than 96 characters (the cipher text would exceed 100 bytes).
QString des0_out(const QString &password)
{
    for (const QChar c : password) {
        if (c.unicode() == 0 || c.unicode() > 0xff)
            return QString();
    }
    const QByteArray plain = password.toLatin1();
    if ((plain.size() + 7) / 8 * 8 > kMaxPasswordCipherBytes)
        return QString();
    return QString::fromLatin1(passwordBlocks(kEncrypt, plain).toHex());
}
