// Lists of access-control records by page, with find, add, change and delete; one generic page
// serves every kind, and the persons page adds its cards to it.
import { KINDS, page, one, save, remove, clear, inputs, read } from '../kinds.js';
import { h, field, message, busy, confirmAction, table, clearFieldMessages } from '../ui.js';

const PAGE_SIZE = 20;

// The standard adapter of a kind: its own fields, read and written one to one.
function kindAdapter(kind) {
  const names = KINDS[kind].fields.map((f) => f.name);
  const keyOf = (row) => Object.fromEntries(KINDS[kind].key.map((name) => [name, row[name]]));
  return {
    keyLabel: 'f_' + KINDS[kind].key[0],
    columns: names.map((name) => ['f_' + name, (row) => String(row[name] ?? '')]),
    load: (start, count) => page(kind, start, count),
    find: (key) => one(kind, key),
    fields: (row) => inputs(kind, row),
    async store(formNode) {
      const datas = read(kind, formNode);
      if (!datas) return null;
      await save(kind, datas);
      return datas;
    },
    remove: (row) => remove(kind, keyOf(row)),
    clear: () => clear(kind),
  };
}

// Builds the list, the editor and their controls into container for adapter.
export function recordPage(container, adapter, canList = true) {
  const area = h('p', { class: 'message' });
  const listArea = h('div', { class: 'list' });
  const editorArea = h('div', { class: 'editor' });
  let start = 0;

  const pageLabel = h('span', { class: 'page-label' });
  const previous = h('button', { type: 'button', t: 'previousPage' });
  const next = h('button', { type: 'button', t: 'nextPage' });

  const showRows = (rows) => {
    listArea.replaceChildren(
      rows.length
        ? table(
            [...adapter.columns.map(([label]) => label), 'actions'],
            rows.map((row) =>
              h(
                'tr',
                {},
                ...adapter.columns.map(([, value]) => h('td', {}, value(row))),
                h('td', {}, h('button', { type: 'button', class: 'small', t: 'edit', onclick: () => openEditor(row) })),
              ),
            ),
          )
        : h('p', { t: 'noRecords' }),
    );
  };

  const load = async () => {
    const count = await busy(next, area, async () => {
      let rows = await adapter.load(start, PAGE_SIZE);
      // When the last records of the last page are gone, the page before it is shown.
      while (!rows.length && start > 0) {
        start = Math.max(0, start - PAGE_SIZE);
        rows = await adapter.load(start, PAGE_SIZE);
      }
      showRows(rows);
      pageLabel.textContent = rows.length ? `${start + 1} – ${start + rows.length}` : '';
      previous.disabled = start === 0;
      message(area, '', '');
      return rows.length;
    });
    // A short page is the last one.
    next.disabled = !(count >= PAGE_SIZE);
  };

  previous.addEventListener('click', () => ((start = Math.max(0, start - PAGE_SIZE)), load()));
  next.addEventListener('click', () => ((start += PAGE_SIZE), load()));

  // saved: the record was just stored, which the editor says.
  function openEditor(row, saved = false) {
    const isNew = !row;
    const formArea = h('p', { class: 'message' });
    const saveButton = h('button', { type: 'submit', t: 'save' });
    const deleteButton = isNew && canList ? null : h('button', { type: 'button', class: 'danger', t: 'delete' });
    const cancel = h('button', { type: 'button', t: 'close', onclick: () => editorArea.replaceChildren() });
    const formNode = h(
      'form',
      { noValidate: true, class: 'record-form' },
      h('h2', { t: isNew ? 'addRecord' : 'editRecord' }),
      h('div', { class: 'grid' }, ...adapter.fields(row ?? {}).map(field)),
      h('div', { class: 'buttons' }, saveButton, deleteButton, cancel),
      formArea,
    );
    formNode.addEventListener('submit', (event) => {
      event.preventDefault();
      clearFieldMessages(formNode);
      busy(saveButton, formArea, async () => {
        const stored = await adapter.store(formNode);
        if (!stored) return;
        message(formArea, 'ok', 'saved');
        if (canList) await load();
        // A new record, once stored, is one to change or delete like any other.
        if (isNew) openEditor(stored, true);
      });
    });
    deleteButton?.addEventListener('click', () =>
      busy(deleteButton, formArea, async () => {
        if (!(await confirmAction('deleteRecordQuestion', 'delete'))) return message(formArea, '', '');
        const target = row ?? adapter.formKey(formNode);
        if (!target) return;
        await adapter.remove(target);
        editorArea.replaceChildren();
        if (canList) await load();
        message(area, 'ok', 'deleted');
      }),
    );
    editorArea.replaceChildren(formNode);
    if (saved) message(formArea, 'ok', 'saved');
    else formNode.querySelector('input:not([readonly]), select')?.focus();
  }

  const keyInput = h('input', { id: 'find-key', class: 'key', type: 'number', min: 0, inputMode: 'numeric' });
  const findButton = h('button', { type: 'submit', t: 'find' });
  const findForm = h('form', { class: 'inline' }, h('label', { for: 'find-key', t: adapter.keyLabel }), keyInput, findButton);
  findForm.addEventListener('submit', (event) => {
    event.preventDefault();
    busy(findButton, area, async () => {
      if (!/^\d+$/.test(keyInput.value) || Number(keyInput.value) > 4294967295) return message(area, 'error', 'numberRange');
      const row = await adapter.find(Number(keyInput.value));
      if (!row) return message(area, 'error', 'notFound');
      message(area, '', '');
      showRows([row]);
      openEditor(row);
    });
  });
  const addButton = h('button', { type: 'button', id: 'add-record', t: 'add', onclick: () => openEditor(null) });
  const clearButton = h('button', { type: 'button', id: 'clear-records', class: 'danger', t: 'clearAll' });
  clearButton.addEventListener('click', () =>
    busy(clearButton, area, async () => {
      if (!(await confirmAction('clearQuestion', 'clearAll'))) return message(area, '', '');
      await adapter.clear();
      if (canList) await load();
      message(area, 'ok', 'cleared');
    }),
  );

  container.append(
    h('div', { class: 'toolbar' }, canList ? findForm : null, addButton, adapter.clear ? clearButton : null),
    area,
    canList ? h('div', {}, listArea, h('div', { class: 'pager' }, previous, pageLabel, next)) : h('p', { class: 'note', t: 'noListing' }),
    editorArea,
  );
  if (canList) return load();
  openEditor(null);
}

const TABLE_KINDS = ['permit', 'warrant', 'timezone', 'holiday', 'specialday', 'stay', 'doorset'];

export async function tables(content) {
  const select = h('select', { id: 'kind' }, ...TABLE_KINDS.map((kind) => h('option', { value: kind, t: 'kind_' + kind })));
  const body = h('div');
  const show = () => {
    const kind = select.value;
    const adapter = kindAdapter(kind);
    // Door settings have no query; they are written and deleted by door and direction.
    adapter.formKey = (formNode) => read(kind, formNode, KINDS[kind].key);
    body.replaceChildren();
    return recordPage(body, adapter, kind !== 'doorset');
  };
  select.addEventListener('change', show);
  content.append(h('div', { class: 'toolbar' }, h('label', { for: 'kind', t: 'recordKind' }), select), body);
  await show();
}
