#include "crypto/aescipher.h"

#include <cstring>

namespace {

const int kNb = 4; // words per block
const int kBlockLength = 16; // bytes

// clang-format off
const unsigned char kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16};

const unsigned char kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d};
// clang-format on

// Round constants, taken at index i / Nk for schedule word i: index 0 is never reached, and
// AES-128 reaches furthest, to index 10 (0x36); the doublings after it complete the sequence.
const unsigned char kRcon[14]
    = {0x8d, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36, 0x6c, 0xd8, 0xab};

// Doubling in GF(2^8) modulo the AES polynomial x^8 + x^4 + x^3 + x + 1.
unsigned char xtime(unsigned char x)
{
    return static_cast<unsigned char>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

// GF(2^8) product, by shifting and adding as in FIPS-197 section 4.2.1.
unsigned char multiply(unsigned char x, unsigned char y)
{
    unsigned char product = 0;
    while (y) {
        if (y & 1)
            product ^= x;
        x = xtime(x);
        y >>= 1;
    }
    return product;
}

// Four bytes of a column as a word, row i in bits 8i, whatever the machine's byte order.
quint32 loadColumn(const unsigned char *bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16
        | quint32(bytes[3]) << 24;
}

void storeColumn(quint32 word, unsigned char *bytes)
{
    for (int row = 0; row < 4; ++row)
        bytes[row] = static_cast<unsigned char>(word >> (8 * row));
}

// SubBytes, ShiftRows and MixColumns of one round folded into table look-ups: entry x of table r
// is what state byte x in row r (after ShiftRows) adds to its column, the four products of S(x)
// with that row's column of the MixColumns matrix, row i in bits 8i. Replies of tens of
// kilobytes are enciphered block by block, and the byte-wise round costs several times more.
struct RoundTables
{
    quint32 column[4][256];
};

const RoundTables &roundTables()
{
    static const RoundTables tables = [] {
        RoundTables t {};
        for (int x = 0; x < 256; ++x) {
            const quint32 s = kSbox[x];
            const quint32 twice = xtime(kSbox[x]);
            // Row 0's column (2, 1, 1, 3); each further row is it turned down by one row.
            const quint32 row0 = twice | (s << 8) | (s << 16) | ((twice ^ s) << 24);
            for (int r = 0; r < 4; ++r)
                t.column[r][x] = r == 0 ? row0 : (row0 << (8 * r)) | (row0 >> (32 - 8 * r));
        }
        return t;
    }();
    return tables;
}

// Length of data without its trailing 0x00 bytes.
int lengthWithoutTrailingZeros(const QByteArray &data)
{
    int end = data.size();
    while (end > 0 && data.at(end - 1) == '\0')
        --end;
    return end;
}

} // namespace

// Any level other than 192 or 256 bits is taken as 128 bits, so a stray value still gives a
// well-defined cipher rather than undefined sizes.
AesCipher::AesCipher(Aes level, Mode mode, Padding padding)
    : QObject(nullptr)
    , level_(level == AES_192 || level == AES_256 ? level : AES_128)
    , mode_(mode)
    , padding_(padding)
{
    switch (level_) {
    case AES_192:
        nk_ = 6;
        nr_ = 12;
        break;
    case AES_256:
        nk_ = 8;
        nr_ = 14;
        break;
    default:
        nk_ = 4;
        nr_ = 10;
        break;
    }
    keyLength_ = nk_ * 4;
}

bool AesCipher::acceptsArguments(const QByteArray &key, const QByteArray &iv) const
{
    if (mode_ != ECB && iv.size() != kBlockLength)
        return false;
    return key.size() == keyLength_;
}

// Cipher text padded to whole blocks; empty on a wrong key or IV length or an unknown mode.
QByteArray AesCipher::encode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsArguments(key, iv))
        return QByteArray();
    const QByteArray schedule = expandKey(key, true);
    const QByteArray padded = rawText + getPadding(rawText.size(), kBlockLength);
    QByteArray out;
    out.reserve(padded.size());
    switch (mode_) {
    case ECB: {
        // Enciphered where it stands: command replies of tens of kilobytes come this way.
        const QVector<quint32> roundKeys = roundKeyWords(schedule);
        out = padded;
        for (int i = 0; i < out.size(); i += kBlockLength)
            encipherInPlace(reinterpret_cast<unsigned char *>(out.data()) + i, roundKeys);
        return out;
    }
    case CBC: {
        QByteArray chain = iv;
        for (int i = 0; i < padded.size(); i += kBlockLength) {
            chain = cipher(schedule, byteXor(padded.mid(i, kBlockLength), chain));
            out += chain;
        }
        return out;
    }
    case CFB: {
        QByteArray feedback = iv;
        for (int i = 0; i < padded.size(); i += kBlockLength) {
            feedback = byteXor(padded.mid(i, kBlockLength), cipher(schedule, feedback));
            out += feedback;
        }
        return out;
    }
    case OFB:
        return byteXor(padded, keyStream(schedule, iv, padded.size()));
    default:
        return QByteArray();
    }
}

// Plain text with its padding still on; empty on a wrong key or IV length or an unknown mode.
// ECB and CBC decode whole blocks only: a trailing fragment cannot be a cipher block and is
// dropped. CFB and OFB give exactly as many bytes as they receive.
QByteArray AesCipher::decode(
    const QByteArray &cipherText, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsArguments(key, iv))
        return QByteArray();
    const QByteArray schedule = expandKey(key, false);
    const int wholeBlocks = cipherText.size() - cipherText.size() % kBlockLength;
    QByteArray out;
    out.reserve(cipherText.size());
    switch (mode_) {
    case ECB:
        for (int i = 0; i < wholeBlocks; i += kBlockLength)
            out += invCipher(schedule, cipherText.mid(i, kBlockLength));
        return out;
    case CBC: {
        QByteArray chain = iv;
        for (int i = 0; i < wholeBlocks; i += kBlockLength) {
            const QByteArray slice = cipherText.mid(i, kBlockLength);
            out += byteXor(invCipher(schedule, slice), chain);
            chain = slice;
        }
        return out;
    }
    case CFB: {
        QByteArray feedback = iv;
        for (int i = 0; i < cipherText.size(); i += kBlockLength) {
            const QByteArray slice = cipherText.mid(i, kBlockLength);
            out += byteXor(slice, cipher(schedule, feedback));
            feedback = slice;
        }
        return out;
    }
    case OFB:
        return byteXor(cipherText, keyStream(schedule, iv, cipherText.size()));
    default:
        return QByteArray();
    }
}

QByteArray AesCipher::removePadding(const QByteArray &data) const
{
    return RemovePadding(data, padding_);
}

// The Nb x (Nr + 1) words of the key schedule (FIPS-197 section 5.2); empty when the key is not
// exactly as long as the level demands. Encryption and decryption use the same schedule, so the
// flag only documents the caller's intent.
QByteArray AesCipher::expandKey(const QByteArray &key, bool) const
{
    if (key.size() != keyLength_)
        return QByteArray();
    const int words = kNb * (nr_ + 1);
    QByteArray schedule = key;
    schedule.reserve(words * 4);
    for (int i = nk_; i < words; ++i) {
        unsigned char word[4];
        std::memcpy(word, schedule.constData() + (i - 1) * 4, 4);
        if (i % nk_ == 0) {
            const unsigned char first = word[0];
            word[0] = static_cast<unsigned char>(kSbox[word[1]] ^ kRcon[i / nk_]);
            word[1] = kSbox[word[2]];
            word[2] = kSbox[word[3]];
            word[3] = kSbox[first];
        } else if (level_ == AES_256 && i % nk_ == 4) {
            for (unsigned char &byte : word)
                byte = kSbox[byte];
        }
        for (int j = 0; j < 4; ++j)
            word[j] ^= static_cast<unsigned char>(schedule.at((i - nk_) * 4 + j));
        schedule.append(reinterpret_cast<const char *>(word), 4);
    }
    return schedule;
}

// Lower-case hexadecimal text of count bytes, for diagnostics; empty for no bytes.
QByteArray AesCipher::printArray(const unsigned char *bytes, int count) const
{
    if (!bytes || count <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(bytes), count).toHex();
}

QByteArray AesCipher::Crypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
    const QByteArray &iv, Padding padding)
{
    AesCipher aes(level, mode, padding);
    return aes.encode(rawText, key, iv);
}

QByteArray AesCipher::Decrypt(Aes level, Mode mode, const QByteArray &cipherText,
    const QByteArray &key, const QByteArray &iv, Padding padding)
{
    AesCipher aes(level, mode, padding);
    return aes.decode(cipherText, key, iv);
}

QByteArray AesCipher::ExpandKey(Aes level, Mode mode, const QByteArray &key, bool encryptionKey)
{
    AesCipher aes(level, mode, ISO);
    return aes.expandKey(key, encryptionKey);
}

// The data without the given padding. Only the bytes that mark the padding are looked at, so
// data whose padding is damaged comes back unchanged rather than cut short.
QByteArray AesCipher::RemovePadding(const QByteArray &data, Padding padding)
{
    if (data.isEmpty())
        return data;
    switch (padding) {
    case ZERO:
        return data.left(lengthWithoutTrailingZeros(data));
    case PKCS7: {
        const int count = static_cast<unsigned char>(data.at(data.size() - 1));
        if (count == 0 || count > data.size())
            return data;
        return data.left(data.size() - count);
    }
    case ISO: {
        const int end = lengthWithoutTrailingZeros(data);
        if (end > 0 && static_cast<unsigned char>(data.at(end - 1)) == 0x80)
            return data.left(end - 1);
        return data;
    }
    }
    return data;
}

// The bytes to append to currentSize bytes to reach a multiple of alignment.
QByteArray AesCipher::getPadding(int currentSize, int alignment) const
{
    const int missing = (alignment - currentSize % alignment) % alignment;
    switch (padding_) {
    case ZERO:
        return QByteArray(missing, '\0');
    case PKCS7: {
        // An aligned text still gains a whole block, so the padding can always be told apart.
        const int count = missing == 0 ? alignment : missing;
        return QByteArray(count, static_cast<char>(count));
    }
    case ISO:
        if (missing == 0)
            return QByteArray();
        return QByteArray(1, static_cast<char>(0x80)) + QByteArray(missing - 1, '\0');
    }
    return QByteArray();
}

// The OFB key stream: the IV enciphered, then each block enciphered again, until it covers
// length bytes.
QByteArray AesCipher::keyStream(const QByteArray &expandedKey, const QByteArray &iv, int length)
{
    QByteArray stream = cipher(expandedKey, iv);
    while (stream.size() < length)
        stream += cipher(expandedKey, stream.right(kBlockLength));
    return stream;
}

// One block enciphered; a shorter block is taken as filled up with zero bytes.
QByteArray AesCipher::cipher(const QByteArray &expandedKey, const QByteArray &block)
{
    QByteArray out(kBlockLength, '\0');
    std::memcpy(out.data(), block.constData(), qMin(block.size(), kBlockLength));
    encipherInPlace(reinterpret_cast<unsigned char *>(out.data()), roundKeyWords(expandedKey));
    return out;
}

// The schedule as words, one a column: row i of the column in bits 8i, as the state is held
// while it is enciphered.
QVector<quint32> AesCipher::roundKeyWords(const QByteArray &expandedKey) const
{
    QVector<quint32> words(kNb * (nr_ + 1));
    for (int i = 0; i < words.size(); ++i)
        words[i]
            = loadColumn(reinterpret_cast<const unsigned char *>(expandedKey.constData()) + 4 * i);
    return words;
}

// The 16 bytes at block enciphered where they stand, a column a word: each middle round is four
// table look-ups per column (roundTables), the last one S-box look-ups.
void AesCipher::encipherInPlace(unsigned char *block, const QVector<quint32> &roundKeys) const
{
    const RoundTables &tables = roundTables();
    const quint32 *key = roundKeys.constData();
    quint32 state[kNb];
    for (int column = 0; column < kNb; ++column)
        state[column] = loadColumn(block + 4 * column) ^ key[column];
    for (int round = 1; round < nr_; ++round) {
        key += kNb;
        quint32 next[kNb];
        // ShiftRows brings row r of column (column + r) into this column.
        for (int column = 0; column < kNb; ++column)
            next[column] = tables.column[0][state[column] & 0xff]
                ^ tables.column[1][(state[(column + 1) % kNb] >> 8) & 0xff]
                ^ tables.column[2][(state[(column + 2) % kNb] >> 16) & 0xff]
                ^ tables.column[3][state[(column + 3) % kNb] >> 24] ^ key[column];
        std::memcpy(state, next, sizeof state);
    }
    key += kNb;
    for (int column = 0; column < kNb; ++column) {
        const quint32 word = quint32(kSbox[state[column] & 0xff])
            | quint32(kSbox[(state[(column + 1) % kNb] >> 8) & 0xff]) << 8
            | quint32(kSbox[(state[(column + 2) % kNb] >> 16) & 0xff]) << 16
            | quint32(kSbox[state[(column + 3) % kNb] >> 24]) << 24;
        storeColumn(word ^ key[column], block + 4 * column);
    }
}

// One block deciphered; a shorter block is taken as filled up with zero bytes.
QByteArray AesCipher::invCipher(const QByteArray &expandedKey, const QByteArray &block)
{
    QByteArray out(kBlockLength, '\0');
    std::memcpy(out.data(), block.constData(), qMin(block.size(), kBlockLength));
    state_ = reinterpret_cast<unsigned char *>(out.data());
    addRoundKey(nr_, expandedKey);
    for (int round = nr_ - 1; round > 0; --round) {
        invShiftRows();
        invSubBytes();
        addRoundKey(round, expandedKey);
        invMixColumns();
    }
    invShiftRows();
    invSubBytes();
    addRoundKey(0, expandedKey);
    state_ = nullptr;
    return out;
}

// The state is column-major (byte i is row i mod 4, column i / 4), as is the schedule, so round
// key byte i lines up with state byte i.
void AesCipher::addRoundKey(int round, const QByteArray &expandedKey)
{
    const char *roundKey = expandedKey.constData() + round * kNb * 4;
    for (int i = 0; i < kBlockLength; ++i)
        state_[i] ^= static_cast<unsigned char>(roundKey[i]);
}

void AesCipher::invSubBytes()
{
    for (int i = 0; i < kBlockLength; ++i)
        state_[i] = kInvSbox[state_[i]];
}

// Row r moves r columns to the right.
void AesCipher::invShiftRows()
{
    unsigned char old[kBlockLength];
    std::memcpy(old, state_, kBlockLength);
    for (int row = 1; row < 4; ++row) {
        for (int column = 0; column < kNb; ++column)
            state_[row + 4 * ((column + row) % kNb)] = old[row + 4 * column];
    }
}

void AesCipher::invMixColumns()
{
    for (int column = 0; column < kNb; ++column) {
        unsigned char *c = state_ + 4 * column;
        const unsigned char a0 = c[0], a1 = c[1], a2 = c[2], a3 = c[3];
        c[0] = multiply(a0, 14) ^ multiply(a1, 11) ^ multiply(a2, 13) ^ multiply(a3, 9);
        c[1] = multiply(a0, 9) ^ multiply(a1, 14) ^ multiply(a2, 11) ^ multiply(a3, 13);
        c[2] = multiply(a0, 13) ^ multiply(a1, 9) ^ multiply(a2, 14) ^ multiply(a3, 11);
        c[3] = multiply(a0, 11) ^ multiply(a1, 13) ^ multiply(a2, 9) ^ multiply(a3, 14);
    }
}

// As long as the shorter operand, so a short final block of a stream mode stays short.
QByteArray AesCipher::byteXor(const QByteArray &a, const QByteArray &b)
{
    const int length = qMin(a.size(), b.size());
    QByteArray out(length, '\0');
    for (int i = 0; i < length; ++i)
        out[i] = static_cast<char>(a.at(i) ^ b.at(i));
    return out;
}
