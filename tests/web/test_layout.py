"""Every page in both languages and on a phone-sized window, and the size of them all."""
import os
import unittest

from webfixture import PageTest, DOCROOT

ROUTES = ['info', 'network', 'identity', 'platform', 'datetime', 'autoreboot', 'parameters', 'persons',
          'records', 'tables', 'password', 'operators', 'account', 'firmware', 'maintenance']


class LayoutTest(PageTest):
    def assert_fits(self):
        self.assertLessEqual(self.driver.execute_script('return document.documentElement.scrollWidth'), 390)

    def test_every_page_in_both_languages_from_the_terminal_alone_and_on_a_390_pixel_window(self):
        # The language chosen on the login page is kept. Texts missing from either language
        # and script faults reach the console, which every test checks at its end.
        self.driver.get(self.url('/'))
        self.wait(lambda: self.qs('#lang'), 'login page')
        self.q('#lang').click()
        self.assertEqual(self.q('label[for=username]').text, '操作员名称')
        self.log_in()
        self.assertEqual((self.q('#logout').text, self.driver.execute_script('return document.documentElement.lang')),
                         ('退出', 'zh-CN'))
        for language in ('zh', 'en'):
            for route in ROUTES:
                with self.subTest(language=language, route=route):
                    self.open_page(route)
                    loaded = self.driver.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
                    self.assertEqual([url for url in loaded if not url.startswith(self.url(''))], [])
                    if language == 'zh' and route == 'operators':
                        self.screenshot('operators-zh')
                    elif language == 'en':
                        self.assert_fits()
            if language == 'zh':  # the English pages on a phone's window
                self.q('#lang').click()
                self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                            {'width': 390, 'height': 844, 'deviceScaleFactor': 1, 'mobile': True})
                self.addCleanup(self.driver.execute_cdp_cmd, 'Emulation.clearDeviceMetricsOverride', {})
        # The menu opens on the phone's window; a wide table scrolls inside its frame.
        self.assertFalse(self.q('#nav').is_displayed())
        self.q('#menu-toggle').click()
        self.q('#nav a[href="#operators"]').click()
        self.wait_page('operators')
        self.assertFalse(self.q('#nav').is_displayed())
        self.screenshot('phone-operators')


class SizeTest(unittest.TestCase):
    def test_pages_stay_under_150_kb(self):
        size = sum(os.path.getsize(os.path.join(folder, name)) for folder, _, names in os.walk(DOCROOT) for name in names)
        self.assertLess(size, 150 * 1000)
