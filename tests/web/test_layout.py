"""The pages themselves: their own crypto gives the server's bytes; every page in both languages
and on a phone-sized window; the size of them all."""
import os
import unittest

from webfixture import PageTest, DOCROOT, DORXCTL, SEALTOOL, run

ROUTES = ['info', 'network', 'identity', 'platform', 'datetime', 'autoreboot', 'parameters', 'persons',
          'records', 'tables', 'password', 'operators', 'account', 'firmware', 'maintenance']
# Lengths on both sides of the cipher blocks, Latin-1 and Chinese text, the longest password.
PASSWORDS = ['a', 'exactly8', 'sixteen-chars-xx', 'pässwörd', '~!@#$%^&*()', 'x' * 96]
TEXTS = ['{}', 'exactly sixteen!', '{"name":"张三","group":"门卫"}', 'x' * 100]


class PagesTest(PageTest):
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

    def test_every_page_in_both_languages_from_the_terminal_alone_and_on_a_390_pixel_window(self):
        # The language chosen on the login page is kept. Texts missing from either language
        # and script faults reach the console, which every test checks at its end.
        self.q('#lang').click()
        self.assertEqual(self.q('label[for=username]').text, '操作员名称')
        self.log_in()
        self.assertEqual((self.q('#logout').text, self.driver.execute_script('return document.documentElement.lang')),
                         ('退出', 'zh-CN'))
        fits = lambda: self.assertLessEqual(self.driver.execute_script('return document.documentElement.scrollWidth'), 390)
        for language in ('zh', 'en'):
            for route in ROUTES:
                with self.subTest(language=language, route=route):
                    self.open_page(route)
                    loaded = self.driver.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
                    self.assertEqual([url for url in loaded if not url.startswith(self.url(''))], [])
                    if language == 'zh' and route == 'operators':
                        self.screenshot('operators-zh')
                    elif language == 'en':
                        fits()
            if language == 'zh':  # the English pages on a phone's window
                self.q('#lang').click()
                self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                            {'width': 390, 'height': 844, 'deviceScaleFactor': 1, 'mobile': True})
                self.addCleanup(self.driver.execute_cdp_cmd, 'Emulation.clearDeviceMetricsOverride', {})
        # The menu opens on the phone's window and closes on a choice.
        self.assertFalse(self.q('#nav').is_displayed())
        self.q('#menu-toggle').click()
        self.q('#nav a[href="#operators"]').click()
        self.wait_page('operators')
        self.assertFalse(self.q('#nav').is_displayed())
        fits()
        self.screenshot('phone-operators')


class SizeTest(unittest.TestCase):
    def test_pages_stay_under_150_kb(self):
        size = sum(os.path.getsize(os.path.join(folder, name)) for folder, _, names in os.walk(DOCROOT) for name in names)
        self.assertLess(size, 150 * 1000)
