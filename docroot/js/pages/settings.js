// The small settings forms: identity, platform server, date and time, daily restart.
import { form, formFields, formBody, unsendable } from '../api.js';
import { h, formSection, values, fieldMessage, replyMessage, setReply, checkSendable, dateTime } from '../ui.js';

// Sends the named values of a form; a reply that blames one field is shown beside it too.
async function send(formNode, area, path, names, blame = {}) {
  if (!checkSendable(formNode, names, unsendable)) return;
  const entered = values(formNode);
  const reply = await form(path, formBody(names.map((name) => [name, entered[name]])));
  const blamed = blame[reply];
  if (blamed) setReply(formNode.querySelector(`#f-${blamed}-msg`), reply);
  replyMessage(area, reply, 'saved');
}

export async function identity(content) {
  const current = await formFields('/command/ident_get');
  content.append(
    formSection(
      null,
      [
        { name: 'devname', label: 'deviceName', value: current.get('devname') ?? '' },
        { name: 'devnumber', label: 'deviceNumber', value: current.get('devnumber') ?? '' },
      ],
      'save',
      (formNode, area) =>
        send(formNode, area, '/command/ident_set', ['devname', 'devnumber'], {
          '设备名称格式不正确!': 'devname',
          '设备编号格式不正确!': 'devnumber',
        }),
    ),
  );
}

export async function platform(content) {
  const current = await formFields('/command/pfset_get');
  content.append(
    formSection(
      null,
      [{ name: 'pf_server', label: 'platformServer', value: current.get('pf_server') ?? '', hint: 'platformHint' }],
      'save',
      (formNode, area) => send(formNode, area, '/command/pf_set', ['pf_server'], { '接入平台格式不正确!': 'pf_server' }),
    ),
  );
}

export async function datetime(content) {
  const current = await formFields('/command/datetime_get');
  const useNow = h('button', { type: 'button', t: 'useComputerTime' });
  const section = formSection(
    null,
    [
      { name: 'Date', label: 'date', type: 'date', value: current.get('Date') ?? '' },
      { name: 'Time', label: 'time', type: 'time', step: 1, value: current.get('Time') ?? '' },
      { name: 'Ntp', label: 'ntpServer', value: current.get('Ntp') ?? '', hint: 'ntpHint' },
    ],
    'setTime',
    (formNode, area) => {
      const time = formNode.elements.Time;
      if (/^\d\d:\d\d$/.test(time.value)) time.value += ':00';
      if (!/^\d{4}-\d\d-\d\d$/.test(formNode.elements.Date.value)) return fieldMessage(formNode, 'Date', 'dateFormat');
      if (!/^\d\d:\d\d:\d\d$/.test(time.value)) return fieldMessage(formNode, 'Time', 'timeFormat');
      return send(formNode, area, '/command/datetime_set', ['Ntp', 'Date', 'Time']);
    },
    h('div', { class: 'buttons' }, useNow),
  );
  useNow.addEventListener('click', () => {
    const [date, time] = dateTime(new Date()).split(' ');
    section.querySelector('[name=Date]').value = date;
    section.querySelector('[name=Time]').value = time;
  });
  content.append(section);
}

export async function autoreboot(content) {
  const current = await formFields('/command/rebootcfg_get');
  content.append(
    formSection(
      null,
      [
        { name: 'flag', label: 'restartDaily', type: 'checkbox', checked: current.get('flag') === 'Y' },
        { name: 'hour', label: 'hour', type: 'number', min: 0, max: 23, value: current.get('hour') ?? '' },
        { name: 'minute', label: 'minute', type: 'number', min: 0, max: 59, value: current.get('minute') ?? '' },
      ],
      'save',
      async (formNode, area) => {
        const entered = values(formNode);
        const inRange = (text, most) => /^\d{1,2}$/.test(text) && Number(text) <= most;
        if (!inRange(entered.hour, 23)) return fieldMessage(formNode, 'hour', 'hourRange');
        if (!inRange(entered.minute, 59)) return fieldMessage(formNode, 'minute', 'minuteRange');
        const body = formBody([['flag', entered.flag ? 'Y' : 'N'], ['hour', entered.hour], ['minute', entered.minute]]);
        replyMessage(area, await form('/command/rebootcfg_set', body), 'saved');
      },
    ),
  );
}
