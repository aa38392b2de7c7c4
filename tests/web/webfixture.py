"""The real server laid out as tests/support/serverprocess lays it out (a temporary working
directory, its own INI, a free port on 127.0.0.1, a recording shell), with docroot/ copied in;
and headless Chromium to use its pages."""
import atexit
import functools
import http.client
import os
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest
from contextlib import closing

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SERVER = os.environ.get('DORX_SERVER', 'build/DORXWebOnDevice')
DORXCTL = os.environ.get('DORXCTL', 'build/dorxctl')
SEALTOOL = os.environ.get('DORX_SEALTOOL', 'build/tests/web/sealtool')
DOCROOT = os.environ.get('DORX_DOCROOT', 'docroot')
SCREENSHOTS = os.environ.get('DORX_SCREENSHOTS', '')
SUPER_USER, DEFAULT_PASSWORD = 'dorx', '6172839405'
# A name that would run script if a page inserted it as HTML.
INJECTED = '<img src=x onerror="window.injected=1">'


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


class Server:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='dorx-web-')
        shutil.copy(SERVER, self.path('DORXWebOnDevice'))
        shutil.copytree(DOCROOT, self.path('docroot'))
        # Shell commands go to a stub that logs them; "interfaces" is the network file.
        self.write('shell.sh', '#!/bin/sh\nprintf "%s\\n" "$2" >> "$(dirname "$0")/shell.log"\n')
        os.chmod(self.path('shell.sh'), 0o755)
        self.write('interfaces', '')
        self.write('DORXWebOnDevice.ini', '[listener]\nhost=127.0.0.1\n[logging]\nfileName=server.log\n'
                   '[docroot]\npath=docroot\n[platform]\nshell=%s\nnetworkFile=%s\n'
                   % (self.path('shell.sh'), self.path('interfaces')))
        self.process, self.port, self.serial = None, 0, ''

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), 'w', encoding='utf-8') as file:
            file.write(text)

    def read(self, name):
        if not os.path.exists(self.path(name)):
            return ''
        with open(self.path(name), encoding='utf-8') as file:
            return file.read()

    def start(self):
        with socket.socket() as probe:
            probe.bind(('127.0.0.1', 0))
            self.port = probe.getsockname()[1]
        with open(self.path('output'), 'ab') as output:
            # A bus address where nothing listens: no test reaches the machine's D-Bus.
            environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS='unix:path=' + self.path('no-bus'))
            self.process = subprocess.Popen([self.path('DORXWebOnDevice'), str(self.port)], cwd=self.dir,
                                            env=environment, stdout=output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError('the server ended at start-up: ' + self.read('output'))
            # It listens before it makes its databases, but answers only once they are made.
            with closing(http.client.HTTPConnection('127.0.0.1', self.port, timeout=10)) as connection:
                try:
                    connection.request('GET', '/index.html')
                    connection.getresponse().read()
                    return
                except OSError:
                    time.sleep(0.05)  # polling the listening socket; nothing else tells
        raise RuntimeError('the server did not listen within 15 s')

    def remove(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)  # a server that does not end on SIGTERM fails the test
        shutil.rmtree(self.dir, ignore_errors=True)

    def url(self, path='/'):
        return 'http://127.0.0.1:%d%s' % (self.port, path)

    def add_operator(self, name, password, kind):
        """Stores an operator the way the server does, before the server starts."""
        with closing(sqlite3.connect(self.path('login_sql.db'))) as database, database:
            database.execute('create table if not exists user(username text,password text,type text,enable int)')
            if not database.execute('select count(*) from user').fetchone()[0]:
                database.execute("insert into user values(?,?,'超级用户',1)", (SUPER_USER, DEFAULT_PASSWORD))
            database.execute('insert into user values(?,?,?,1)', (name, password, kind))

    def operators(self):
        with closing(sqlite3.connect(self.path('login_sql.db'))) as database:
            return database.execute('select username, type from user').fetchall()

    def store(self, *commands):
        """Runs store commands on the server's databases, as the access daemon does."""
        return run(DORXCTL, 'store', *commands, cwd=self.dir).splitlines()

    def set_serial_number(self, serial):
        """Gives the terminal the serial number every encrypted command must name, as its maker does."""
        self.write('sqlconfig.ini', '[General]\nDEVICESN=%s\n' % serial)
        self.serial = serial

    def dorxctl(self, *arguments):
        """The output of the management client, logged in to the server as the super-user."""
        environment = dict(os.environ, DORXCTL_SESSION=self.path('dorxctl-session'))
        if not os.path.exists(self.path('dorxctl-session')):
            run(DORXCTL, '--url', self.url(''), '--devicesn', self.serial, 'login', SUPER_USER,
                DEFAULT_PASSWORD, env=environment)
        return run(DORXCTL, *arguments, env=environment)

    def shell_log(self):
        return self.read('shell.log').splitlines()


@functools.lru_cache(maxsize=None)
def browser():
    """The one Chromium of the whole run: it takes seconds to start."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    # Headless as root, and no background traffic: this machine's network is closed.
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync', '--lang=en-US',
                     '--window-size=1280,800',  # the size of the README's pictures
                     '--user-data-dir=' + tempfile.mkdtemp(prefix='dorx-chromium-')):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    atexit.register(driver.quit)
    return driver


class PageTest(unittest.TestCase):
    """A fresh server (prepared by `prepare` before it starts) for every test, and a browser that
    forgot the previous test's cookies. Every test ends with a console free of script errors."""

    def prepare(self, server):
        """Sets up the server's files before it starts."""

    def setUp(self):
        self.driver = browser()
        self.server = Server()
        self.addCleanup(self.server.remove)
        self.prepare(self.server)
        self.server.start()
        self.driver.get(self.server.url('/index.html'))
        self.driver.delete_all_cookies()
        self.driver.execute_script('localStorage.clear(); sessionStorage.clear()')
        self.driver.get_log('browser')  # drop what earlier tests left
        self.addCleanup(self.check_console)

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
        """The texts of the cells of each row that css names, read in one step."""
        return self.driver.execute_script(
            'return [...document.querySelectorAll(arguments[0])]'
            '.map(row => [...row.cells].map(cell => cell.innerText.trim()))', css)

    def wait(self, condition, message=''):
        # A condition may read a list that the page redraws meanwhile: it is asked again.
        try:
            return WebDriverWait(self.driver, 10, ignored_exceptions=[StaleElementReferenceException]).until(
                lambda driver: condition())
        except TimeoutException:
            self.fail('timed out waiting: ' + (message() if callable(message) else message))

    def wait_text(self, css, text):
        """Waits until the (first) element css names shows text."""
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

    def assert_no_markup(self):
        self.assertEqual(self.qs('#content img'), [])
        self.assertIsNone(self.driver.execute_script('return window.injected'))

    def log_in(self, name=SUPER_USER, password=DEFAULT_PASSWORD):
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#username'), 'login form')
        self.submit({'#username': name, '#password': password}, '#submit')
        self.wait_page('info')

    def open_page(self, route):
        """Loads the page afresh, as its values are the terminal's."""
        url = self.server.url('/main.html#' + route)
        self.driver.refresh() if self.driver.current_url == url else self.driver.get(url)
        self.wait_page(route)

    def log_out(self):
        self.q('#logout').click()
        self.wait(lambda: self.driver.current_url.endswith('/index.html'), 'login page')

    def answer(self, button='yes'):
        self.wait(lambda: self.qs('dialog[open]'), 'question')
        self.q('dialog button[value=%s]' % button).click()

    def screenshot(self, name):
        """A picture of the page for the README."""
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            self.driver.execute_script('window.scrollTo(0, 0)')
            self.driver.save_screenshot(os.path.join(SCREENSHOTS, name + '.png'))
