// Persons with their cards. The terminal keeps a person's name as Base64 of its UTF-8 text.
import { page, one, save, remove, inputs, read, timeText } from '../kinds.js';
import { toBase64, fromBase64 } from '../envelope.js';
import { h } from '../ui.js';
import { recordPage } from './tables.js';

const CARD_FIELDS = ['cardid', 'fingerid', 'xp'];
// The editor's order: what identifies a person first.
const FORM_ORDER = ['personid', 'name', 'cardid', 'group', 'mobil', 'iden', 'password', 'voliditystart', 'volidityend', 'regtime', 'persontype', 'accountstatus', 'fingerid', 'xp'];
const BASE64 = /^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$/;

// The text of a stored name; null when it is not the Base64 of UTF-8 text (another program
// stored it otherwise), so that it is never read as something it is not.
function decodedName(stored) {
  if (!BASE64.test(stored)) return null;
  const bytes = fromBase64(stored);
  // Base64 with stray bits in its last character is not what any encoder writes.
  if (toBase64(bytes) !== stored) return null;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return null;
  }
}

const encodedName = (text) => toBase64(new TextEncoder().encode(text));

// A name for the list: its text, or the stored value as it is, marked as such.
function nameCell(stored = '') {
  const text = decodedName(stored);
  return text ?? h('span', { class: 'raw' }, stored, ' ', h('small', { class: 'tag', t: 'nameAsStored' }));
}

const withCard = async (person) => ({ ...person, card: (await one('cardid', person.personid)) ?? {} });

const personAdapter = {
  keyLabel: 'f_personid',
  columns: [
    ['f_personid', (row) => String(row.personid)],
    ['f_name', (row) => nameCell(row.name)],
    ['f_cardid', (row) => row.card.cardid ?? ''],
    ['f_group', (row) => row.group],
    ['f_persontype', (row) => String(row.persontype)],
    ['f_accountstatus', (row) => String(row.accountstatus)],
    ['f_volidityend', (row) => timeText(row.volidityend)],
  ],
  async load(start, count) {
    const persons = await page('person', start, count);
    // One at a time: the terminal admits only a few requests at once.
    const rows = [];
    for (const person of persons) rows.push(await withCard(person));
    return rows;
  },
  async find(key) {
    const person = await one('person', key);
    return person && withCard(person);
  },
  fields(row) {
    const name = row.name === undefined ? '' : decodedName(row.name);
    const person = inputs('person', { ...row, name: name ?? row.name });
    person[0].readOnly = 'personid' in row;
    if (name === null) Object.assign(person.find((f) => f.name === 'name'), { hint: 'nameAsStoredHint' });
    const all = [...person, ...inputs('cardid', row.card ?? {}, CARD_FIELDS)];
    return FORM_ORDER.map((name) => all.find((f) => f.name === name));
  },
  async store(formNode) {
    const person = read('person', formNode);
    const card = read('cardid', formNode, CARD_FIELDS);
    if (!person || !card) return null;
    person.name = encodedName(person.name);
    await save('person', person);
    if (CARD_FIELDS.some((name) => card[name])) await save('cardid', { personid: person.personid, ...card });
    else await remove('cardid', { personid: person.personid });
    return { ...person, card };
  },
  async remove(row) {
    await remove('person', { personid: row.personid });
    await remove('cardid', { personid: row.personid });
  },
};

export function persons(content) {
  return recordPage(content, personAdapter);
}
