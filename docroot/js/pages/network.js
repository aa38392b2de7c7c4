// Network settings. The terminal checks the values itself and names the first wrong one; its
// message is shown beside that field.
import { form, formFields, formBody, unsendable } from '../api.js';
import { h, formSection, values, fieldMessage, replyMessage, message, confirmAction, setReply } from '../ui.js';

// Form field of the page, the terminal's name prefix, and the reply that blames it.
const ADDRESSES = [
  ['ip', 'tcpip_ip', '请检查IP地址'],
  ['mask', 'tcpip_mk', '请检查子网掩码'],
  ['gateway', 'tcpip_dg', '请检查网关地址'],
  ['server1', 'tcpip_svr1_', '请检查1#服务器地址'],
  ['server2', 'tcpip_svr2_', '请检查2#服务器地址'],
];
const PORTS = [
  ['localPort', 'tcpip_Port', '请检查设备端口号'],
  ['serverPort', 'tcpip_ServerPort', '请检查服务器端口号'],
];
const BLAME = new Map([...ADDRESSES, ...PORTS].map(([name, , reply]) => [reply, name]));

// The parts of an address joined; empty when the terminal has none yet.
const joined = (fields, prefix, count, separator) => {
  const parts = [...Array(count).keys()].map((i) => fields.get(prefix + i) ?? '');
  return parts.some(Boolean) ? parts.join(separator) : '';
};

export async function network(content) {
  const current = await formFields('/command/netcfg_get');
  const mac = joined(current, 'tcpip_Mac', 6, ':');
  const section = formSection(
    null,
    [
      ...ADDRESSES.map(([name, prefix]) => ({ name, label: 'net_' + name, value: joined(current, prefix, 4, '.'), inputMode: 'decimal', autocomplete: 'off' })),
      ...PORTS.map(([name, key]) => ({ name, label: 'net_' + name, value: current.get(key) ?? '', inputMode: 'numeric' })),
      { name: 'reboot', label: 'restartToApply', type: 'checkbox', hint: 'restartHint' },
    ],
    'save',
    async (formNode, area) => {
      const entered = values(formNode);
      const pairs = [];
      let ok = true;
      for (const [name, prefix] of ADDRESSES) {
        const parts = entered[name].trim().split('.');
        if (parts.length !== 4 || !parts.every((part) => /^\d{1,3}$/.test(part))) {
          fieldMessage(formNode, name, 'addressFormat');
          ok = false;
        }
        parts.forEach((part, i) => pairs.push([prefix + i, part]));
      }
      for (const [name, key] of PORTS) {
        if (!/^\d{1,5}$/.test(entered[name].trim())) {
          fieldMessage(formNode, name, 'portFormat');
          ok = false;
        }
        pairs.push([key, entered[name].trim()]);
      }
      if (!ok || pairs.some(([, value]) => unsendable(value))) return message(area, 'error', 'fixMarked');
      if (entered.reboot) {
        if (!(await confirmAction('networkRestartQuestion', 'saveAndRestart'))) return message(area, '', '');
        pairs.push(['tcpip_rbt', '1']);
      }
      const reply = await form('/command/netcfg_set', formBody(pairs));
      const blamed = BLAME.get(reply);
      if (blamed) {
        setReply(formNode.querySelector(`#f-${blamed}-msg`), reply);
        formNode.elements[blamed].setAttribute('aria-invalid', 'true');
        formNode.elements[blamed].focus();
      }
      // "login&" and the new address: saved, and the terminal restarts there.
      const moved = reply.startsWith('login&') ? reply.slice(6) : null;
      if (moved) {
        message(area, 'ok', ['savedRestartingAt', moved]);
        const url = `http://${moved}${location.port ? ':' + location.port : ''}/`;
        area.append(' ', h('a', { href: url, text: url }));
      } else if (reply === 'OK') message(area, 'ok', entered.reboot ? 'savedRestarting' : 'savedNextRestart');
      else replyMessage(area, reply);
    },
  );
  content.append(h('p', {}, h('span', { t: 'macAddress' }), ' ', mac ? h('code', { text: mac }) : h('span', { t: 'notSet' })), section);
}
