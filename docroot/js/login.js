// The login page: the password goes as the hexadecimal DES text the terminal expects.
import { post, formBody, unsendable } from './api.js';
import { passwordHex } from './des.js';
import { initLanguage } from './i18n.js';
import { busy, message, replyMessage } from './ui.js';

initLanguage(document.getElementById('lang'));

const formNode = document.getElementById('login');
const area = document.getElementById('message');
const submit = document.getElementById('submit');
document.getElementById('username').focus();

formNode.addEventListener('submit', (event) => {
  event.preventDefault();
  const name = formNode.elements.username.value;
  const hex = passwordHex(formNode.elements.password.value);
  if (unsendable(name)) return message(area, 'error', 'noAmpEquals');
  if (hex === null) return message(area, 'error', 'passwordUnsendable');
  busy(submit, area, async () => {
    const reply = await post('/command/login', formBody([['username', name], ['password', hex]]));
    if (reply !== 'OK') return replyMessage(area, reply);
    sessionStorage.setItem('operator', name);
    const next = new URLSearchParams(location.search).get('next');
    location.assign('main.html' + (next && next.startsWith('#') ? next : ''));
  });
});
