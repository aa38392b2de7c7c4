// Talking to the terminal: the plain form commands of the pages and the encrypted JSON commands
// of the access data. A request that the terminal refuses for want of a login sends the browser
// to the login page.
import { seal, open } from './envelope.js';

const TIMEOUT_MS = 20000;

// kind: "offline" (no answer, or none in time), "http" (an HTTP error status), "login" (not
// logged in; the page is leaving), "reply" (an answer that is not what the command sends; the
// text is in detail).
export class CommandError extends Error {
  constructor(kind, detail = '') {
    super(`${kind}: ${detail}`);
    this.kind = kind;
    this.detail = detail;
  }
}

export function goToLogin() {
  location.assign('index.html' + (location.hash ? '?next=' + encodeURIComponent(location.hash) : ''));
}

// Posts body and returns the reply text as it came.
export async function post(path, body, timeoutMs = TIMEOUT_MS) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), timeoutMs);
  try {
    const response = await fetch(path, { method: 'POST', body, cache: 'no-store', signal: controller.signal });
    const text = await response.text();
    if (!response.ok) throw new CommandError('http', `${response.status} ${text}`.trim());
    return text;
  } catch (error) {
    throw error instanceof CommandError ? error : new CommandError('offline', String(error));
  } finally {
    clearTimeout(timer);
  }
}

// Like post, but a "login" reply leaves for the login page.
export async function form(path, body = '') {
  const text = await post(path, body);
  if (text === 'login') {
    goToLogin();
    throw new CommandError('login');
  }
  return text;
}

// Form bodies carry values as they are: the terminal neither decodes "%" escapes nor knows any
// other way to carry "&" or "=", so values holding them cannot be sent.
export const unsendable = (value) => /[&=]/.test(value);

export const formBody = (pairs) => pairs.map(([name, value]) => `${name}=${value}`).join('&');

// The name=value pairs after "OK&" of a reply, in order; null when the reply is not "OK...".
export function okFields(text) {
  if (text !== 'OK' && !text.startsWith('OK&')) return null;
  return text
    .split('&')
    .slice(1)
    .map((piece) => {
      const equals = piece.indexOf('=');
      return equals < 0 ? [piece, ''] : [piece.slice(0, equals), piece.slice(equals + 1)];
    });
}

export async function formFields(path) {
  const text = await form(path);
  const fields = okFields(text);
  if (!fields) throw new CommandError('reply', text);
  return new Map(fields);
}

let serialNumber = null;
let lastId = 0;

// Every encrypted command names the terminal's serial number, which its version information
// tells.
async function deviceSerial() {
  if (serialNumber === null) serialNumber = (await formFields('/command/version_get')).get('产品序列号') ?? '';
  return serialNumber;
}

// The terminal reads a number sent as a JSON number only up to 2147483647, a decimal string in
// full; so the numbers of "datas" go as strings.
const numbersAsText = (datas) =>
  Object.fromEntries(Object.entries(datas).map(([name, value]) => [name, typeof value === 'number' ? String(value) : value]));

// Sends one encrypted command and returns the opened reply ({respond, datas, ...}).
export async function command(path, order, datas = {}) {
  const message = { id: String(++lastId), devicesn: await deviceSerial(), order, datas: numbersAsText(datas) };
  const text = await form(path, seal(JSON.stringify(message)));
  let reply = null;
  try {
    reply = JSON.parse(open(text) ?? '');
  } catch {
    // a plain text such as a refusal of the command is reported below
  }
  if (!reply || typeof reply.respond !== 'number') throw new CommandError('reply', text);
  return reply;
}
