"""The pages' own DES password transform and AES envelope give the server's bytes."""
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

    def test_password_transform_matches_the_server(self):
        expected = [subprocess.run([DORXCTL, 'deshex', p], check=True, capture_output=True,
                                   text=True).stdout.strip() for p in PASSWORDS]
        self.assertEqual(self.in_page('values.map(crypto.passwordHex)', PASSWORDS), expected)

    def test_envelope_matches_the_server_both_ways(self):
        sealed = subprocess.run([SEALTOOL, *TEXTS], check=True, capture_output=True,
                                text=True).stdout.splitlines()
        self.assertEqual(self.in_page('values.map(crypto.seal)', TEXTS), sealed)
        self.assertEqual(self.in_page('values.map(crypto.open)', sealed), TEXTS)
        self.assertEqual(self.in_page('values.map(crypto.open)', ['', 'short', 'QUJD' * 5]),
                         [None, None, None])
