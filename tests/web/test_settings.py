"""The network settings, the firmware upload, restart and factory reset, each restarting the
terminal only when asked."""
import os

from webfixture import PageTest, SUPER_USER


class DeviceTest(PageTest):
    def prepare(self, server):
        # A terminal leaves the factory with its network settings (those of the factory reset).
        server.write('netconfig.ini', '[NET]\nflag=1\nIP=192.168.0.242\nSUBMASK=255.255.255.0\nGATEWAY=192.168.0.1\n'
                     'LOCALPORT=15000\nSERVERIP1=192.168.0.77\nSERVERIP2=192.168.0.78\nSERVERPORT1=15000\n')
        server.add_operator('guard', '6172839405', '操作员')
        os.mkdir(server.path('uploads'))
        with open(server.path('DORXWebOnDevice.ini'), 'a', encoding='utf-8') as ini:
            ini.write('[login]\nfileroot=uploads\n')

    def wait_reboots(self, count):
        # The server runs "reboot" after its reply has gone.
        self.wait(lambda: self.server.shell_log().count('reboot') == count, '%d reboots in shell.log' % count)

    def test_network_change_writes_the_network_file_and_restarts_only_when_asked(self):
        self.log_in()
        self.open_page('network')
        before = self.server.shell_log()
        self.submit({'#f-ip': '0.0.0.0'})
        self.wait_text('#f-ip-msg', '请检查IP地址 — Check the IP address.')
        self.assertEqual(self.server.shell_log(), before)
        self.submit({'#f-ip': '192.168.0.50'})
        self.wait_text('#content .message.ok', 'take effect at the next restart')
        self.assertIn('address 192.168.0.50', self.server.read('interfaces'))
        self.assertIn('sync', self.server.shell_log())
        self.assertNotIn('reboot', self.server.shell_log())
        self.screenshot('network')
        self.q('#f-reboot').click()
        self.submit({'#f-ip': '192.168.0.51'})
        self.answer()
        self.wait_text('#content .message.ok', 'restarts at its new address 192.168.0.51')
        self.wait_reboots(1)
        self.assertIn('address 192.168.0.51', self.server.read('interfaces'))

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
        self.assertEqual(self.value('#upload-progress'), '1')
        self.wait_text('#content form', '100 %')
        with open(self.server.path('uploads/firmware.bin'), 'rb') as file:
            self.assertEqual(file.read(), firmware)
        self.wait_reboots(1)
        self.open_page('maintenance')
        for button, shown in enumerate((('#content .message.ok', 'The terminal is restarting.'), (
                '#content section:last-child .message.ok', 'Factory settings restored. The terminal restarts at 192.168.0.242.'))):
            self.qs('#content button.danger')[button].click()
            self.answer('no')
            self.assertEqual(self.server.shell_log().count('reboot'), button + 1)
            self.qs('#content button.danger')[button].click()
            self.answer()
            self.wait_text(*shown)
            self.wait_reboots(button + 2)
        self.assertEqual(self.server.operators(), [(SUPER_USER, '超级用户')])
        self.assertIn('address 192.168.0.242', self.server.read('interfaces'))
