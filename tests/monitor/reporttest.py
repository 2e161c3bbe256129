#!/usr/bin/env python3
"""A run's report in a real browser: headless Chromium, driven by chromedriver.

    reporttest.py RUN_PROGRAM RUN_DIR INSTRUMENTS

RUN_DIR holds the logs and readings file of a real run of the simulator (five
records, two pulses each, the reference point equal to grid point 3). The
report is made again from them with `baroterm-run --report`, opened from disk,
and must draw its trends, hold one row per record of the log with the record's
logged values, compare the reference point, and print on A4 pages.

The run was made with (preset: 22 to 23 C step 1, 1 to 2 bar step 1, ADD_REFP=true):
    baroterm-boxsim --host 127.0.61.5 --http-port 0 --time-scale 30
    baroterm-run --box 127.0.61.5 --preset p.ini --log run.csv --reference 1,23 --pulses 2
"""
import base64
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

from browser import Browser

RUN_FILES = ('run.csv', 'run_SLPM.csv', 'run.csv.readings.csv')

REPORT_STATE = """
const noteValue = (cell, word) => {
  const note = [...cell.querySelectorAll('span.note')].find(s => s.textContent.startsWith(word));
  return note ? note.textContent.slice(word.length).trim() : null;
};
const size = e => { const r = e.getBoundingClientRect(); return [r.width, r.height]; };
return {
  scripts: document.scripts.length,
  pageRule: [...document.styleSheets].flatMap(s => [...s.cssRules])
    .filter(r => r instanceof CSSPageRule).map(r => r.style.size).join(';'),
  headings: [...document.querySelectorAll('h2')].map(h => h.textContent),
  trends: [...document.querySelectorAll('svg.trend')].map(s => ({
    size: size(s), lines: s.querySelectorAll('polyline').length,
    marks: s.querySelectorAll('line.mark').length})),
  rows: [...document.querySelectorAll('table.points tbody.point')].map(b => {
    const cells = b.rows[0].cells;
    return {
      number: cells[0].firstChild.textContent,
      loggedT: noteValue(cells[2], 'log'),
      loggedP: noteValue(cells[3], 'log'),
      spark: size(cells[1].querySelector('svg') || cells[1]),
      pulses: cells[6].textContent,
      unsplit: getComputedStyle(b).breakInside,
    };
  }),
};
"""


def log_records(path):
    """Number, T and P of every record of a CSV calibration log, in order."""
    with open(path, newline='') as log:
        rows = list(csv.reader(log))[1:]
    return [(i + 1, float(row[1]), float(row[0])) for i, row in enumerate(rows) if row]


def problems_of(state, records):
    problems = []
    if state['scripts']:
        problems.append('the report carries %d scripts' % state['scripts'])
    if state['pageRule'].lower() != 'a4':
        problems.append('the page size for printing is %r' % state['pageRule'])
    if len(state['trends']) != 2:
        problems.append('%d whole-run trends instead of 2' % len(state['trends']))
    for trend in state['trends']:
        if min(trend['size']) < 50 or trend['lines'] < 1 or trend['marks'] != len(records):
            problems.append('a trend drawn wrong: %r' % trend)
    if not any(h.startswith('Reference point') for h in state['headings']):
        problems.append('no comparison of the reference point: %r' % state['headings'])
    rows = state['rows']
    if len(rows) != len(records):
        problems.append('%d point rows for %d records' % (len(rows), len(records)))
    for row, (number, t, p) in zip(rows, records):
        shown = (int(row['number']), float(row['loggedT']), float(row['loggedP']))
        # The log's 6 pressure decimals, shown with 5.
        if shown[0] != number or abs(shown[1] - t) > 5e-4 or abs(shown[2] - p) > 5e-6:
            problems.append('record %d shown as %r, logged %r' % (number, row, (number, t, p)))
        if row['pulses'] != '2 / 2' or min(row['spark']) < 10 or row['unsplit'] != 'avoid':
            problems.append('record %d: %r' % (number, row))
    return problems


def main():
    program, run_dir, instruments = sys.argv[1:4]
    work = tempfile.TemporaryDirectory(prefix='baroterm-report-')
    for name in RUN_FILES:
        shutil.copy(os.path.join(run_dir, name), work.name)
    log = os.path.join(work.name, 'run.csv')
    made = subprocess.run([program, '--report', log, '--instruments', instruments],
                          capture_output=True, text=True, timeout=60)
    if made.returncode != 0:
        sys.exit('--report ended with %d: %s' % (made.returncode, made.stderr))
    with open(os.path.join(run_dir, 'run.csv.points.csv'), 'rb') as a, \
            open(log + '.points.csv', 'rb') as b:
        if a.read() != b.read():
            sys.exit('the points file made again differs from the run\'s own')

    browser = Browser(window_size='1100,1400')
    try:
        browser.driver.get('file://' + log + '.report.html')
        state = browser.driver.execute_script(REPORT_STATE)
        records = log_records(log)
        problems = problems_of(state, records)
        problems += browser.severe_messages('')
        pdf = base64.b64decode(browser.driver.print_page())
        pages = len(re.findall(rb'/Type\s*/Page[^s]', pdf))
        if not pdf.startswith(b'%PDF') or pages < 1:
            problems.append('the report did not print')
        if problems:
            sys.exit('\n'.join(problems))
        print('%d records in the table, %d trends drawn, printed on %d pages'
              % (len(state['rows']), len(state['trends']), pages))
    finally:
        browser.close()
        work.cleanup()


if __name__ == '__main__':
    main()
