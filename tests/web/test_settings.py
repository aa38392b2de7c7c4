"""The device pages: network, identity, platform server, date and time, daily restart, device
information, door parameters, and the firmware upload, restart and factory reset."""
import os

from webfixture import PageTest, SUPER_USER, record_platform


class DeviceTest(PageTest):
    shared = True

    @classmethod
    def prepare(cls, server):
        record_platform(server)
        server.set_serial_number('SN-0012345')
        with open(server.path('sqlconfig.ini'), 'a', encoding='utf-8') as ini:
            ini.write('DEVICETYPE=门禁控制器\nFIRMWARE=7.4.80\n')
        # A terminal leaves the factory with its network settings (those of the factory reset).
        server.write('netconfig.ini', '[NET]\nflag=1\nIP=192.168.0.242\nSUBMASK=255.255.255.0\n'
                     'GATEWAY=192.168.0.1\nLOCALPORT=15000\nSERVERIP1=192.168.0.77\n'
                     'SERVERIP2=192.168.0.78\nSERVERPORT1=15000\n')

    def submit(self):
        self.q('#content button[type=submit]').click()

    def set_address(self, ip, port='15000'):
        self.fill('#f-ip', ip)
        self.fill('#f-localPort', port)
        self.submit()

    def test_validation_messages_show_beside_their_fields(self):
        self.open_page('network')
        commands = self.server.shell_log()
        for row, ip, port, field, shown in [
            ('address 0.0.0.0', '0.0.0.0', '15000', 'ip', '请检查IP地址 — Check the IP address.'),
            ('port too large', '192.168.0.50', '65536', 'localPort', '请检查设备端口号 — Check the device port.'),
            ('not an address', '192.168.0', '15000', 'ip', 'Enter four numbers separated by dots'),
        ]:
            with self.subTest(row):
                self.set_address(ip, port)
                self.wait_text('#f-%s-msg' % field, shown)
                self.wait_text('#content .message.error', '')
        self.assertEqual(self.server.shell_log(), commands)

    def test_change_writes_the_network_file_and_restarts_only_when_asked(self):
        self.open_page('network')
        self.set_address('192.168.0.50')
        self.wait_text('#content .message.ok', 'take effect at the next restart')
        self.assertIn('address 192.168.0.50', self.server.read('interfaces'))
        self.assertIn('sync', self.server.shell_log())
        self.assertNotIn('reboot', self.server.shell_log())
        self.screenshot('network')
        self.q('#f-reboot').click()
        self.set_address('192.168.0.51')
        self.answer()
        self.wait_text('#content .message.ok', 'restarts at its new address 192.168.0.51')
        self.wait_reboots(1)

    def test_each_form_shows_what_it_saved(self):
        for route, values in [
            ('identity', {'#f-devname': 'Gate 3', '#f-devnumber': '0003'}),
            ('platform', {'#f-pf_server': 'platform.example:9000'}),
            ('autoreboot', {'#f-hour': '3', '#f-minute': '30'}),
            ('parameters', {'#f-opentime': '7', '#f-longopen': '2', '#f-cellmax': '4294967295'}),
        ]:
            with self.subTest(route):
                self.open_page(route)
                for css, value in values.items():
                    self.fill(css, value)
                self.submit()
                self.wait_text('#content .message.ok', 'Saved.')
                self.open_page(route)
                for css, value in values.items():
                    self.assertEqual(self.q(css).get_attribute('value'), value)

    def test_computer_time_sets_the_clock(self):
        self.open_page('datetime')
        self.q('#content button[type=button]').click()
        date = self.q('#f-Date').get_attribute('value')
        self.submit()
        self.wait_text('#content .message.ok', 'Saved.')
        self.assertTrue(any(line.startswith("date -s '%s " % date) for line in self.server.shell_log()))

    def test_device_information_lists_versions_and_counts(self):
        self.open_page('info')
        facts = dict(zip([e.text for e in self.qs('dt')], [e.text for e in self.qs('dd')]))
        self.assertEqual((facts['Device type'], facts['Serial number'], facts['Firmware version'],
                          facts['Product model'], facts['Access records']),
                         ('门禁控制器', 'SN-0012345', '7.4.80', 'not set', '0'))


class SystemTest(PageTest):
    @classmethod
    def prepare(cls, server):
        record_platform(server)
        os.mkdir(server.path('uploads'))
        with open(server.path('DORXWebOnDevice.ini'), 'a', encoding='utf-8') as ini:
            ini.write('[login]\nfileroot=uploads\n')
        server.add_operator('guard', '6172839405', '操作员')

    def test_firmware_restart_and_factory_reset_each_after_asking(self):
        firmware = os.urandom(600000)
        with open(self.server.path('firmware.bin'), 'wb') as file:
            file.write(firmware)
        self.log_in()
        self.open_page('firmware')
        self.q('#firmware-file').send_keys(self.server.path('firmware.bin'))
        self.q('#content button[type=submit]').click()
        self.answer()
        self.wait_text('#content .message.ok', 'Uploaded. The terminal is restarting.')
        self.assertEqual(self.q('#upload-progress').get_attribute('value'), '1')
        self.wait_text('#content form', '100 %')
        with open(self.server.path('uploads/firmware.bin'), 'rb') as file:
            self.assertEqual(file.read(), firmware)
        self.wait_reboots(1)

        self.open_page('maintenance')
        restart, reset = self.qs('#content button.danger')
        restart.click()
        self.answer('no')
        reset.click()
        self.answer('no')
        self.assertEqual(self.server.shell_log().count('reboot'), 1)
        restart.click()
        self.answer()
        self.wait_text('#content .message.ok', 'The terminal is restarting.')
        self.wait_reboots(2)
        reset.click()
        self.answer()
        self.wait_text('#content section:last-child .message.ok',
                       'Factory settings restored. The terminal restarts at 192.168.0.242.')
        self.assertEqual(self.server.operators(), [(SUPER_USER, '超级用户')])
        self.wait_reboots(3)
        self.assertIn('address 192.168.0.242', self.server.read('interfaces'))
