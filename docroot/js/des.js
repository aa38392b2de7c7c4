// DES (FIPS 46-3) encryption of 8-byte blocks, and the password transform of the terminal's
// forms: a password travels as the hexadecimal text of its DES cipher text.

// Tables in the standard's 1-based bit numbers; bit 1 is the most significant bit of byte 0.
const IP = [58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4, 62, 54, 46, 38, 30, 22, 14, 6,
  64, 56, 48, 40, 32, 24, 16, 8, 57, 49, 41, 33, 25, 17, 9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7];
const P = [16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
  2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25];
const PC1 = [57, 49, 41, 33, 25, 17, 9, 1, 58, 50, 42, 34, 26, 18, 10, 2, 59, 51, 43, 35, 27,
  19, 11, 3, 60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38, 30, 22,
  14, 6, 61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4];
const PC2 = [14, 17, 11, 24, 1, 5, 3, 28, 15, 6, 21, 10, 23, 19, 12, 4, 26, 8, 16, 7, 27, 20, 13, 2,
  41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32];
const SHIFTS = [1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1];
// S1 to S8, 64 hexadecimal entries each, row by row.
const S = [
  'e4d12fb83a6c59070f74e2d1a6cb953841e8d62bfc973a50fc8249175b3ea06d',
  'f18e6b34972dc05a3d47f28ec01a69b50e7ba4d158c6932fd8a13f42b67c05e9',
  'a09e63f51dc7b428d709346a285ecbf1d6498f30b12c5ae71ad069874fe3b52c',
  '7de3069a1285bc4fd8b56f03472c1ae9a690cb7df13e52843f06a1d8945bc72e',
  '2c417ab6853fd0e9eb2c47d150fa3986421bad78f9c5630eb8c71e2d6f09a453',
  'c1af92680d34e75baf427c9561de0b389ef528c3704a1db6432c95fabe17608d',
  '4b2ef08d3c975a61d0b7491ae35c2f8614bdc37eaf6805926bd814a7950fe23c',
  'd2846fb1a93e50c71fd8a374c56b0e927b419ce206adf35821e74a8dfc90356b',
].map((row) => Array.from(row, (digit) => parseInt(digit, 16)));

const permute = (bits, table) => table.map((position) => bits[position - 1]);

function toBits(bytes) {
  const bits = [];
  for (const byte of bytes) for (let k = 7; k >= 0; --k) bits.push((byte >> k) & 1);
  return bits;
}

function roundKeys(key) {
  let cd = permute(toBits(key), PC1);
  return SHIFTS.map((shift) => {
    const rotate = (half) => half.slice(shift).concat(half.slice(0, shift));
    cd = rotate(cd.slice(0, 28)).concat(rotate(cd.slice(28)));
    return permute(cd, PC2);
  });
}

// Expansion E: each 4-bit group with the neighbouring bit on either side.
const E = Array.from({ length: 48 }, (_, k) => ((Math.floor(k / 6) * 4 + (k % 6) + 31) % 32) + 1);

function feistel(right, key) {
  const x = permute(right, E).map((bit, k) => bit ^ key[k]);
  const out = [];
  for (let box = 0; box < 8; ++box) {
    const b = x.slice(box * 6, box * 6 + 6);
    const value = S[box][(b[0] * 2 + b[5]) * 16 + b[1] * 8 + b[2] * 4 + b[3] * 2 + b[4]];
    for (let k = 3; k >= 0; --k) out.push((value >> k) & 1);
  }
  return permute(out, P);
}

// One 8-byte block enciphered under an 8-byte key.
function encryptBlock(key, block) {
  const bits = permute(toBits(block), IP);
  let left = bits.slice(0, 32);
  let right = bits.slice(32);
  for (const k of roundKeys(key)) [left, right] = [right, feistel(right, k).map((bit, i) => bit ^ left[i])];
  const preOutput = right.concat(left);
  const out = new Array(64);
  IP.forEach((position, k) => (out[position - 1] = preOutput[k]));
  const bytes = new Uint8Array(8);
  out.forEach((bit, k) => (bytes[k >> 3] |= bit << (7 - (k & 7))));
  return bytes;
}

const PASSWORD_KEY = Uint8Array.of(0x71, 0x74, 0x76, 0x6b, 0, 0, 0, 0); // "qtvk" and four zeros
// The terminal reads at most 100 bytes of cipher text, so 96 characters of password.
const MAX_PASSWORD_LENGTH = 96;

// The lower-case hexadecimal text the terminal turns back into password; null when it could not:
// a character outside ISO 8859-1, a zero character, or more than 96 characters. The password is
// filled up with zero bytes to whole blocks, which the terminal drops again.
export function passwordHex(password) {
  if (password.length > MAX_PASSWORD_LENGTH || /[^\u0001-\u00ff]/.test(password)) return null;
  const bytes = new Uint8Array(Math.ceil(password.length / 8) * 8);
  for (let i = 0; i < password.length; ++i) bytes[i] = password.charCodeAt(i);
  let hex = '';
  for (let i = 0; i < bytes.length; i += 8)
    for (const byte of encryptBlock(PASSWORD_KEY, bytes.subarray(i, i + 8))) hex += byte.toString(16).padStart(2, '0');
  return hex;
}
