"""The real server laid out as tests/support/serverprocess lays it out (a temporary working
directory, its own INI, a free port on 127.0.0.1), with docroot/ copied in; and headless Chromium
to use its pages."""
import atexit
import functools
from contextlib import closing
import http.client
import os
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest

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

SUPER_USER = 'dorx'
DEFAULT_PASSWORD = '6172839405'
# A name that would run script if a page inserted it as HTML.
INJECTED = '<img src=x onerror="window.injected=1">'

INI = """[listener]
host=127.0.0.1
[logging]
fileName=server.log
[docroot]
path=docroot
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


class Server:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='dorx-web-')
        self.exe = os.path.join(self.dir, 'DORXWebOnDevice')
        shutil.copy(SERVER, self.exe)
        shutil.copytree(DOCROOT, os.path.join(self.dir, 'docroot'))
        self.write('DORXWebOnDevice.ini', INI)
        self.process = None
        self.port = 0
        self.serial = ''

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), 'w', encoding='utf-8') as file:
            file.write(text)

    def read(self, name):
        with open(self.path(name), encoding='utf-8') as file:
            return file.read()

    def start(self):
        self.port = free_port()
        with open(self.path('output'), 'ab') as output:
            # A bus address where nothing listens: no test reaches the machine's D-Bus.
            environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS='unix:path=' + self.path('no-bus'))
            self.process = subprocess.Popen([self.exe, str(self.port)], cwd=self.dir, env=environment,
                                            stdout=output, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError('the server ended at start-up: ' + self.read('output'))
            # It listens before it makes its databases, but answers only once they are made.
            connection = http.client.HTTPConnection('127.0.0.1', self.port, timeout=10)
            try:
                connection.request('GET', '/index.html')
                connection.getresponse().read()
                return
            except OSError:
                time.sleep(0.05)  # polling the listening socket; nothing else tells
            finally:
                connection.close()
        raise RuntimeError('the server did not listen within 15 s')

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)  # a server that does not end on SIGTERM fails the test

    def remove(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def url(self, path='/'):
        return 'http://127.0.0.1:%d%s' % (self.port, path)

    def add_operator(self, name, password, kind):
        """Stores an operator the way the server does, before the server starts."""
        database = sqlite3.connect(self.path('login_sql.db'))
        with database:
            database.execute('create table if not exists user'
                             '(username text,password text,type text,enable int)')
            if not database.execute('select count(*) from user').fetchone()[0]:
                database.execute("insert into user values(?,?,'超级用户',1)",
                                 (SUPER_USER, DEFAULT_PASSWORD))
            database.execute('insert into user values(?,?,?,1)', (name, password, kind))
        database.close()

    def operators(self, columns='username, type'):
        """The columns of every stored operator, in table order."""
        with closing(sqlite3.connect(self.path('login_sql.db'))) as database:
            return database.execute('select %s from user' % columns).fetchall()

    def store(self, *commands):
        """Runs store commands on the server's databases, as the access daemon does."""
        return subprocess.run([DORXCTL, 'store', *commands], cwd=self.dir, check=True,
                              capture_output=True, text=True).stdout.splitlines()

    def set_serial_number(self, serial):
        """Gives the terminal a serial number before it starts, as its maker does; every
        encrypted command must name it."""
        self.write('sqlconfig.ini', '[General]\nDEVICESN=%s\n' % serial)
        self.serial = serial

    def dorxctl(self, *arguments):
        """The output of the management client, logged in to the server as the super-user."""
        environment = dict(os.environ, DORXCTL_SESSION=self.path('dorxctl-session'))
        run = lambda *words: subprocess.run([DORXCTL, *words], env=environment, check=True,
                                            capture_output=True, text=True).stdout
        if not os.path.exists(self.path('dorxctl-session')):
            run('--url', self.url(''), '--devicesn', self.serial, 'login', SUPER_USER,
                DEFAULT_PASSWORD)
        return run(*arguments)

    def shell_log(self):
        """The commands the recording shell (record_platform) ran, one a line."""
        path = self.path('shell.log')
        return self.read('shell.log').splitlines() if os.path.exists(path) else []


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
    """A fresh server for every test, and a browser that forgot the previous one's cookies; a
    class that sets `shared` has one server for all its tests, logged in as the super-user once:
    its tests must neither log out nor count on what another of them stored."""
    shared = False
    _logged_in = False

    @classmethod
    def setUpClass(cls):
        cls.driver = browser()
        if cls.shared:
            cls.server = cls.start_server()
            cls.addClassCleanup(cls.server.remove)

    @classmethod
    def start_server(cls):
        server = Server()
        cls.prepare(server)
        server.start()
        return server

    @classmethod
    def prepare(cls, server):
        """Sets up the server's files before it starts."""

    def setUp(self):
        if not self.shared:
            self.server = self.start_server()
            self.addCleanup(self.server.remove)
        if not type(self)._logged_in:
            self.driver.get(self.server.url('/index.html'))
            self.driver.delete_all_cookies()
            self.driver.execute_script('localStorage.clear(); sessionStorage.clear()')
            if self.shared:
                self.log_in()
                type(self)._logged_in = True
        self.driver.get_log('browser')  # drop what earlier tests left
        self.addCleanup(self.check_console)

    def check_console(self):
        errors = [entry['message'] for entry in self.driver.get_log('browser')
                  if entry['level'] == 'SEVERE' and 'Failed to load resource' not in entry['message']]
        self.assertEqual(errors, [], 'the pages reported errors')

    # Finding and waiting.
    def q(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def qs(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def cells(self, css='tbody tr'):
        """The texts of the cells of each row that css names, read in one step."""
        return self.driver.execute_script(
            'return [...document.querySelectorAll(arguments[0])]'
            '.map(row => [...row.cells].map(cell => cell.innerText.trim()))', css)

    def wait(self, condition, timeout=10, message=''):
        # A condition may read a list that the page redraws meanwhile: it is asked again. message
        # may be a function, to tell what the page shows when the wait ends.
        try:
            return WebDriverWait(self.driver, timeout,
                                 ignored_exceptions=[StaleElementReferenceException]).until(
                lambda driver: condition())
        except TimeoutException:
            self.fail('timed out waiting: ' + (message() if callable(message) else message))

    def wait_text(self, css, text):
        """Waits until the (first) element css names shows text."""
        def shown():
            found = self.qs(css)
            return found and text in found[0].text
        self.wait(shown, message=lambda: '%r in %s (it shows %r)' % (text, css, self.driver.execute_script(
            'return [...document.querySelectorAll(arguments[0])].map(e => e.innerText)', css)))

    def wait_page(self, route):
        self.wait(lambda: self.driver.current_url.endswith('/main.html#' + route)
                  and self.driver.execute_script(
                      "return !document.getElementById('content').hasAttribute('aria-busy')"),
                  message='page ' + route)

    def fill(self, css, text):
        """Puts text into a field as typing would, in one step rather than a round trip a key."""
        self.driver.execute_script(
            'const field = document.querySelector(arguments[0]);'
            'field.value = arguments[1];'
            "field.dispatchEvent(new Event('input', {bubbles: true}));", css, text)

    def assert_no_markup(self):
        self.assertEqual(self.qs('#content img'), [])
        self.assertIsNone(self.driver.execute_script('return window.injected'))

    def wait_reboots(self, count):
        # The server runs "reboot" after its reply has gone.
        self.wait(lambda: self.server.shell_log().count('reboot') == count,
                  message='%d reboots in shell.log' % count)

    def answer(self, button='yes'):
        self.wait(lambda: self.qs('dialog[open]'), message='question')
        self.q('dialog button[value=%s]' % button).click()

    # Whole steps.
    def log_in(self, name=SUPER_USER, password=DEFAULT_PASSWORD):
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#username'), message='login form')
        self.fill('#username', name)
        self.fill('#password', password)
        self.q('#submit').click()
        self.wait_page('info')

    def open_page(self, route):
        """Loads the page afresh, as its values are the terminal's; going to the address the
        browser shows already would keep what the page showed."""
        url = self.server.url('/main.html#' + route)
        if self.driver.current_url == url:
            self.driver.refresh()
        else:
            self.driver.get(url)
        self.wait_page(route)

    def log_out(self):
        self.q('#logout').click()
        self.wait(lambda: self.driver.current_url.endswith('/index.html'), message='login page')

    def screenshot(self, name):
        """A picture of the page for the README."""
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            self.driver.execute_script('window.scrollTo(0, 0)')
            self.driver.save_screenshot(os.path.join(SCREENSHOTS, name + '.png'))


def record_platform(server):
    """Points the server's shell commands and network file at a recording stub in its own
    directory: shell.log gets one line per command, "interfaces" is the network file.

    The INI keys are those of the server's "[platform]" group."""
    server.write('shell.sh', '#!/bin/sh\nprintf "%s\\n" "$2" >> "$(dirname "$0")/shell.log"\n')
    os.chmod(server.path('shell.sh'), 0o755)
    server.write('interfaces', '')
    with open(server.path('DORXWebOnDevice.ini'), 'a', encoding='utf-8') as ini:
        ini.write('[platform]\nshell=%s\nnetworkFile=%s\n' % (server.path('shell.sh'),
                                                              server.path('interfaces')))
