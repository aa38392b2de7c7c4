"""The device pages whose commands (network, identity, platform server, date and time, daily
restart, versions and counts) come with the settings commands of the server."""
import os
import unittest

from webfixture import PageTest, record_platform


class NetworkTest(PageTest):
    def prepare(self, server):
        record_platform(server)
        # A terminal leaves the factory with its network settings (those of the factory reset).
        server.write('netconfig.ini', '[NET]\nflag=1\nIP=192.168.0.242\nSUBMASK=255.255.255.0\n'
                     'GATEWAY=192.168.0.1\nLOCALPORT=15000\nSERVERIP1=192.168.0.77\n'
                     'SERVERIP2=192.168.0.78\nSERVERPORT1=15000\n')

    def shell_log(self):
        path = self.server.path('shell.log')
        return self.server.read('shell.log').splitlines() if os.path.exists(path) else []

    def set_address(self, ip, port='15000'):
        self.fill('#f-ip', ip)
        self.fill('#f-localPort', port)
        self.q('#content button[type=submit]').click()

    def test_validation_messages_show_beside_their_fields(self):
        self.log_in()
        self.open_page('network')
        for row, ip, port, field, shown in [
            ('address 0.0.0.0', '0.0.0.0', '15000', 'ip', '请检查IP地址 — Check the IP address.'),
            ('port too large', '192.168.0.50', '65536', 'localPort', '请检查设备端口号 — Check the device port.'),
            ('not an address', '192.168.0', '15000', 'ip', 'Enter four numbers separated by dots'),
        ]:
            with self.subTest(row):
                self.set_address(ip, port)
                self.wait_text('#f-%s-msg' % field, shown)
                self.wait_text('#content .message.error', '')
        self.assertEqual(self.shell_log(), [])

    def test_change_writes_the_network_file_and_restarts_only_when_asked(self):
        self.log_in()
        self.open_page('network')
        self.set_address('192.168.0.50')
        self.wait_text('#content .message.ok', 'take effect at the next restart')
        self.assertIn('address 192.168.0.50', self.server.read('interfaces'))
        self.assertIn('sync', self.shell_log())
        self.assertNotIn('reboot', self.shell_log())
        self.q('#f-reboot').click()
        self.set_address('192.168.0.51')
        self.wait(lambda: self.qs('dialog[open]'), message='restart question')
        self.q('dialog button[value=yes]').click()
        self.wait_text('#content .message.ok', 'restarts at its new address 192.168.0.51')
        self.assertIn('reboot', self.shell_log())


class DeviceSettingsTest(PageTest):
    def prepare(self, server):
        record_platform(server)

    def test_each_form_shows_what_it_saved(self):
        self.log_in()
        for route, values, saved in [
            ('identity', {'#f-devname': 'Gate 3', '#f-devnumber': '0003'}, 'Saved.'),
            ('platform', {'#f-pf_server': 'platform.example:9000'}, 'Saved.'),
            ('autoreboot', {'#f-hour': '3', '#f-minute': '30'}, 'Saved.'),
        ]:
            with self.subTest(route):
                self.open_page(route)
                for css, value in values.items():
                    self.fill(css, value)
                self.q('#content button[type=submit]').click()
                self.wait_text('#content .message.ok', saved)
                self.open_page(route)
                for css, value in values.items():
                    self.assertEqual(self.q(css).get_attribute('value'), value)

    def test_empty_device_name_is_refused_beside_the_field(self):
        self.log_in()
        self.open_page('identity')
        self.fill('#f-devname', '')
        self.q('#content button[type=submit]').click()
        self.wait_text('#f-devname-msg', '设备名称格式不正确! — Enter a device name.')

    def test_computer_time_sets_the_clock(self):
        self.log_in()
        self.open_page('datetime')
        self.q('#content button[type=button]').click()
        date = self.q('#f-Date').get_attribute('value')
        self.q('#content button[type=submit]').click()
        self.wait_text('#content .message.ok', 'Saved.')
        self.assertTrue(any(line.startswith("date -s '%s " % date)
                            for line in self.server.read('shell.log').splitlines()))

    def test_device_information_lists_versions_and_counts(self):
        self.log_in()
        self.wait_text('#content', 'Serial number')
        self.wait_text('#content', 'Access records')
