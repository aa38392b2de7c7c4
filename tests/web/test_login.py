"""Logging in and out, refused logins, and operators as a person uses them in the pages."""
from selenium.webdriver.common.keys import Keys

from webfixture import PageTest, SUPER_USER, DEFAULT_PASSWORD, INJECTED


class LoginTest(PageTest):
    def prepare(self, server):
        # Form bodies cannot carry "=": such a name reaches the database only from outside.
        server.add_operator(INJECTED, DEFAULT_PASSWORD, INJECTED)

    def test_log_in_by_keyboard_and_out_and_a_wrong_password(self):
        # The page asked for before the login is the one shown after it.
        self.driver.get(self.server.url('/main.html#password'))
        self.wait(lambda: self.qs('#username'), 'login form')
        self.screenshot('login')
        # The name field has the focus; Tab and Enter do the rest.
        self.driver.switch_to.active_element.send_keys(SUPER_USER, Keys.TAB, DEFAULT_PASSWORD, Keys.ENTER)
        self.wait_page('password')
        self.assertEqual(self.q('#who').text, SUPER_USER)
        self.log_out()
        # The session is over: a page of the shell sends the browser back to the login page.
        self.driver.get(self.server.url('/main.html#operators'))
        self.wait(lambda: '/index.html?next=%23operators' in self.driver.current_url, 'back at the login page')
        self.submit({'#username': SUPER_USER, '#password': '1234'}, '#submit')
        self.wait_text('#message.error', 'login — Wrong name or password, or the account is disabled.')
        self.assertTrue(self.driver.current_url.endswith('/index.html?next=%23operators'))

    def test_added_operator_logs_in_without_rights_over_operators(self):
        self.log_in()
        self.open_page('operators')
        self.assertEqual(self.value('input[name=name1]'), INJECTED)
        self.assertIn(INJECTED, [option.text for option in self.qs('select[name=type1] option')])
        self.assert_no_markup()
        for shown in ('#content > .message.ok', 'Operator guard added.'), (
                '#content form .message.error', '新增用户失败，用户已存在！ — Adding failed: this operator exists already.'):
            self.fill('#f-newName', 'guard')
            self.q('#f-newName').submit()
            self.wait_text(*shown)
        self.assertEqual(self.value('input[name=name2]'), 'guard')
        self.log_out()
        self.log_in('guard', DEFAULT_PASSWORD)
        self.assertEqual(self.q('#who').text, 'guard')
        self.open_page('operators')
        self.wait_text('#content', 'Only a super-user can change operators.')
        self.assertEqual(self.cells('#content tbody tr'),
                         [[SUPER_USER, 'Super-user'], [INJECTED, INJECTED], ['guard', 'Operator']])
        self.assert_no_markup()
