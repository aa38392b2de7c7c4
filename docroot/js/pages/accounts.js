// Own password, the operator list and the device account.
import { form, formBody, unsendable, okFields, CommandError } from '../api.js';
import { passwordHex } from '../des.js';
import { h, formSection, values, fieldMessage, replyMessage, message, confirmAction, busy, table, checkSendable } from '../ui.js';

const SUPER_USER = '超级用户';
const OPERATOR = '操作员';
// What the terminal gives new operators and reset passwords; the pages tell it, as nobody could
// log in otherwise.
const DEFAULT_PASSWORD = '6172839405';

// The hexadecimal DES text of a password field; null (with the field marked) when it cannot go.
function hexOf(formNode, name) {
  const hex = passwordHex(formNode.elements[name].value);
  if (hex === null) fieldMessage(formNode, name, 'passwordUnsendable');
  return hex;
}

export async function password(content) {
  content.append(
    formSection(
      null,
      [
        { name: 'old', label: 'oldPassword', type: 'password', autocomplete: 'current-password' },
        { name: 'new', label: 'newPassword', type: 'password', autocomplete: 'new-password' },
        { name: 'repeat', label: 'repeatPassword', type: 'password', autocomplete: 'new-password' },
      ],
      'changePassword',
      async (formNode, area) => {
        const entered = values(formNode);
        if (!entered.new) return fieldMessage(formNode, 'new', 'passwordEmpty');
        if (entered.new !== entered.repeat) return fieldMessage(formNode, 'repeat', 'passwordsDiffer');
        const oldHex = hexOf(formNode, 'old');
        const newHex = hexOf(formNode, 'new');
        if (oldHex === null || newHex === null) return;
        const reply = await form('/command/password_set', formBody([['old', oldHex], ['new', newHex]]));
        replyMessage(area, reply, 'passwordChanged');
        if (reply === 'OK') formNode.reset();
      },
    ),
  );
}

const typeKey = (type) => (type === SUPER_USER ? 'superUser' : type === OPERATOR ? 'operator' : null);

// A type as the page shows it: translated when known, else as stored.
const typeCell = (type) => (typeKey(type) ? h('td', { t: typeKey(type) }) : h('td', { text: type }));

function typeSelect(name, current, id) {
  const select = h('select', { name, id }, h('option', { value: SUPER_USER, t: 'superUser' }), h('option', { value: OPERATOR, t: 'operator' }));
  if (!typeKey(current)) select.append(h('option', { value: current, text: current }));
  select.value = current;
  return select;
}

async function operatorList() {
  const text = await form('/command/operator_get');
  const fields = okFields(text);
  if (!fields) throw new CommandError('reply', text);
  const list = [];
  for (const [name, value] of fields) {
    if (name === 'Name') list.push({ name: value, type: '' });
    else if (name === 'Level' && list.length) list[list.length - 1].type = value;
  }
  return list;
}

export async function operators(content) {
  const listArea = h('div');
  const note = h('p', { class: 'message' });
  content.append(listArea, note);
  await showOperators(listArea, note);
}

async function showOperators(listArea, note) {
  const list = await operatorList();
  const me = list.find((operator) => operator.name === sessionStorage.getItem('operator'));
  if (!me || me.type !== SUPER_USER) {
    const rows = list.map((o) => h('tr', {}, h('td', { text: o.name }), typeCell(o.type)));
    listArea.replaceChildren(h('section', {}, table(['operatorName', 'operatorType'], rows), h('p', { class: 'note', t: 'onlySuperUser' })));
    return;
  }
  const rows = list.map((o, i) =>
    h(
      'tr',
      {},
      h('td', {}, h('input', { name: 'name' + i, value: o.name, 'aria-label': o.name })),
      h('td', {}, typeSelect('type' + i, o.type)),
      h('td', {}, h('input', { type: 'checkbox', name: 'delete' + i, 'aria-label': o.name })),
      h('td', {}, h('input', { type: 'checkbox', name: 'reset' + i, 'aria-label': o.name })),
    ),
  );
  const listForm = h('form', { class: 'operator-list' }, table(['operatorName', 'operatorType', 'deleteOperator', 'resetPassword'], rows));
  const area = h('p', { class: 'message' });
  const saveButton = h('button', { type: 'button', t: 'saveList' });
  const resetButton = h('button', { type: 'button', t: 'resetSelected' });
  listForm.append(h('div', { class: 'buttons' }, saveButton, resetButton), area);
  const field = (name) => listForm.elements[name];

  saveButton.addEventListener('click', () =>
    busy(saveButton, area, async () => {
      const kept = list.map((o, i) => ({ name: field('name' + i).value, type: field('type' + i).value, drop: field('delete' + i).checked }));
      if (kept.some((o) => !o.drop && (!o.name || unsendable(o.name)))) return message(area, 'error', 'operatorNameInvalid');
      // Without a super-user nobody could manage operators until a factory reset.
      if (!kept.some((o) => !o.drop && o.type === SUPER_USER)) return message(area, 'error', 'keepSuperUser');
      if (kept.some((o) => o.drop) && !(await confirmAction('deleteOperatorsQuestion', 'delete'))) return message(area, '', '');
      const body = formBody(kept.flatMap((o) => [['name', o.name], ['type', o.type], ['delete', String(o.drop)]]));
      const reply = await form('/command/opera_del', body);
      if (reply !== 'OK') return replyMessage(area, reply);
      await showOperators(listArea, note);
      message(note, 'ok', 'saved');
    }),
  );
  resetButton.addEventListener('click', () =>
    busy(resetButton, area, async () => {
      const marks = list.map((o, i) => field('reset' + i).checked);
      if (!marks.some(Boolean)) return message(area, 'error', 'nothingSelected');
      if (!(await confirmAction(['resetPasswordsQuestion', DEFAULT_PASSWORD], 'resetPassword'))) return message(area, '', '');
      const reply = await form('/command/opera_mdf', formBody(marks.map((mark) => ['reset', String(mark)])));
      replyMessage(area, reply, ['passwordsReset', DEFAULT_PASSWORD]);
    }),
  );

  const addSection = formSection(
    'addOperator',
    [{ name: 'newName', label: 'operatorName', autocomplete: 'off' }],
    'add',
    async (formNode, addArea) => {
      const name = formNode.elements.newName.value;
      if (!name) return fieldMessage(formNode, 'newName', 'operatorNameInvalid');
      if (!checkSendable(formNode, ['newName'], unsendable)) return;
      const reply = await form('/command/opera_add', formBody([['name', name], ['type', formNode.elements.newType.value]]));
      if (reply !== 'OK') return replyMessage(addArea, reply);
      await showOperators(listArea, note);
      message(note, 'ok', ['operatorAdded', name]);
    },
    h('div', { class: 'field' }, h('label', { for: 'f-newType', t: 'operatorType' }), typeSelect('newType', OPERATOR, 'f-newType'), h('small', { t: ['defaultPasswordHint', DEFAULT_PASSWORD] })),
  );
  listArea.replaceChildren(h('section', {}, listForm), addSection);
}

export async function account(content) {
  const status = h('p', { class: 'message' });
  content.append(h('p', { class: 'note', t: 'accountNote' }), status);
  const showStatus = async () => {
    const reply = await form('/command/active', 'isActive=?');
    if (reply === 'OK&isActive=1') message(status, 'ok', 'accountSet');
    else if (reply === 'isActive=0') message(status, 'info', 'accountNotSet');
    else replyMessage(status, reply);
  };
  content.append(
    formSection(
      'setAccount',
      [
        { name: 'username', label: 'accountName', autocomplete: 'off' },
        { name: 'password', label: 'password', type: 'password', autocomplete: 'new-password' },
      ],
      'save',
      async (formNode, area) => {
        if (!formNode.elements.username.value) return fieldMessage(formNode, 'username', 'accountNameEmpty');
        if (!checkSendable(formNode, ['username'], unsendable)) return;
        const hex = hexOf(formNode, 'password');
        if (hex === null) return;
        const reply = await form('/command/active', formBody([['username', formNode.elements.username.value], ['password', hex]]));
        replyMessage(area, reply, 'accountSaved');
        await showStatus();
      },
    ),
  );
  await showStatus();
}
