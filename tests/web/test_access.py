"""Persons with their cards and the access-record log, through the encrypted commands of a
terminal that has its serial number."""
import csv
import glob
import pathlib
import time

from selenium.webdriver.support.ui import Select

from webfixture import PageTest, DORXCTL, run

# A name that would run script if a page inserted it as HTML.
INJECTED = '<img src=x onerror="window.injected=1">'


class AccessTest(PageTest):
    # The pages must take it from the device information: without it every command fails.
    files = {'sqlconfig.ini': '[General]\nDEVICESN=SN-0012345\n'}

    def store(self, *commands):
        # Where the server keeps its databases, as the access daemon stores into them.
        return run(DORXCTL, 'store', *commands, cwd=self.dir)

    def rows(self):
        return [row[:3] for row in self.cells()]

    def save(self, fields):
        self.submit({'#f-' + name: value for name, value in fields.items()}, '.record-form button[type=submit]')

    def test_persons_added_found_and_changed_records_paged_and_a_refused_or_unsent_change(self):
        # As other programs may store them: a name without the pages' Base64; access records,
        # which the store numbers itself.
        self.store('1.3.1024|0|0|张三 raw|||||0|0|0||',
                   *['3.3.0|%d|card%d|1|%d|0|1|0||' % (i % 7, i, 1790000000 + i) for i in range(250)])
        self.log_in()
        self.open_page('persons')
        for fields in {'personid': '17', 'name': '张三', 'cardid': '0012345678'}, {'personid': '4294967295', 'name': INJECTED}:
            self.q('#add-record').click()  # 4294967295 as a JSON number would be stored as 0
            self.save(fields)
            self.wait_text('.record-form .message.ok', 'Saved.')
        self.wait(lambda: ['4294967295', INJECTED, ''] in self.rows(), 'both listed')
        self.assertIn(['17', '张三', '0012345678'], self.rows())
        self.assertIn(['1024', '张三 raw (stored unencoded; shown as stored)', ''], self.rows())
        self.assertEqual((self.qs('#content img'), self.driver.execute_script('return window.injected')), ([], None))
        self.screenshot('persons')
        # The list shows the one person found, the editor that person.
        self.submit({'#find-key': '17'}, '#find-key + button')
        self.wait(lambda: self.rows() == [['17', '张三', '0012345678']], 'person 17 found')
        self.assertEqual(self.value('#f-cardid'), '0012345678')
        self.save({'name': '张三丰', 'cardid': '0099', 'volidityend': '2030-12-31 23:59:59'})
        self.wait(lambda: ['17', '张三丰', '0099'] in self.rows(), 'changed')
        # Stored as the management client reads it: the name as Base64 of its UTF-8, times as seconds
        # since 1970, read in the browser's (here: this machine's) zone.
        stored = self.store('1.4.17')
        self.assertIn('|5byg5LiJ5Liw|', stored)
        self.assertIn('|%d|' % time.mktime((2030, 12, 31, 23, 59, 59, 0, 0, -1)), stored)
        # 250 access records, newest first, by page and by range.
        self.open_page('records')
        self.wait_text('#content', '250 records')
        numbers = lambda: [int(row[0]) for row in self.cells('tbody tr')]
        first = numbers()
        self.assertEqual(first, list(range(first[0], first[0] - 50, -1)))
        self.screenshot('records')
        self.q('#older').click()
        self.wait(lambda: numbers()[:1] == [first[-1] - 1], 'older page')
        self.submit({'#from': str(first[0] - 119), '#to': str(first[0] - 100)}, '.toolbar button[type=submit]')
        self.wait(lambda: numbers() == list(range(first[0] - 100, first[0] - 120, -1)), 'range')
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': self.dir})
        self.submit({'#from': str(first[0] - 249), '#to': str(first[0])}, '#export-csv')
        self.wait_text('#content .message.ok', '250 records exported.')
        exported = self.wait(lambda: glob.glob(self.path('*.csv')), 'CSV file')[0]
        lines = list(csv.reader(pathlib.Path(exported).read_text().splitlines()))
        self.assertEqual((len(lines), lines[1][:3]), (251, [str(first[0]), str(first[0] % 7), 'card%d' % first[0]]))
        # A refused or unsent change is shown as failed and keeps what was typed.
        self.open_page('tables')
        Select(self.q('#kind')).select_by_value('holiday')
        self.wait(lambda: self.qs('#add-record'), 'holiday list')
        self.q('#add-record').click()
        # The terminal keeps this column as a number and would give "0101" back as "101".
        self.save({'holidayid': '5', 'daytime': '0101'})
        self.wait_text('.record-form .message.error', 'refused a value it could not keep exactly as typed')
        self.assertEqual(self.value('#f-daytime'), '0101')
        self.assertNotIn('5', [row[0] for row in self.rows()])
        self.stop_server()
        self.save({'daytime': '2024-10-01'})
        self.wait_text('.record-form .message.error', 'No connection to the terminal')
        self.assertEqual((self.value('#f-holidayid'), self.value('#f-daytime')), ('5', '2024-10-01'))
