// The management pages: one shell, one page module per entry of the menu, chosen by the
// address's "#" part so that every page can be bookmarked and the back button works.
import { form } from './api.js';
import { initLanguage } from './i18n.js';
import { h, failure, message } from './ui.js';

const GROUPS = [
  ['groupDevice', [
    ['info', 'device', 'navInfo'],
    ['network', 'network', 'navNetwork'],
    ['identity', 'settings', 'navIdentity'],
    ['platform', 'settings', 'navPlatform'],
    ['datetime', 'settings', 'navDatetime'],
    ['autoreboot', 'settings', 'navAutoreboot'],
    ['parameters', 'device', 'navParameters'],
  ]],
  ['groupAccess', [
    ['persons', 'persons', 'navPersons'],
    ['records', 'records', 'navRecords'],
    ['tables', 'tables', 'navTables'],
  ]],
  ['groupAccounts', [
    ['password', 'accounts', 'navPassword'],
    ['operators', 'accounts', 'navOperators'],
    ['account', 'accounts', 'navAccount'],
  ]],
  ['groupSystem', [
    ['firmware', 'system', 'navFirmware'],
    ['maintenance', 'system', 'navMaintenance'],
  ]],
];
const ROUTES = new Map(GROUPS.flatMap(([, pages]) => pages.map(([id, module, title]) => [id, { module, title }])));

const nav = document.getElementById('nav');
const content = document.getElementById('content');
const toggle = document.getElementById('menu-toggle');
const globalMessage = document.getElementById('global-message');

initLanguage(document.getElementById('lang'));
document.getElementById('who').textContent = sessionStorage.getItem('operator') ?? '';

nav.append(
  ...GROUPS.map(([group, pages]) =>
    h('div', { class: 'nav-group' }, h('h2', { t: group }), h('ul', {}, ...pages.map(([id, , title]) => h('li', {}, h('a', { href: '#' + id, t: title }))))),
  ),
);

toggle.addEventListener('click', () => {
  const open = toggle.getAttribute('aria-expanded') !== 'true';
  toggle.setAttribute('aria-expanded', String(open));
  nav.classList.toggle('open', open);
});

document.getElementById('logout').addEventListener('click', async (event) => {
  event.target.disabled = true;
  try {
    const reply = await form('/command/logout');
    if (reply !== 'OK') throw { kind: 'reply', detail: reply };
    sessionStorage.removeItem('operator');
    location.assign('index.html');
  } catch (error) {
    failure(globalMessage, error);
  } finally {
    event.target.disabled = false;
  }
});

let shown = 0;
async function show() {
  const id = location.hash.slice(1);
  const route = ROUTES.get(id);
  if (!route) return location.replace('#info');
  const generation = ++shown;
  message(globalMessage, '', '');
  for (const link of nav.querySelectorAll('a')) link.toggleAttribute('aria-current', link.hash === '#' + id);
  nav.classList.remove('open');
  toggle.setAttribute('aria-expanded', 'false');
  const title = h('h1', { t: route.title, tabIndex: -1 });
  content.replaceChildren(title);
  content.setAttribute('aria-busy', 'true');
  document.title = title.textContent;
  try {
    const module = await import(`./pages/${route.module}.js`);
    if (generation !== shown) return;
    title.focus();
    await module[id](content);
  } catch (error) {
    if (generation === shown) failure(content.appendChild(h('p', { class: 'message' })), error);
  } finally {
    if (generation === shown) content.removeAttribute('aria-busy');
  }
}

window.addEventListener('hashchange', show);
// A page that asks nothing of the terminal on its own must still not show to a browser that is
// not logged in: any gated command answers "login" then. Until then the content is busy.
form('/command/operator_get').then(show, (error) => {
  content.removeAttribute('aria-busy');
  failure(globalMessage, error);
});
