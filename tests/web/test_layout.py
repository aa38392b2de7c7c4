"""Every page in both languages, the pages on a phone-sized window, and the size of them all."""
import os
import unittest

from webfixture import PageTest, DOCROOT


class PhoneTest(PageTest):
    def assert_fits(self):
        self.assertLessEqual(self.driver.execute_script('return document.documentElement.scrollWidth'), 390)

    def test_menu_and_forms_on_a_390_pixel_window(self):
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                    {'width': 390, 'height': 844, 'deviceScaleFactor': 1, 'mobile': True})
        self.addCleanup(self.driver.execute_cdp_cmd, 'Emulation.clearDeviceMetricsOverride', {})
        self.log_in()
        self.assert_fits()
        self.assertFalse(self.q('#nav').is_displayed())
        self.q('#menu-toggle').click()
        self.q('#nav a[href="#operators"]').click()
        self.wait_page('operators')
        self.assertFalse(self.q('#nav').is_displayed())
        self.assert_fits()
        self.fill('#f-newName', 'phone')
        self.q('#f-newName').submit()
        self.wait_text('#content > .message.ok', 'Operator phone added.')
        # A wide table scrolls inside its frame, not the page.
        self.assert_fits()
        self.screenshot('phone-operators')
        for route in ('persons', 'records', 'parameters', 'network'):
            with self.subTest(route):
                self.open_page(route)
                self.assert_fits()


ROUTES = ['info', 'network', 'identity', 'platform', 'datetime', 'autoreboot', 'parameters', 'persons',
          'records', 'tables', 'password', 'operators', 'account', 'firmware', 'maintenance']


class EveryPageTest(PageTest):
    def test_every_page_loads_in_both_languages_from_the_terminal_alone(self):
        # The language chosen on the login page is kept. Texts missing from either language
        # and script faults reach the console, which every test checks at its end.
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#lang'), message='login page')
        self.q('#lang').click()
        self.assertEqual(self.q('label[for=username]').text, '操作员名称')
        self.log_in()
        self.assertEqual(self.q('#logout').text, '退出')
        self.assertEqual(self.driver.execute_script('return document.documentElement.lang'), 'zh-CN')
        for language in ('zh', 'en'):
            for route in ROUTES:
                self.open_page(route)
                loaded = self.driver.execute_script(
                    "return performance.getEntriesByType('resource').map(e => e.name)")
                self.assertEqual([url for url in loaded if not url.startswith(self.server.url(''))], [])
                if language == 'zh' and route == 'operators':
                    self.screenshot('operators-zh')
            self.q('#lang').click()


class SizeTest(unittest.TestCase):
    def test_pages_stay_under_150_kb(self):
        size = sum(os.path.getsize(os.path.join(folder, name))
                   for folder, _, names in os.walk(DOCROOT) for name in names)
        self.assertLess(size, 150 * 1000)
