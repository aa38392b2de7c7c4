"""The pages' own DES password transform and AES envelope give the server's bytes."""
from webfixture import PageTest, DORXCTL, SEALTOOL, run

# Lengths on both sides of the cipher blocks, Latin-1 and Chinese text, the longest password.
PASSWORDS = ['a', 'exactly8', 'sixteen-chars-xx', 'pässwörd', '~!@#$%^&*()', 'x' * 96]
TEXTS = ['{}', 'exactly sixteen!', '{"name":"张三","group":"门卫"}', 'x' * 100]


class CryptoTest(PageTest):
    def test_password_transform_and_envelope_match_the_server(self):
        in_page = lambda script, values: self.driver.execute_async_script('''
            const [values, done] = arguments;
            Promise.all([import('/js/des.js'), import('/js/envelope.js')])
              .then(([des, envelope]) => done((crypto => %s)({...des, ...envelope})))
              .catch((error) => done('error: ' + error));''' % script, values)
        expected = [run(DORXCTL, 'deshex', password).strip() for password in PASSWORDS]
        self.assertEqual(in_page('values.map(crypto.passwordHex)', PASSWORDS), expected)
        sealed = run(SEALTOOL, *TEXTS).splitlines()
        self.assertEqual(in_page('values.map(crypto.seal)', TEXTS), sealed)
        self.assertEqual(in_page('values.map(crypto.open)', sealed + ['', 'short', 'QUJD' * 5]), TEXTS + [None] * 3)
