"""The real server laid out as tests/support/serverprocess lays it out (a temporary working
directory, its own INI, a free port on 127.0.0.1, a recording shell), with docroot/ copied in;
and headless Chromium to use its pages."""
import atexit
import functools
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

from selenium import webdriver
from selenium.common.exceptions import TimeoutException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SERVER = os.environ.get('DORX_SERVER', 'build/DORXWebOnDevice')
DORXCTL = os.environ.get('DORXCTL', 'build/dorxctl')
SEALTOOL = os.environ.get('DORX_SEALTOOL', 'build/tests/web/sealtool')
DOCROOT = os.environ.get('DORX_DOCROOT', 'docroot')
SCREENSHOTS = os.environ.get('DORX_SCREENSHOTS', '')
RECORDING_SHELL = os.path.abspath(os.path.join(DOCROOT, os.pardir, 'tools', 'recordingshell'))
SUPER_USER, DEFAULT_PASSWORD = 'dorx', '6172839405'


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


@functools.lru_cache(maxsize=None)
def browser():
    """The one Chromium of the whole run: it takes seconds to start."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    # Headless as root, and no background traffic: this machine's network is closed.
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--lang=en-US', '--window-size=1280,800',  # the size of the README's pictures
                     '--user-data-dir=' + tempfile.mkdtemp(prefix='dorx-chromium-')):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    atexit.register(driver.quit)
    return driver


class PageTest(unittest.TestCase):
    """A fresh server for every test, with `files` (name: text) in its directory, and a browser that
    forgot the previous test's cookies. Every test ends with a console free of script errors."""
    files = {}

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='dorx-web-')
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        shutil.copy(SERVER, self.path('DORXWebOnDevice'))
        shutil.copytree(DOCROOT, self.path('docroot'))
        # Shell commands go to the stub that logs them in shell.log; "interfaces" is the network file.
        self.write('interfaces', '')
        self.write('DORXWebOnDevice.ini', '[listener]\nhost=127.0.0.1\n[logging]\nfileName=server.log\n'
                   '[docroot]\npath=docroot\n[platform]\nshell=%s\nnetworkFile=%s\n'
                   % (RECORDING_SHELL, self.path('interfaces')))
        for name, text in self.files.items():
            self.write(name, text)
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        with open(self.path('output'), 'ab') as output:
            # A bus address where nothing listens: no test reaches the machine's D-Bus.
            environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS='unix:path=' + self.path('no-bus'))
            self.server = subprocess.Popen([self.path('DORXWebOnDevice'), str(self.port)], cwd=self.dir,
                                           env=environment, stdout=output, stderr=subprocess.STDOUT)
        self.addCleanup(self.stop_server)
        self.driver = browser()
        # It listens before it makes its databases, but answers only once they are made.
        self.wait(lambda: self.driver.get(self.url('/index.html')) or self.qs('#username'),
                  lambda: 'the server did not answer: ' + self.read('output'), 30)
        self.driver.delete_all_cookies()
        self.driver.execute_script('localStorage.clear(); sessionStorage.clear()')
        self.driver.get_log('browser')  # drop what earlier tests left
        self.addCleanup(self.check_console)

    def stop_server(self):
        if self.server.poll() is None:
            self.server.terminate()
            self.server.wait(10)  # a server that does not end on SIGTERM fails the test

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), 'w', encoding='utf-8') as file:
            file.write(text)

    def read(self, name):
        with open(self.path(name), encoding='utf-8') as file:
            return file.read()

    def url(self, path='/'):
        return 'http://127.0.0.1:%d%s' % (self.port, path)

    def check_console(self):
        errors = [entry['message'] for entry in self.driver.get_log('browser')
                  if entry['level'] == 'SEVERE' and 'Failed to load resource' not in entry['message']]
        self.assertEqual(errors, [], 'the pages reported errors')

    def q(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def qs(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def value(self, css):
        return self.q(css).get_attribute('value')

    def cells(self, css='.list tbody tr'):
        return self.driver.execute_script(
            'return [...document.querySelectorAll(arguments[0])]'
            '.map(row => [...row.cells].map(cell => cell.innerText.trim()))', css)

    def wait(self, condition, message='', seconds=10):
        # A condition may read a list that the page redraws meanwhile, or load a page from a server
        # that does not listen yet: it is asked again.
        try:
            return WebDriverWait(self.driver, seconds, ignored_exceptions=[WebDriverException]).until(
                lambda driver: condition())
        except TimeoutException:
            self.fail('timed out waiting: ' + (message() if callable(message) else message))

    def wait_text(self, css, text):
        shown = lambda: [e.text for e in self.qs(css)]
        self.wait(lambda: shown() and text in shown()[0], lambda: '%r in %s (it shows %r)' % (text, css, shown()))

    def wait_page(self, route):
        self.wait(lambda: self.driver.current_url.endswith('/main.html#' + route) and self.driver.execute_script(
            "return !document.getElementById('content').hasAttribute('aria-busy')"), 'page ' + route)

    def fill(self, css, text):
        """Puts text into a field as typing would, in one step rather than a round trip a key."""
        self.driver.execute_script("const field = document.querySelector(arguments[0]); field.value = arguments[1];"
                                   "field.dispatchEvent(new Event('input', {bubbles: true}));", css, text)

    def submit(self, fields, button='#content button[type=submit]'):
        for css, text in fields.items():
            self.fill(css, text)
        self.q(button).click()

    def log_in(self):
        self.driver.get(self.url('/'))
        self.wait(lambda: self.qs('#username'), 'login form')
        self.submit({'#username': SUPER_USER, '#password': DEFAULT_PASSWORD}, '#submit')
        self.wait_page('info')

    def open_page(self, route):
        """Loads the page afresh, as its values are the terminal's."""
        url = self.url('/main.html#' + route)
        self.driver.refresh() if self.driver.current_url == url else self.driver.get(url)
        self.wait_page(route)

    def answer(self, button='yes'):
        self.wait(lambda: self.qs('dialog[open]'), 'question')
        self.q('dialog button[value=%s]' % button).click()

    def screenshot(self, name):
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            self.driver.execute_script('window.scrollTo(0, 0)')
            self.driver.save_screenshot(os.path.join(SCREENSHOTS, name + '.png'))
