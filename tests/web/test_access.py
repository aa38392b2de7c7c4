"""Persons with their cards, the other kinds of record and the access-record log, through the
encrypted commands of a terminal that has its serial number."""
import base64
import csv
import glob
import os
import tempfile
import time

from selenium.webdriver.support.ui import Select

from webfixture import PageTest, INJECTED


def person(number, name, stored=None):
    """A person's store command, as the access daemon or another program writes it; the name
    goes in Base64 unless stored gives the stored text."""
    if stored is None:
        stored = base64.b64encode(name.encode('utf-8')).decode('ascii')
    return '1.3.' + '|'.join([str(number), '0', '0', stored, '', '', '', '', '0', '0', '0', '', ''])


class AccessPage(PageTest):
    shared = True

    @classmethod
    def prepare(cls, server):
        # The pages must take it from the device information: without it every command fails.
        server.set_serial_number('SN-0012345')

    def rows(self, columns=3):
        return [row[:columns] for row in self.cells('.list tbody tr')]

    def save(self, fields):
        for name, value in fields.items():
            self.fill('#f-' + name, value)
        self.q('.record-form button[type=submit]').click()

    def add(self, fields):
        self.q('#add-record').click()
        self.save(fields)
        self.wait_text('.record-form .message', 'Saved.')


class PersonTest(AccessPage):
    def test_persons_are_added_found_changed_and_deleted(self):
        self.open_page('persons')
        self.add({'personid': '17', 'name': '张三', 'cardid': '0012345678'})
        # The largest number the terminal keeps; a page that sent it as a JSON number would
        # store person 0.
        self.add({'personid': '4294967295', 'name': INJECTED})
        self.wait(lambda: ['4294967295', INJECTED, ''] in self.rows(), message='both listed')
        self.assertIn(['17', '张三', '0012345678'], self.rows())
        self.assert_no_markup()

        self.fill('#find-key', '17')
        self.q('#find-key').submit()
        # The list shows the one person found, the editor that person.
        self.wait(lambda: self.rows() == [['17', '张三', '0012345678']], message='person 17 found')
        self.assertEqual(self.q('#f-cardid').get_attribute('value'), '0012345678')
        self.save({'name': '张三丰', 'cardid': '0099', 'volidityend': '2030-12-31 23:59:59'})
        self.wait_text('.record-form .message.ok', 'Saved.')
        self.wait(lambda: ['17', '张三丰', '0099'] in self.rows(), message='changed')
        # The management client reads what the page stored: the name as Base64 of its UTF-8,
        # times as seconds since 1970, read in the browser's (here: this machine's) zone.
        shown = self.server.dorxctl('show', 'person', '17')
        self.assertIn('name="张三丰"', shown)
        self.assertIn('volidityend=%d' % time.mktime((2030, 12, 31, 23, 59, 59, 0, 0, -1)), shown)

        self.q('.record-form button.danger').click()
        self.answer()
        self.wait_text('#content > .message.ok', 'Deleted.')
        self.assertNotIn('17', [row[0] for row in self.rows()])

    def test_failed_save_is_shown_as_failed_and_keeps_what_was_typed(self):
        self.open_page('tables')
        Select(self.q('#kind')).select_by_value('holiday')
        self.wait(lambda: self.qs('#add-record'), message='holiday list')
        self.q('#add-record').click()
        # The terminal keeps this column as a number and would give "0101" back as "101".
        self.save({'holidayid': '5', 'daytime': '0101'})
        self.wait_text('.record-form .message.error', 'refused a value it could not keep exactly as typed')
        self.assertEqual(self.q('#f-daytime').get_attribute('value'), '0101')
        self.assertNotIn('5', [row[0] for row in self.rows()])
        self.save({'daytime': '2024-10-01'})
        self.wait_text('.record-form .message.ok', 'Saved.')
        self.wait(lambda: ['5', '2024-10-01'] in self.rows(2), message='holiday listed')


class ListTest(AccessPage):
    RECORDS = 250

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # As the access daemon writes them: the store numbers the records itself.
        cls.server.store(*['3.3.0|%d|card%d|1|%d|0|1|0||' % (i % 7, i, 1790000000 + i)
                           for i in range(cls.RECORDS)])
        cls.server.store(*[person(1000 + i, 'Zoë 张%d' % i) for i in range(24)],
                         person(1024, '', stored='张三 raw'))

    def test_persons_page_by_page(self):
        self.open_page('persons')
        self.wait(lambda: len(self.rows()) == 20, message='first page')
        self.assertEqual(self.rows()[0], ['1000', 'Zoë 张0', ''])
        self.screenshot('persons')
        self.q('.pager button:last-child').click()
        self.wait(lambda: [row[0] for row in self.rows()] == [str(n) for n in range(1020, 1025)],
                  message='second page')
        # A name another program stored without the encoding is shown as it is, and says so.
        self.assertEqual(self.rows()[-1], ['1024', '张三 raw (stored unencoded; shown as stored)', ''])
        self.q('.list tbody tr:last-child button').click()
        self.assertEqual(self.q('#f-name').get_attribute('value'), '张三 raw')
        self.assertFalse(self.q('.pager button:last-child').is_enabled())

    def numbers(self):
        return [int(row[0]) for row in self.cells()]

    def test_records_newest_first_by_range_and_export(self):
        self.open_page('records')
        self.wait_text('#content', '%d records' % self.RECORDS)
        first = self.numbers()
        self.assertEqual(first, list(range(first[0], first[0] - 50, -1)))
        self.screenshot('records')
        self.q('#older').click()
        self.wait(lambda: self.numbers()[:1] == [first[-1] - 1], message='older page')
        self.fill('#from', str(first[0] - 119))
        self.fill('#to', str(first[0] - 100))
        self.q('#from').submit()
        self.wait(lambda: self.numbers() == list(range(first[0] - 100, first[0] - 120, -1)),
                  message='range')
        downloads = tempfile.mkdtemp()
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': downloads})
        self.fill('#from', str(first[0] - self.RECORDS + 1))
        self.fill('#to', str(first[0]))
        self.q('#export-csv').click()
        self.wait_text('#content .message.ok', '%d records exported.' % self.RECORDS)
        self.wait(lambda: glob.glob(os.path.join(downloads, '*.csv')), message='CSV file')
        with open(glob.glob(os.path.join(downloads, '*.csv'))[0], newline='') as file:
            lines = list(csv.reader(file))
        self.assertEqual(len(lines), self.RECORDS + 1)
        self.assertEqual(lines[1][:3], [str(first[0]), str(first[0] % 7), 'card%d' % first[0]])
