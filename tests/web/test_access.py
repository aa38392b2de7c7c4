"""Persons with their cards and the access-record log, through the encrypted commands."""
import csv
import glob
import os
import tempfile

from webfixture import PageTest

INJECTED = '<img src=x onerror="window.injected=1">'


class PersonTest(PageTest):
    def add_person(self, number, name, card):
        self.q('#add-record').click()
        self.fill('#f-personid', number)
        self.fill('#f-name', name)
        self.fill('#f-cardid', card)
        self.q('.record-form button[type=submit]').click()
        self.wait_text('.record-form .message.ok', 'Saved.')

    def rows(self):
        return [[cell.text for cell in row.find_elements('css selector', 'td')][:3]
                for row in self.qs('.list tbody tr')]

    def test_added_person_and_card_are_listed_and_found(self):
        self.log_in()
        self.open_page('persons')
        self.add_person('17', '张三', '0012345678')
        self.add_person('18', INJECTED, '')
        self.wait(lambda: len(self.rows()) == 2, message='two persons listed')
        self.assertEqual(self.rows(), [['17', '张三', '0012345678'], ['18', INJECTED, '']])
        self.assertEqual(self.qs('#content img'), [])
        self.assertIsNone(self.driver.execute_script('return window.injected'))
        self.fill('#find-key', '17')
        self.q('#find-key').submit()
        self.wait(lambda: self.rows() == [['17', '张三', '0012345678']], message='found')
        self.assertEqual(self.q('#f-cardid').get_attribute('value'), '0012345678')


class RecordLogTest(PageTest):
    COUNT = 250

    def insert_records(self):
        # As the access daemon writes them: the store numbers them itself.
        self.server.store(*['3.3.0|%d|card%d|1|%d|0|1|0||' % (i % 7, i, 1790000000 + i)
                            for i in range(self.COUNT)])

    def test_pages_newest_first_and_export(self):
        self.insert_records()
        self.log_in()
        self.open_page('records')
        self.wait_text('#content', '%d records' % self.COUNT)
        first = [row.find_elements('css selector', 'td')[0].text for row in self.qs('tbody tr')]
        self.assertEqual(len(first), 50)
        self.assertEqual([int(n) for n in first], sorted((int(n) for n in first), reverse=True))
        self.q('#older').click()
        self.wait(lambda: self.qs('tbody tr') and int(self.q('tbody td').text) == int(first[-1]) - 1,
                  message='next page')
        downloads = tempfile.mkdtemp()
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': downloads})
        self.q('#export-csv').click()
        self.wait_text('#content .message.ok', '%d records exported.' % self.COUNT)
        self.wait(lambda: glob.glob(os.path.join(downloads, '*.csv')), message='CSV file')
        with open(glob.glob(os.path.join(downloads, '*.csv'))[0], newline='') as file:
            self.assertEqual(len(list(csv.reader(file))), self.COUNT + 1)
