// The kinds of access-control record, their fields as the encrypted commands name them, and the
// commands that read and write them. A field is a number (unsigned 32-bit) unless marked ":s"
// (text); ":t" marks a number that holds a time, in seconds since 1970.
import { command } from './api.js';
import { dateTime, fieldMessage } from './ui.js';

const SPECS = {
  person: ['personid', 'personid persontype accountstatus name:s group:s iden:s mobil:s password:s regtime:t voliditystart:t volidityend:t'],
  cardid: ['personid', 'personid cardid:s fingerid:s xp:s'],
  record: ['recordid', 'recordid personid cardid:s type time:t resultcode doornum direction'],
  permit: ['permitrank', 'permitrank holidayflag specialday multiuser releasetime opentime openalarmtime enable verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime isremote jgms retryset fgzrflag'],
  doorset: ['doornum direction', 'doornum direction skqnum verifymode pinwrongtime pinwrongdistime fhsbtime dcsbtime isremote jgms retryset enable'],
  warrant: ['warrantid', 'warrantid groupid doornum direction permitrank timezoneid enable type opennum'],
  timezone: ['timezoneid', 'timezoneid starttime endtime interval1:s interval2:s interval3:s interval4:s interval5:s interval6:s interval7:s intervals:s intervalh:s enable intervalf:s'],
  holiday: ['holidayid', 'holidayid daytime:s enable type'],
  specialday: ['specialdayid', 'specialdayid daytime:s enable'],
  stay: ['stayid', 'stayid doornum direction holidayflag specialday mode timezoneid enable fgzrflag'],
};

export const KINDS = Object.fromEntries(
  Object.entries(SPECS).map(([kind, [key, fields]]) => [
    kind,
    {
      key: key.split(' '),
      fields: fields.split(' ').map((spec) => ({ name: spec.replace(/:.$/, ''), text: spec.endsWith(':s'), time: spec.endsWith(':t') })),
    },
  ]),
);

const MAX_NUMBER = 4294967295;
export const PAGE_LIMIT = 100; // the most rows one query answers

// A refusal of an encrypted command, by its result code; a change (writing) is told apart, as
// its code 3 means a value the terminal could not keep as typed.
export class RespondError extends Error {
  constructor(code, change = false) {
    super(`respond ${code}`);
    this.kind = 'respond';
    this.code = code;
    this.change = change;
  }
}

async function checked(path, order, datas, allowNotFound = false) {
  const reply = await command(path, order, datas);
  if (reply.respond === 1) return reply.datas;
  if (reply.respond === 4 && allowNotFound) return null;
  throw new RespondError(reply.respond, path.endsWith('/property'));
}

// Rows of a reply array; the terminal fills a short page up with empty objects.
const rows = (datas) => (Array.isArray(datas) ? datas.filter((row) => Object.keys(row).length) : []);

// Up to count (at most 100) records in key order after skipping start.
export const page = async (kind, start, count) => rows(await checked(`/command/getinfo/${kind}`, 5, { startnum: start, getnum: count }, true));
// The record with this key, or null.
export const one = (kind, key) => checked(`/command/getinfo/${kind}`, 4, { [KINDS[kind].key[0]]: key }, true);
// Access records numbered min to max (at most 100 numbers), in number order.
export const range = async (min, max) => rows(await checked('/command/getinfo/record', 6, { minid: min, maxid: max }, true));
// Adds a record or replaces the one with its key.
export const save = (kind, datas) => checked(`/command/${kind}/property`, 2, datas);
export const remove = (kind, keyDatas) => checked(`/command/${kind}/property`, 3, keyDatas);
export const clear = (kind) => checked(`/command/${kind}/property`, 1, {});

// Input descriptions of a kind's fields for ui.field.
export const inputs = (kind, record = {}, names = null) =>
  KINDS[kind].fields
    .filter((f) => !names || names.includes(f.name))
    .map((f) => {
      const value = record[f.name] ?? '';
      if (f.text) return { name: f.name, label: 'f_' + f.name, value };
      if (f.time) return { name: f.name, label: 'f_' + f.name, value: value === '' ? '' : timeText(value), hint: 'timeFieldHint' };
      return { name: f.name, label: 'f_' + f.name, value, type: 'number', min: 0, max: MAX_NUMBER, step: 1, inputMode: 'numeric' };
    });

// Seconds since 1970 of a local date and time "yyyy-MM-dd[ hh:mm[:ss]]"; null when it is not one.
function secondsOf(text) {
  const parts = /^(\d{4})-(\d\d)-(\d\d)(?:[ T](\d\d):(\d\d)(?::(\d\d))?)?$/.exec(text);
  if (!parts) return null;
  const [year, month, day, hour = 0, minute = 0, second = 0] = parts.slice(1).map((part) => Number(part ?? 0));
  const date = new Date(year, month - 1, day, hour, minute, second);
  // A date the calendar does not have (2024-02-30) rolls over; it is refused instead.
  if (date.getMonth() !== month - 1 || date.getDate() !== day || hour > 23 || minute > 59 || second > 59) return null;
  return Math.floor(date.getTime() / 1000);
}

// The record a form describes, numbers checked; null (with the faults marked) when one is not
// a whole number from 0 to 4294967295 or, for a time, a date. An empty number field counts as 0.
export function read(kind, formNode, names = null) {
  const datas = {};
  let ok = true;
  for (const f of KINDS[kind].fields) {
    if (names && !names.includes(f.name)) continue;
    const value = formNode.elements[f.name].value.trim();
    const number = /^\d*$/.test(value) ? Number(value) : f.time ? secondsOf(value) : null;
    if (f.text) datas[f.name] = formNode.elements[f.name].value;
    else if (number !== null && number >= 0 && number <= MAX_NUMBER) datas[f.name] = number;
    else {
      fieldMessage(formNode, f.name, f.time ? 'timeFieldFormat' : 'numberRange');
      ok = false;
    }
  }
  return ok ? datas : null;
}

// Times are seconds since 1970 where they look like them; anything else is shown as it is.
export function timeText(seconds) {
  return seconds >= 1e9 ? dateTime(new Date(seconds * 1000)) : String(seconds ?? '');
}
