"""Logging in by keyboard, an operator added, logging out, a refused login and the added
operator's login without rights over operators."""
from selenium.webdriver.common.keys import Keys

from webfixture import PageTest, SUPER_USER, DEFAULT_PASSWORD


class LoginTest(PageTest):
    def test_operator_added_and_logged_in_without_rights_over_operators(self):
        # The page asked for before the login is the one shown after it.
        self.driver.get(self.url('/main.html#operators'))
        self.wait(lambda: self.qs('#username'), 'login form')
        self.screenshot('login')
        # The name field has the focus; Tab and Enter do the rest.
        self.driver.switch_to.active_element.send_keys(SUPER_USER, Keys.TAB, DEFAULT_PASSWORD, Keys.ENTER)
        self.wait_page('operators')
        self.assertEqual(self.q('#who').text, SUPER_USER)
        for shown in ('#content > .message.ok', 'Operator guard added.'), (
                '#content form .message.error', '新增用户失败，用户已存在！ — Adding failed: this operator exists already.'):
            self.fill('#f-newName', 'guard')
            self.q('#f-newName').submit()
            self.wait_text(*shown)
        self.q('#logout').click()
        self.wait(lambda: self.driver.current_url.endswith('/index.html'), 'login page')
        # The session is over: a page of the shell sends the browser back to the login page.
        self.driver.get(self.url('/main.html#operators'))
        self.wait(lambda: '/index.html?next=%23operators' in self.driver.current_url, 'back at the login page')
        self.submit({'#username': 'guard', '#password': '1234'}, '#submit')
        self.wait_text('#message.error', 'login — Wrong name or password, or the account is disabled.')
        self.submit({'#username': 'guard', '#password': DEFAULT_PASSWORD}, '#submit')
        self.wait_page('operators')
        self.assertEqual(self.q('#who').text, 'guard')
        self.wait_text('#content', 'Only a super-user can change operators.')
        self.assertEqual(self.cells('#content tbody tr'), [[SUPER_USER, 'Super-user'], ['guard', 'Operator']])
