// Building the pages. Every text that comes from an operator or from the terminal goes into the
// page as text (textContent, attribute values), never as HTML.
import { t, replyText } from './i18n.js';

// h('label', {t: 'key', for: 'id'}, child, ...): "t" sets a translated text that follows the
// language switch; "text" a fixed text; "on..." functions become listeners; "class", "for",
// "data-*", "aria-*" and "role" become attributes; anything else is set as a property.
export function h(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 't') setText(node, value);
    else if (key === 'text') node.textContent = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (/^(class|for|role|data-|aria-)/.test(key)) node.setAttribute(key, value);
    else node[key] = value;
  }
  node.append(...children.flat().filter((child) => child !== null && child !== undefined && child !== false));
  return node;
}

// A translated text kept up to date by the language switch: key, or [key, arg1, ...].
export function setText(node, key) {
  const [name, ...args] = Array.isArray(key) ? key : [key];
  node.dataset.t = name;
  node.dataset.args = JSON.stringify(args);
  delete node.dataset.reply;
  node.textContent = t(name, ...args);
}

// Shows a text of the terminal as it came, with a translation where one is known.
export function setReply(node, text) {
  delete node.dataset.t;
  node.dataset.reply = text;
  node.textContent = replyText(text);
}

// A message area. kind: "ok", "error", "busy", "info" or "" (hidden).
export function message(node, kind, key) {
  node.className = 'message ' + kind;
  node.setAttribute('role', kind === 'error' ? 'alert' : 'status');
  if (!kind) node.textContent = '';
  else setText(node, key);
}

// The text of a terminal reply in a message area; "OK" alone counts as success.
export function replyMessage(node, text, okKey) {
  if (text === 'OK' && okKey) return message(node, 'ok', okKey);
  node.className = 'message ' + (text === 'OK' ? 'ok' : 'error');
  node.setAttribute('role', text === 'OK' ? 'status' : 'alert');
  setReply(node, text);
}

// The text key for a result code of an encrypted command other than 1 (done); change: the
// command was to write, where 3 is a value refused rather than an unknown operation.
export const respondKey = (code, change = false) =>
  code === 3 && change ? 'respondValueRefused' : [2, 3, 4, 5, 6, 7, 9].includes(code) ? 'respond' + code : ['respondOther', code];

// What to tell the person about a failed command (api.CommandError, kinds.RespondError).
export function failure(node, error) {
  if (error.kind === 'login') return;
  if (error.kind === 'respond') return message(node, 'error', respondKey(error.code, error.change));
  if (error.kind === 'reply') return replyMessage(node, error.detail || '?');
  if (error.kind === 'http') return message(node, 'error', ['httpError', error.detail]);
  if (error.kind === 'offline') return message(node, 'error', 'offline');
  console.error(error);
  message(node, 'error', ['pageFault', String(error)]);
}

// Runs action while the button is disabled and the area says it is busy, and returns what it
// returns; failures are shown (and give undefined).
export async function busy(button, area, action) {
  button.disabled = true;
  message(area, 'busy', 'working');
  try {
    const result = await action();
    // An action that stopped at a field of the form leaves the messages beside the fields.
    if (area.classList.contains('busy')) message(area, 'error', 'fixMarked');
    return result;
  } catch (error) {
    failure(area, error);
  } finally {
    button.disabled = false;
  }
}

// A modal question; resolves true when the person confirms.
export function confirmAction(questionKey, confirmKey) {
  return new Promise((resolve) => {
    const dialog = h(
      'dialog',
      { class: 'confirm' },
      h('p', { t: questionKey }),
      h(
        'form',
        { method: 'dialog', class: 'buttons' },
        h('button', { value: 'no', t: 'cancel' }),
        h('button', { value: 'yes', class: 'danger', t: confirmKey }),
      ),
    );
    dialog.addEventListener('close', () => {
      resolve(dialog.returnValue === 'yes');
      dialog.remove();
    });
    document.body.append(dialog);
    dialog.showModal();
  });
}

// A labelled input with a message line of its own. spec: {name, label, type, ...input props}.
export function field(spec) {
  const { name, label, hint, options, ...props } = spec;
  const id = 'f-' + name;
  const input =
    props.type === 'select'
      ? h('select', { id, name }, ...options.map(([value, key]) => h('option', { value, t: key })))
      : h('input', { id, name, type: 'text', ...props });
  const note = h('span', { class: 'field-message', id: id + '-msg', 'aria-live': 'polite' });
  input.setAttribute('aria-describedby', note.id);
  const labelNode = h('label', { for: id, t: label });
  return h(
    'div',
    { class: props.type === 'checkbox' ? 'field check' : 'field' },
    props.type === 'checkbox' ? [input, labelNode] : [labelNode, input],
    hint ? h('small', { t: hint }) : null,
    note,
  );
}

export function fieldMessage(form, name, key) {
  const note = form.querySelector(`#f-${name}-msg`);
  if (key) setText(note, key);
  else {
    delete note.dataset.t;
    note.textContent = '';
  }
  form.elements[name].setAttribute('aria-invalid', key ? 'true' : 'false');
}

export function clearFieldMessages(form) {
  for (const note of form.querySelectorAll('.field-message')) {
    delete note.dataset.t;
    delete note.dataset.reply;
    note.textContent = '';
  }
}

// A section with a heading, a form of fields, a submit button and a message area.
export function formSection(titleKey, fields, submitKey, onSubmit, extra = null) {
  const area = h('p', { class: 'message' });
  const submit = h('button', { type: 'submit', t: submitKey });
  const formNode = h('form', { noValidate: true }, ...fields.map(field), extra, h('div', { class: 'buttons' }, submit), area);
  formNode.addEventListener('submit', (event) => {
    event.preventDefault();
    clearFieldMessages(formNode);
    busy(submit, area, () => onSubmit(formNode, area));
  });
  return h('section', {}, titleKey ? h('h2', { t: titleKey }) : null, formNode);
}

// Values of the named inputs of a form (checkboxes as booleans).
export function values(formNode) {
  const result = {};
  for (const input of formNode.elements) {
    if (input.name) result[input.name] = input.type === 'checkbox' ? input.checked : input.value;
  }
  return result;
}

// Marks every value that a form body cannot carry; true when all can go.
export function checkSendable(formNode, names, unsendable) {
  let ok = true;
  for (const name of names) {
    if (unsendable(formNode.elements[name].value)) {
      fieldMessage(formNode, name, 'noAmpEquals');
      ok = false;
    }
  }
  return ok;
}

export function table(headerKeys, rows) {
  return h(
    'div',
    { class: 'table-wrap' },
    h('table', {}, h('thead', {}, h('tr', {}, ...headerKeys.map((key) => h('th', { scope: 'col', t: key })))), h('tbody', {}, ...rows)),
  );
}

const two = (n) => String(n).padStart(2, '0');
// "yyyy-MM-dd hh:mm:ss" in local time, as the terminal writes times.
export const dateTime = (d) =>
  `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
