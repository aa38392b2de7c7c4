"""The real server in a temporary directory of its own, and headless Chromium to use its pages.

The server is laid out as the C++ end-to-end fixture lays it out (tests/support/serverprocess):
the executable copied into a fresh temporary directory that is also its working directory, an
INI file of its own beside it, a free port on 127.0.0.1, and here the pages of docroot/ copied
in. It is stopped by its pid.
"""
import atexit
import http.client
import os
import shutil
import signal
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
            try:
                socket.create_connection(('127.0.0.1', self.port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)  # polling the listening socket; nothing else tells
        raise RuntimeError('the server did not listen within 15 s')

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)

    def remove(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def url(self, path='/'):
        return 'http://127.0.0.1:%d%s' % (self.port, path)

    def post(self, path, body):
        connection = http.client.HTTPConnection('127.0.0.1', self.port, timeout=10)
        try:
            connection.request('POST', path, body.encode('utf-8'))
            return connection.getresponse().read().decode('utf-8')
        finally:
            connection.close()

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

    def operators(self):
        """(name, type) of every stored operator, in table order."""
        database = sqlite3.connect(self.path('login_sql.db'))
        try:
            return database.execute('select username, type from user').fetchall()
        finally:
            database.close()

    def store(self, *commands):
        """Runs store commands on the server's databases, as the access daemon does."""
        return subprocess.run([DORXCTL, 'store', *commands], cwd=self.dir, check=True,
                              capture_output=True, text=True).stdout.splitlines()


def chromium(width=1280, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    # Headless as root, and no background traffic: this machine's network is closed.
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync', '--lang=en-US',
                     '--window-size=%d,%d' % (width, height),
                     '--user-data-dir=' + tempfile.mkdtemp(prefix='dorx-chromium-')):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


_browser = None


def browser():
    """The one Chromium of the whole run: it takes seconds to start."""
    global _browser
    if _browser is None:
        _browser = chromium()
        atexit.register(_browser.quit)
    return _browser


class PageTest(unittest.TestCase):
    """One fresh server for every test; the browser forgets the previous one's cookies."""

    @classmethod
    def setUpClass(cls):
        cls.driver = browser()

    def setUp(self):
        self.server = Server()
        self.prepare(self.server)
        self.server.start()
        self.addCleanup(self.server.remove)
        self.driver.get(self.server.url('/index.html'))
        self.driver.delete_all_cookies()
        self.driver.execute_script('localStorage.clear(); sessionStorage.clear()')
        self.driver.get_log('browser')  # drop what earlier tests left
        self.addCleanup(self.check_console)

    def prepare(self, server):
        """Sets up the server's files before it starts."""

    def check_console(self):
        errors = [entry['message'] for entry in self.driver.get_log('browser')
                  if entry['level'] == 'SEVERE' and 'Failed to load resource' not in entry['message']]
        self.assertEqual(errors, [], 'the pages reported errors')

    # Finding and waiting.
    def q(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def qs(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def wait(self, condition, timeout=10, message=''):
        # A condition may read a list that the page redraws meanwhile: it is asked again.
        try:
            return WebDriverWait(self.driver, timeout,
                                 ignored_exceptions=[StaleElementReferenceException]).until(
                lambda driver: condition())
        except TimeoutException:
            self.fail('timed out waiting: ' + message)

    def wait_text(self, css, text):
        """Waits until the element shows text, and returns it."""
        def shown():
            found = self.qs(css)
            return found and text in found[0].text
        self.wait(shown, message='%r in %s (it shows %r)' % (
            text, css, [e.text for e in self.qs(css)]))
        return self.q(css).text

    def wait_page(self, route):
        self.wait(lambda: self.driver.current_url.endswith('/main.html#' + route)
                  and self.driver.execute_script(
                      "return !document.getElementById('content').hasAttribute('aria-busy')"),
                  message='page ' + route)

    def fill(self, css, text):
        element = self.q(css)
        element.clear()
        element.send_keys(text)

    # Whole steps.
    def log_in(self, name=SUPER_USER, password=DEFAULT_PASSWORD, route='info'):
        self.driver.get(self.server.url('/'))
        self.wait(lambda: self.qs('#username'), message='login form')
        self.fill('#username', name)
        self.fill('#password', password)
        self.q('#submit').click()
        self.wait_page(route)

    def open_page(self, route):
        self.driver.get(self.server.url('/main.html#' + route))
        self.wait_page(route)

    def log_out(self):
        self.q('#logout').click()
        self.wait(lambda: self.driver.current_url.endswith('/index.html'), message='login page')

    def screenshot(self, name):
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
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
