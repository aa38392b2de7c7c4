"""Logging in and out in the browser, refused logins, the way back after a refused request,
the language switch and a lost connection."""
from selenium.webdriver.common.keys import Keys

from webfixture import PageTest, SUPER_USER, DEFAULT_PASSWORD


class LoginTest(PageTest):
    def test_log_in_by_keyboard_and_out(self):
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#username'), message='login form')
        self.screenshot('login')
        # The name field has the focus; Tab and Enter do the rest.
        self.driver.switch_to.active_element.send_keys(SUPER_USER, Keys.TAB, DEFAULT_PASSWORD, Keys.ENTER)
        self.wait_page('info')
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
            ('unknown name', 'nobody', DEFAULT_PASSWORD,
             'login — Wrong name or password, or the account is disabled.'),
            ('name in other letter case', 'DORX', DEFAULT_PASSWORD,
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

    def test_login_returns_to_the_page_that_asked_for_it(self):
        self.driver.get(self.server.url('/main.html#password'))
        self.wait(lambda: 'next=' in self.driver.current_url, message='login page')
        self.fill('#username', SUPER_USER)
        self.fill('#password', DEFAULT_PASSWORD)
        self.q('#submit').click()
        self.wait_page('password')

    def test_language_switch_translates_and_is_remembered(self):
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#lang'), message='login page')
        self.q('#lang').click()
        self.assertEqual(self.q('label[for=username]').text, '操作员名称')
        self.fill('#username', SUPER_USER)
        self.fill('#password', 'wrong')
        self.q('#submit').click()
        self.wait_text('#message.error', 'login — 用户名或密码错误')
        self.fill('#password', DEFAULT_PASSWORD)
        self.q('#submit').click()
        self.wait_page('info')
        self.assertEqual(self.q('#logout').text, '退出')
        self.assertEqual(self.driver.execute_script('return document.documentElement.lang'), 'zh-CN')
        self.q('#lang').click()
        self.assertEqual(self.q('#logout').text, 'Log out')

    def test_lost_connection_is_told_and_keeps_what_was_typed(self):
        self.log_in(route='info')
        self.open_page('password')
        self.fill('#f-old', DEFAULT_PASSWORD)
        self.fill('#f-new', 'N3wPassw0rd')
        self.fill('#f-repeat', 'N3wPassw0rd')
        self.server.stop()
        self.q('#content button[type=submit]').click()
        self.wait_text('#content .message.error', 'No connection to the terminal')
        self.assertEqual(self.q('#f-new').get_attribute('value'), 'N3wPassw0rd')
        self.assertEqual(self.q('#f-old').get_attribute('value'), DEFAULT_PASSWORD)
