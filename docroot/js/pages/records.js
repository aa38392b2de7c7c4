// The access-record log, newest first, by pages or by a range of record numbers, and its export
// as CSV.
import { command } from '../api.js';
import { KINDS, PAGE_LIMIT, range, timeText, RespondError } from '../kinds.js';
import { h, message, busy, table, setText } from '../ui.js';

const PAGE_SIZE = 50;
const COLUMNS = KINDS.record.fields.map((f) => f.name);
// On screen the time comes first after the number, so that a phone shows it without scrolling.
const SHOWN = ['recordid', 'time', 'personid', 'cardid', 'doornum', 'direction', 'type', 'resultcode'];

const cell = (row, name) => (name === 'time' ? timeText(row.time) : String(row[name] ?? ''));

// Records numbered low to high, newest first, asking at most PAGE_LIMIT numbers at a time.
async function newestFirst(low, high, progress = () => {}) {
  const rows = [];
  for (let top = high; top >= low; top -= PAGE_LIMIT) {
    const chunk = await range(Math.max(low, top - PAGE_LIMIT + 1), top);
    rows.push(...chunk.reverse());
    progress(high - Math.max(low, top - PAGE_LIMIT + 1) + 1, high - low + 1);
  }
  return rows;
}

// One CSV field; a text that a spreadsheet would take for a formula is kept as text.
function csvField(value) {
  let text = String(value);
  if (/^[=+\-@\t\r]/.test(text)) text = "'" + text;
  return /[",\r\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
}

export async function records(content) {
  const reply = await command('/command/getinfo/system', 0);
  if (reply.respond !== 1) throw new RespondError(reply.respond);
  const { recordidmin: min = 0, recordidmax: max = 0, record: count = 0 } = reply.datas ?? {};
  const summary = h('p', { t: ['recordSummary', count, min, max] });
  const from = h('input', { id: 'from', class: 'key', type: 'number', min: 0, value: min, inputMode: 'numeric' });
  const to = h('input', { id: 'to', class: 'key', type: 'number', min: 0, value: max, inputMode: 'numeric' });
  const show = h('button', { type: 'submit', t: 'show' });
  const exportButton = h('button', { type: 'button', id: 'export-csv', t: 'exportCsv' });
  const area = h('p', { class: 'message' });
  const list = h('div');
  const newer = h('button', { type: 'button', id: 'newer', t: 'newerPage', disabled: true });
  const older = h('button', { type: 'button', id: 'older', t: 'olderPage', disabled: true });
  const pageLabel = h('span', { class: 'page-label' });
  let top = max;

  const bounds = () => {
    const low = Number(from.value);
    const high = Number(to.value);
    if (!/^\d+$/.test(from.value) || !/^\d+$/.test(to.value) || low > high) {
      message(area, 'error', 'rangeInvalid');
      return null;
    }
    return [low, high];
  };

  const load = () =>
    busy(show, area, async () => {
      const [low, high] = bounds() ?? [];
      if (low === undefined) return;
      top = Math.min(Math.max(top, low), high);
      const bottom = Math.max(low, top - PAGE_SIZE + 1);
      const rows = await newestFirst(bottom, top);
      list.replaceChildren(
        rows.length ? table(SHOWN.map((name) => 'f_' + name), rows.map((row) => h('tr', {}, ...SHOWN.map((name) => h('td', { text: cell(row, name) }))))) : h('p', { t: 'noRecords' }),
      );
      setText(pageLabel, ['numbersShown', bottom, top]);
      newer.disabled = top >= high;
      older.disabled = bottom <= low;
      message(area, '', '');
    });

  const filter = h('form', { class: 'toolbar' }, h('label', { for: 'from', t: 'fromNumber' }), from, h('label', { for: 'to', t: 'toNumber' }), to, show, exportButton);
  filter.addEventListener('submit', (event) => {
    event.preventDefault();
    top = Number(to.value);
    load();
  });
  newer.addEventListener('click', () => ((top += PAGE_SIZE), load()));
  older.addEventListener('click', () => ((top -= PAGE_SIZE), load()));
  exportButton.addEventListener('click', () =>
    busy(exportButton, area, async () => {
      const [low, high] = bounds() ?? [];
      if (low === undefined) return;
      const rows = await newestFirst(low, high, (done, total) => setText(area, ['exporting', done, total]));
      const lines = [[...COLUMNS, 'time_text'].join(','), ...rows.map((row) => [...COLUMNS.map((name) => row[name] ?? ''), timeText(row.time)].map(csvField).join(','))];
      const link = h('a', { href: URL.createObjectURL(new Blob([lines.join('\r\n') + '\r\n'], { type: 'text/csv' })), download: `records-${low}-${high}.csv` });
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60000);
      message(area, 'ok', ['exported', rows.length]);
    }),
  );
  content.append(summary, filter, area, list, h('div', { class: 'pager' }, newer, pageLabel, older));
  if (count) await load();
  else list.append(h('p', { t: 'noRecords' }));
}
