// The sealed form of the terminal's encrypted command messages: the UTF-8 text, filled up with
// zero bytes to whole 16-byte blocks, AES-128 in ECB mode under the terminal's fixed key, then
// standard Base64.
import { ecb } from './aes.js';

const KEY = new TextEncoder().encode('KQWZ5830271946mv');

export function toBase64(bytes) {
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary);
}

// Bytes of a Base64 text; characters outside the alphabet are skipped, as the terminal does.
export function fromBase64(text) {
  const clean = text.replace(/[^A-Za-z0-9+/]/g, '');
  return Uint8Array.from(atob(clean + '='.repeat((4 - (clean.length % 4)) % 4)), (c) => c.charCodeAt(0));
}

export function seal(text) {
  const plain = new TextEncoder().encode(text);
  const padded = new Uint8Array(Math.ceil(plain.length / 16) * 16);
  padded.set(plain);
  return toBase64(ecb(KEY, padded));
}

// The text of a sealed message, up to its first zero byte; null when it is not one.
export function open(sealed) {
  let bytes;
  try {
    bytes = fromBase64(sealed);
  } catch {
    return null;
  }
  if (!bytes.length || bytes.length % 16) return null;
  const plain = ecb(KEY, bytes, true);
  const end = plain.indexOf(0);
  return new TextDecoder().decode(end < 0 ? plain : plain.subarray(0, end));
}
