"""The pages' own DES password transform and AES envelope give the server's bytes."""
from webfixture import PageTest, DORXCTL, SEALTOOL, run

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

    def test_password_transform_and_envelope_match_the_server(self):
        expected = [run(DORXCTL, 'deshex', password).strip() for password in PASSWORDS]
        self.assertEqual(self.in_page('values.map(crypto.passwordHex)', PASSWORDS), expected)
        sealed = run(SEALTOOL, *TEXTS).splitlines()
        self.assertEqual(self.in_page('values.map(crypto.seal)', TEXTS), sealed)
        self.assertEqual(self.in_page('values.map(crypto.open)', sealed), TEXTS)
        self.assertEqual(self.in_page('values.map(crypto.open)', ['', 'short', 'QUJD' * 5]), [None, None, None])
