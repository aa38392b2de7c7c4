"""Every page in both languages, the pages on a phone-sized window, and the size of them all."""
import os
import unittest

from webfixture import PageTest, DOCROOT

PHONE = {'width': 390, 'height': 844, 'deviceScaleFactor': 1, 'mobile': True}


class PhoneTest(PageTest):
    def setUp(self):
        super().setUp()
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', PHONE)
        self.addCleanup(self.driver.execute_cdp_cmd, 'Emulation.clearDeviceMetricsOverride', {})

    def assert_fits(self):
        self.assertLessEqual(self.driver.execute_script('return document.documentElement.scrollWidth'), 390)

    def test_menu_and_forms_on_a_390_pixel_window(self):
        self.log_in()
        self.assert_fits()
        self.assertFalse(self.q('#nav').is_displayed())
        self.q('#menu-toggle').click()
        self.assertEqual(self.q('#menu-toggle').get_attribute('aria-expanded'), 'true')
        self.q('#nav a[href="#operators"]').click()
        self.wait_page('operators')
        self.assertFalse(self.q('#nav').is_displayed())
        self.assert_fits()
        self.fill('#f-newName', 'phone')
        self.q('#f-newName').submit()
        self.wait_text('#content > .message.ok', 'Operator phone added.')
        # A wide table scrolls inside its frame, not the page.
        self.assert_fits()
        self.screenshot('phone-operators', desktop=False)
        for route in ('persons', 'records', 'parameters', 'network'):
            with self.subTest(route):
                self.open_page(route)
                self.assert_fits()


ROUTES = ['info', 'network', 'identity', 'platform', 'datetime', 'autoreboot', 'parameters', 'persons',
          'records', 'tables', 'password', 'operators', 'account', 'firmware', 'maintenance']


class EveryPageTest(PageTest):
    def test_every_page_loads_in_both_languages_from_the_terminal_alone(self):
        # Texts missing from either language and script faults reach the console, which
        # every test checks at its end.
        self.log_in()
        for language in ('en', 'zh'):
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
