// AES-128 (FIPS-197) on 16-byte blocks, as the terminal uses it for its command messages.
// Written here rather than taken from a library: it is small, and the browser's own crypto
// API offers neither ECB nor use over plain HTTP.

const SBOX = new Uint8Array(256);
const INV_SBOX = new Uint8Array(256);

const xtime = (b) => ((b << 1) ^ (b & 0x80 ? 0x1b : 0)) & 0xff;

function mul(a, b) {
  let product = 0;
  for (; b; b >>= 1, a = xtime(a)) if (b & 1) product ^= a;
  return product;
}

// The S-box is the affine map of the multiplicative inverse in GF(2^8); walking the powers of
// the generator 3 visits every non-zero byte together with its inverse.
{
  const rotl = (x, n) => ((x << n) | (x >> (8 - n))) & 0xff;
  let p = 1;
  let q = 1;
  do {
    p = p ^ xtime(p);
    q ^= q << 1;
    q ^= q << 2;
    q ^= q << 4;
    q &= 0xff;
    if (q & 0x80) q ^= 0x09;
    const s = q ^ rotl(q, 1) ^ rotl(q, 2) ^ rotl(q, 3) ^ rotl(q, 4) ^ 0x63;
    SBOX[p] = s;
    INV_SBOX[s] = p;
  } while (p !== 1);
  SBOX[0] = 0x63;
  INV_SBOX[0x63] = 0;
}

// The 176-byte schedule of a 16-byte key: 11 round keys.
function expandKey(key) {
  if (key.length !== 16) throw new Error('AES-128 needs a 16-byte key');
  const w = new Uint8Array(176);
  w.set(key);
  for (let i = 16, rcon = 1; i < 176; i += 4) {
    let t = w.slice(i - 4, i);
    if (i % 16 === 0) {
      t = Uint8Array.of(SBOX[t[1]] ^ rcon, SBOX[t[2]], SBOX[t[3]], SBOX[t[0]]);
      rcon = xtime(rcon);
    }
    for (let k = 0; k < 4; ++k) w[i + k] = w[i + k - 16] ^ t[k];
  }
  return w;
}

const addRoundKey = (s, w, round) => {
  for (let i = 0; i < 16; ++i) s[i] ^= w[round * 16 + i];
};

// Row r of the column-major state moves r places left (dir 1) or right (dir -1).
function shiftRows(s, dir) {
  const t = s.slice();
  for (let c = 0; c < 4; ++c)
    for (let r = 1; r < 4; ++r) s[r + 4 * c] = t[r + 4 * ((c + dir * r + 4) % 4)];
}

function mixColumns(s, m) {
  for (let c = 0; c < 16; c += 4) {
    const a = s.slice(c, c + 4);
    for (let r = 0; r < 4; ++r)
      s[c + r] = mul(a[r], m[0]) ^ mul(a[(r + 1) % 4], m[1]) ^ mul(a[(r + 2) % 4], m[2]) ^ mul(a[(r + 3) % 4], m[3]);
  }
}

function encryptBlock(w, block) {
  const s = Uint8Array.from(block);
  addRoundKey(s, w, 0);
  for (let round = 1; round <= 10; ++round) {
    for (let i = 0; i < 16; ++i) s[i] = SBOX[s[i]];
    shiftRows(s, 1);
    if (round < 10) mixColumns(s, [2, 3, 1, 1]);
    addRoundKey(s, w, round);
  }
  return s;
}

function decryptBlock(w, block) {
  const s = Uint8Array.from(block);
  addRoundKey(s, w, 10);
  for (let round = 9; round >= 0; --round) {
    shiftRows(s, -1);
    for (let i = 0; i < 16; ++i) s[i] = INV_SBOX[s[i]];
    addRoundKey(s, w, round);
    if (round > 0) mixColumns(s, [14, 11, 13, 9]);
  }
  return s;
}

// ECB over whole blocks; the caller pads.
export function ecb(key, data, decrypt = false) {
  if (data.length % 16) throw new Error('AES-ECB needs whole 16-byte blocks');
  const w = expandKey(key);
  const out = new Uint8Array(data.length);
  for (let i = 0; i < data.length; i += 16) {
    const block = data.subarray(i, i + 16);
    out.set(decrypt ? decryptBlock(w, block) : encryptBlock(w, block), i);
  }
  return out;
}
