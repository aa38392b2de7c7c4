// Persons with their cards. The terminal keeps a person's name as Base64 of its UTF-8 text.
import { page, one, save, remove, inputs, read, timeText } from '../kinds.js';
import { toBase64, fromBase64 } from '../envelope.js';
import { recordPage } from './tables.js';

const CARD_FIELDS = ['cardid', 'fingerid', 'xp'];

// The name as text; a stored name that is not Base64 of UTF-8 is shown as stored.
function nameOf(stored) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(fromBase64(stored ?? ''));
  } catch {
    return stored ?? '';
  }
}

const withCard = async (person) => ({ ...person, card: (await one('cardid', person.personid)) ?? {} });

const personAdapter = {
  columns: [
    ['f_personid', (row) => String(row.personid)],
    ['f_name', (row) => nameOf(row.name)],
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
    const person = inputs('person', { ...row, name: nameOf(row.name) });
    person[0].readOnly = 'personid' in row;
    return [...person, ...inputs('cardid', row.card ?? {}, CARD_FIELDS)];
  },
  async store(formNode) {
    const person = read('person', formNode);
    const card = read('cardid', formNode, CARD_FIELDS);
    if (!person || !card) return null;
    person.name = toBase64(new TextEncoder().encode(person.name));
    await save('person', person);
    if (CARD_FIELDS.some((name) => card[name])) await save('cardid', { personid: person.personid, ...card });
    else await remove('cardid', { personid: person.personid });
    return person;
  },
  async remove(row) {
    await remove('person', { personid: row.personid });
    await remove('cardid', { personid: row.personid });
  },
};

export function persons(content) {
  return recordPage(content, personAdapter);
}
