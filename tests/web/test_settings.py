"""The network settings, the firmware upload, restart and factory reset, each restarting the
terminal only when asked."""
from webfixture import PageTest


class DeviceTest(PageTest):
    # A terminal leaves the factory with its network settings (those of the factory reset).
    files = {'netconfig.ini': '[NET]\nflag=1\nIP=192.168.0.242\nSUBMASK=255.255.255.0\nGATEWAY=192.168.0.1\n'
             'LOCALPORT=15000\nSERVERIP1=192.168.0.77\nSERVERIP2=192.168.0.78\nSERVERPORT1=15000\n'}

    def test_network_firmware_restart_and_factory_reset_restart_only_when_asked(self):
        # The server runs "reboot" after its reply has gone.
        reboots = lambda count: self.wait(lambda: self.read('shell.log').splitlines().count('reboot') == count, 'reboots')
        self.log_in()
        self.open_page('network')
        self.submit({'#f-ip': '0.0.0.0'})
        self.wait_text('#f-ip-msg', '请检查IP地址 — Check the IP address.')
        self.submit({'#f-ip': '192.168.0.50'})
        self.wait_text('#content .message.ok', 'take effect at the next restart')
        self.screenshot('network')
        self.q('#f-reboot').click()
        self.submit({'#f-ip': '192.168.0.51'})
        self.answer()
        self.wait_text('#content .message.ok', 'restarts at its new address 192.168.0.51')
        reboots(1)
        self.write('docroot/firmware.bin', 'x' * 600000)
        self.open_page('firmware')
        self.q('#firmware-file').send_keys(self.path('docroot/firmware.bin'))
        self.q('#content button[type=submit]').click()
        self.answer()
        self.wait_text('#content .message.ok', 'Uploaded. The terminal is restarting.')
        self.wait_text('#content form', '100 %')
        reboots(2)
        self.open_page('maintenance')
        for button, shown in enumerate((('#content .message.ok', 'The terminal is restarting.'), (
                '#content section:last-child .message.ok', 'Factory settings restored. The terminal restarts at 192.168.0.242.'))):
            self.qs('#content button.danger')[button].click()
            self.answer('no')
            self.assertEqual(self.read('shell.log').splitlines().count('reboot'), button + 2)
            self.qs('#content button.danger')[button].click()
            self.answer()
            self.wait_text(*shown)
            reboots(button + 3)
