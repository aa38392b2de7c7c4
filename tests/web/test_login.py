"""Logging in and out in the browser, refused logins, the way back after a refused request and
a lost connection."""
from selenium.webdriver.common.keys import Keys

from webfixture import PageTest, SUPER_USER, DEFAULT_PASSWORD


class LoginTest(PageTest):
    def test_log_in_by_keyboard_and_out(self):
        # The page asked for before the login is the one shown after it.
        self.driver.get(self.server.url('/main.html#password'))
        self.wait(lambda: self.qs('#username'), message='login form')
        self.screenshot('login')
        # The name field has the focus; Tab and Enter do the rest.
        self.driver.switch_to.active_element.send_keys(SUPER_USER, Keys.TAB, DEFAULT_PASSWORD, Keys.ENTER)
        self.wait_page('password')
        self.assertEqual(self.q('#who').text, SUPER_USER)
        self.log_out()
        # The session is over: a page of the shell sends the browser back to the login page.
        self.driver.get(self.server.url('/main.html#operators'))
        self.wait(lambda: '/index.html?next=%23operators' in self.driver.current_url,
                  message='back at the login page')

    def test_refused_logins_show_the_reply_with_its_meaning(self):
        rows = [
            ('wrong password', SUPER_USER, '1234',
             'login — Wrong name or password, or the account is disabled.'),
            ('no name', '', DEFAULT_PASSWORD, '没有用户名 — Enter the operator name.'),
            ('no password', SUPER_USER, '', '密码不能为空 — Enter the password.'),
            ('password the pages cannot send', SUPER_USER, '密码',
             'A password may have at most 96 characters'),
        ]
        self.driver.get(self.server.url('/'))
        for row, name, password, shown in rows:
            with self.subTest(row):
                self.fill('#username', name)
                self.fill('#password', password)
                self.q('#submit').click()
                self.wait_text('#message.error', shown)
                self.assertTrue(self.driver.current_url.endswith('/'))

    def test_lost_connection_is_told_and_keeps_what_was_typed(self):
        self.log_in()
        self.open_page('password')
        self.fill('#f-old', DEFAULT_PASSWORD)
        self.fill('#f-new', 'N3wPassw0rd')
        self.fill('#f-repeat', 'N3wPassw0rd')
        self.server.stop()
        self.q('#content button[type=submit]').click()
        self.wait_text('#content .message.error', 'No connection to the terminal')
        self.assertEqual(self.q('#f-new').get_attribute('value'), 'N3wPassw0rd')
        self.assertEqual(self.q('#f-old').get_attribute('value'), DEFAULT_PASSWORD)
