"""The pages' own DES password transform and AES envelope give the server's bytes."""
import json
import subprocess

from webfixture import PageTest, DORXCTL, SEALTOOL

PASSWORDS = ['a', '6172839405', 'exactly8', 'sixteen-chars-xx', 'pässwörd', '~!@#$%^&*()', 'x' * 96]
TEXTS = ['{}', '{"id":"1","devicesn":"12345","order":5,"datas":{"startnum":0,"getnum":20}}',
         'exactly sixteen!', '{"name":"张三","group":"门卫"}', 'x' * 100]


class CryptoTest(PageTest):
    def in_page(self, script, values):
        """Runs script with `crypto` (the page modules) and `values`; returns its result."""
        return self.driver.execute_async_script('''
            const [values, done] = arguments;
            Promise.all([import('/js/des.js'), import('/js/envelope.js')])
              .then(([des, envelope]) => done((crypto => %s)({...des, ...envelope})))
              .catch((error) => done('error: ' + error));''' % script, values)

    def setUp(self):
        super().setUp()
        self.driver.get(self.server.url('/index.html'))

    def test_password_transform_matches_the_server(self):
        expected = [subprocess.run([DORXCTL, 'deshex', p], check=True, capture_output=True,
                                   text=True).stdout.strip() for p in PASSWORDS]
        self.assertEqual(self.in_page('values.map(crypto.passwordHex)', PASSWORDS), expected)

    def test_passwords_the_server_cannot_read_back_are_refused(self):
        rows = ['x' * 97, '密码', 'a\u0000b']
        self.assertEqual(self.in_page('values.map(crypto.passwordHex)', rows), [None] * len(rows))
        for password in rows[:2]:
            self.assertEqual(subprocess.run([DORXCTL, 'deshex', password], capture_output=True).returncode, 2)

    def test_envelope_matches_the_server_both_ways(self):
        sealed = subprocess.run([SEALTOOL, *TEXTS], check=True, capture_output=True,
                                text=True).stdout.splitlines()
        self.assertEqual(self.in_page('values.map(crypto.seal)', TEXTS), sealed)
        self.assertEqual(self.in_page('values.map(crypto.open)', sealed), TEXTS)
        self.assertEqual(self.in_page('values.map(crypto.open)', ['', 'short', 'QUJD' * 5]),
                         [None, None, None])

    def test_sealed_command_is_answered_by_the_server(self):
        # The server's own reply to a message sealed in the page, opened in the page.
        reply = self.in_page('''(async () => {
            const body = crypto.seal(JSON.stringify({id: '7', devicesn: '', datas: {username: 'dorx', password: '6172839405'}}));
            const text = await (await fetch('/command/tplogin', {method: 'POST', body})).text();
            return crypto.open(text);
          })()''', [])
        self.assertEqual(json.loads(reply)['respond'], 1)
