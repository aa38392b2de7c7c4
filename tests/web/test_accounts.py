"""Operators, one's own password and the device account, as a person uses them in the pages."""
import configparser
import subprocess

from webfixture import PageTest, SUPER_USER, DEFAULT_PASSWORD, DORXCTL, INJECTED


class OperatorTest(PageTest):
    @classmethod
    def prepare(cls, server):
        # Form bodies cannot carry "=": such a name reaches the database only from outside.
        server.add_operator(INJECTED, DEFAULT_PASSWORD, INJECTED)

    def add_operator(self, name):
        self.fill('#f-newName', name)
        self.q('#f-newName').submit()

    def test_added_operator_logs_in_without_rights_over_operators(self):
        self.log_in()
        self.open_page('operators')
        self.assertEqual(self.q('input[name=name1]').get_attribute('value'), INJECTED)
        self.assertIn(INJECTED, [option.text for option in self.qs('select[name=type1] option')])
        self.assert_no_markup()
        self.add_operator('guard')
        self.wait_text('#content > .message.ok', 'Operator guard added.')
        self.assertEqual(self.q('input[name=name2]').get_attribute('value'), 'guard')
        self.add_operator('guard')
        self.wait_text('#content form .message.error', '新增用户失败，用户已存在！ — Adding failed: this operator exists already.')
        self.log_out()
        self.log_in('guard', DEFAULT_PASSWORD)
        self.assertEqual(self.q('#who').text, 'guard')
        self.open_page('operators')
        self.wait_text('#content', 'Only a super-user can change operators.')
        self.assertEqual(self.cells('#content tbody tr'),
                         [[SUPER_USER, 'Super-user'], [INJECTED, INJECTED], ['guard', 'Operator']])
        self.assert_no_markup()


class OperatorListTest(PageTest):
    @classmethod
    def prepare(cls, server):
        server.add_operator('guard', 'Secret1', '操作员')

    def test_reset_and_delete_after_asking_keeping_a_super_user(self):
        self.log_in()
        self.open_page('operators')
        self.q('input[name=reset1]').click()
        self.q('.operator-list button:nth-child(2)').click()
        self.answer()
        self.wait_text('.operator-list .message.ok', 'Passwords reset to the default password 6172839405.')
        self.assertEqual(self.server.operators('password'), [(DEFAULT_PASSWORD,), (DEFAULT_PASSWORD,)])
        self.q('input[name=delete0]').click()
        self.q('.operator-list button').click()
        self.wait_text('.operator-list .message.error', 'At least one super-user must remain.')
        self.q('input[name=delete0]').click()
        self.q('input[name=delete1]').click()
        self.q('.operator-list button').click()
        self.answer()
        self.wait_text('#content > .message.ok', 'Saved.')
        self.assertEqual(len(self.qs('.operator-list tbody tr')), 1)
        self.assertEqual(self.server.operators(), [(SUPER_USER, '超级用户')])


class PasswordTest(PageTest):
    def change(self, old, new, repeat):
        self.fill('#f-old', old)
        self.fill('#f-new', new)
        self.fill('#f-repeat', repeat)
        self.q('#content button[type=submit]').click()

    def test_own_password_change(self):
        self.log_in()
        self.open_page('password')
        self.change(DEFAULT_PASSWORD, 'N3w', 'N3x')
        self.wait_text('#f-repeat-msg', 'The two new passwords differ.')
        self.change('wrong', 'N3wPassw0rd', 'N3wPassw0rd')
        self.wait_text('#content .message.error', '修改失败，旧密码错误！ — Change failed: the current password is wrong.')
        self.change(DEFAULT_PASSWORD, 'N3wPassw0rd', 'N3wPassw0rd')
        self.wait_text('#content .message.ok', 'Password changed.')
        self.log_out()
        self.log_in(SUPER_USER, 'N3wPassw0rd')


class DeviceAccountTest(PageTest):
    def test_device_account_is_set_with_the_password_as_the_pages_send_it(self):
        self.log_in()
        self.open_page('account')
        self.wait_text('#content > .message.info', 'The device account is not set yet.')
        self.fill('#f-username', 'site-7')
        self.fill('#f-password', 'Acc0unt')
        self.q('#content button[type=submit]').click()
        self.wait_text('#content > .message.ok', 'The device account is set.')
        self.wait_text('#content form .message.ok', 'Device account saved.')
        ini = configparser.ConfigParser()
        ini.read(self.server.path('DORXWebOnDevice.ini'))
        deshex = subprocess.run([DORXCTL, 'deshex', 'Acc0unt'], check=True, capture_output=True, text=True).stdout.strip()
        self.assertEqual(dict(ini['login']), {'name': 'site-7', 'password': deshex})
