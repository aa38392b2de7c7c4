// Device information and counts, and the door and power parameters.
import { command, formFields, form, okFields } from '../api.js';
import { h, message, formSection, values, fieldMessage, replyMessage, respondKey, dateTime } from '../ui.js';

// The labels of the version reply are the terminal's own; the pages translate them.
const VERSION = [
  ['设备类型', 'deviceType'],
  ['产品型号', 'deviceModel'],
  ['硬件版本', 'hardwareVersion'],
  ['产品序列号', 'serialNumber'],
  ['WEB版本', 'webVersion'],
  ['固件版本', 'firmwareVersion'],
];
const CONTENTS = [
  ['人员信息', 'countPersons'],
  ['权限设置', 'countPermits'],
  ['授权信息', 'countWarrants'],
  ['时间表', 'countTimezones'],
  ['特殊日期', 'countHolidays'],
  ['常状态', 'countStays'],
  ['记录数', 'countRecords'],
];

function list(entries, fields) {
  return h(
    'dl',
    { class: 'facts' },
    ...entries.flatMap(([label, key]) => [h('dt', { t: key }), fields.get(label) ? h('dd', { text: fields.get(label) }) : h('dd', { class: 'unset', t: 'notSet' })]),
  );
}

export async function info(content) {
  const version = h('section', {}, h('h2', { t: 'versionTitle' }));
  const contents = h('section', {}, h('h2', { t: 'contentsTitle' }));
  content.append(version, contents);
  version.append(list(VERSION, await formFields('/command/version_get')));
  const text = await form('/command/devContent_get');
  const fields = okFields(text);
  if (!fields) return replyMessage(contents.appendChild(h('p')), text);
  // A bare "OK" means the terminal could not count its records.
  if (!fields.length) return message(contents.appendChild(h('p')), 'error', 'countsUnavailable');
  contents.append(list(CONTENTS, new Map(fields)));
}

const PARAMETERS = ['exit', 'longopen', 'localalarm', 'readeronline', 'lockerror', 'readerat', 'acufc', 'acukg', 'masterpower', 'acpower', 'backpower', 'hs', 'releasetime', 'opentime', 'openalarmtime', 'doorenable1', 'doorenable2', 'doorenable3', 'doorenable4', 'yysz', 'cellmin', 'cellmax', 'chargevol'];
// The reply names three of them after their keys.
const REPLY_NAME = { cellmin: 'cell_volatage_min', cellmax: 'cell_volatage_max', chargevol: 'charge_volatage_min' };


export async function parameters(content) {
  const reply = await command('/command/getinfo/system', 0);
  if (reply.respond !== 1) return message(content.appendChild(h('p')), 'error', respondKey(reply.respond));
  const current = reply.datas ?? {};
  const useNow = h('button', { type: 'button', t: 'useComputerTime' });
  const section = formSection(
    null,
    [
      ...PARAMETERS.map((name) => ({ name, label: 'p_' + name, type: 'number', min: 0, step: 1, value: current[REPLY_NAME[name] ?? name] ?? '' })),
      { name: 'time', label: 'setClock', hint: 'timeHint' },
    ],
    'save',
    async (formNode, area) => {
      const entered = values(formNode);
      const datas = {};
      for (const name of PARAMETERS) {
        const text = entered[name].trim();
        if (!text) continue;
        if (!/^\d+$/.test(text) || Number(text) > 4294967295) return fieldMessage(formNode, name, 'numberRange');
        datas[name] = Number(text);
      }
      if (entered.time && !/^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(entered.time)) return fieldMessage(formNode, 'time', 'timeHint');
      if (entered.time) datas.time = entered.time;
      const answer = await command('/command/system/property', 0, datas);
      message(area, answer.respond === 1 ? 'ok' : 'error', answer.respond === 1 ? 'saved' : respondKey(answer.respond, true));
    },
    h('div', { class: 'buttons' }, useNow),
  );
  // Two dozen small numbers: side by side where the screen has room.
  section.querySelector('form').classList.add('grid');
  useNow.addEventListener('click', () => (section.querySelector('[name=time]').value = dateTime(new Date())));
  content.append(h('p', { t: ['deviceTimeIs', current.time ?? ''] }), h('p', { class: 'note', t: 'parametersNote' }), section);
}
