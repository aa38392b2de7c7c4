// Firmware upload, restart and factory reset: each ends in a restart of the terminal, so each
// asks first.
import { form, goToLogin } from '../api.js';
import { h, message, replyMessage, confirmAction, busy } from '../ui.js';

// Posts the file as the multipart field "upload"; resolves with the reply text. progress gets
// the fraction sent so far.
function upload(file, progress) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    const body = new FormData();
    body.append('upload', file, file.name);
    request.open('POST', '/command/upload');
    request.upload.addEventListener('progress', (event) => {
      if (event.lengthComputable) progress(event.loaded / event.total);
    });
    request.upload.addEventListener('load', () => progress(1));
    request.addEventListener('load', () =>
      request.status === 200 ? resolve(request.responseText) : reject({ kind: request.status === 413 ? 'tooLarge' : 'http', detail: `${request.status} ${request.statusText}` }),
    );
    request.addEventListener('error', () => reject({ kind: 'offline' }));
    request.addEventListener('timeout', () => reject({ kind: 'offline' }));
    request.send(body);
  });
}

export async function firmware(content) {
  const file = h('input', { type: 'file', id: 'firmware-file', name: 'upload' });
  const progress = h('progress', { id: 'upload-progress', max: 1, value: 0 });
  const percent = h('span', { class: 'note' });
  const shown = (fraction) => {
    progress.parentNode.hidden = false;
    progress.value = fraction;
    percent.textContent = `${Math.round(fraction * 100)} %`;
  };
  const area = h('p', { class: 'message' });
  const send = h('button', { type: 'submit', t: 'uploadButton' });
  const formNode = h(
    'form',
    {},
    h('div', { class: 'field' }, h('label', { for: 'firmware-file', t: 'firmwareFile' }), file),
    h('div', { class: 'field', hidden: true }, h('label', { for: 'upload-progress', t: 'uploadProgress' }), progress, percent),
    h('div', { class: 'buttons' }, send),
    area,
  );
  formNode.addEventListener('submit', (event) => {
    event.preventDefault();
    busy(send, area, async () => {
      if (!file.files.length) return message(area, 'error', 'chooseFile');
      if (!(await confirmAction('uploadQuestion', 'uploadButton'))) return message(area, '', '');
      shown(0);
      try {
        const reply = await upload(file.files[0], shown);
        if (reply === 'login') return goToLogin();
        replyMessage(area, reply, 'uploadDone');
      } catch (error) {
        if (error.kind !== 'tooLarge') throw error;
        message(area, 'error', 'uploadTooLarge');
      }
    });
  });
  content.append(h('p', { class: 'note', t: 'firmwareNote' }), formNode);
}

function action(titleKey, noteKey, buttonKey, questionKey, run) {
  const area = h('p', { class: 'message' });
  const button = h('button', { type: 'button', class: 'danger', t: buttonKey });
  button.addEventListener('click', () =>
    busy(button, area, async () => {
      if (!(await confirmAction(questionKey, buttonKey))) return message(area, '', '');
      await run(area);
    }),
  );
  return h('section', {}, h('h2', { t: titleKey }), h('p', { t: noteKey }), h('div', { class: 'buttons' }, button), area);
}

export async function maintenance(content) {
  content.append(
    action('restartTitle', 'restartNote', 'restartButton', 'restartQuestion', async (area) => {
      replyMessage(area, await form('/command/reboot'), 'restarting');
    }),
    action('factoryTitle', 'factoryNote', 'factoryButton', 'factoryQuestion', async (area) => {
      const reply = await form('/command/default');
      if (!reply.startsWith('login&')) return replyMessage(area, reply);
      message(area, 'ok', ['factoryDone', reply.slice(6)]);
    }),
  );
}
