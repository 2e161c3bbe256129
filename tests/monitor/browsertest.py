#!/usr/bin/env python3
"""The monitor page in a real browser: headless Chromium, driven by chromedriver.

    browsertest.py SERVER [--address A] [--screenshot PNG]

SERVER serves a run on the loopback and prints the page's address on its first
line (monitor_fakerun). The page must show the phase, "Points: K of N" and a
drawn temperature chart, follow the next record within 3 s, say that it is cut
off when the program ends, and come back by itself when it starts again.
Prints the time of the browser step.
"""
import argparse
import os
import re
import subprocess
import sys
import time

from browser import Browser, wait_for

RECORD_MS = 2000
FOLLOW_LIMIT_S = 3.0


def start_server(program, address, port=0):
    server = subprocess.Popen([program, '--address', address, '--port', str(port),
                               '--seconds', '120', '--record-ms', str(RECORD_MS)],
                              stdout=subprocess.PIPE, text=True)
    url = server.stdout.readline().strip()
    if not url.startswith('http://'):
        server.kill()
        sys.exit('the server gave no address: %r' % url)
    return server, url


def stop_server(server):
    server.terminate()  # by its own process id
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


PAGE_STATE = """
const canvas = document.getElementById('chart-temperature');
let inked = 0;
if (canvas.width && canvas.height) {
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  for (let i = 3; i < pixels.length; i += 4) if (pixels[i] > 0) ++inked;
}
return {
  phase: document.getElementById('phase').textContent,
  points: document.getElementById('points').textContent,
  drawnPoints: Number(canvas.dataset.points || 0),
  records: Number(canvas.dataset.records || 0),
  inked: inked,
  link: document.body.dataset.link || '',
  banner: document.getElementById('link').textContent,
  lastRecordAtMs: Number(document.body.dataset.lastRecordAtMs || 0),
  now: Date.now(),
};
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('server')
    parser.add_argument('--address', default='127.0.%d.%d' % (os.getpid() % 250 + 1, 77))
    parser.add_argument('--screenshot')
    args = parser.parse_args()

    server, url = start_server(args.server, args.address)
    port = int(re.search(r':(\d+)/', url).group(1))
    browser = None
    try:
        started = time.monotonic()
        browser = Browser()
        driver = browser.driver
        driver.get(url)
        state = lambda: driver.execute_script(PAGE_STATE)

        shown = wait_for('the phase, "K of N" and a drawn temperature chart', lambda: (
            lambda s: s if s['phase'] and re.match(r'Points: \d+ of \d+$', s['points'])
            and s['drawnPoints'] > 1 and s['inked'] > 500 and s['link'] == 'up' else None)(state()),
            20)
        print('shown: %s, %s, %d points drawn' % (shown['phase'], shown['points'],
                                                    shown['drawnPoints']))

        # The next record: its point counted and its mark drawn within 3 s.
        def next_record():
            s = state()
            return s if s['points'] != shown['points'] and s['records'] > shown['records'] else None
        followed = wait_for('the next record', next_record, RECORD_MS / 1000 + FOLLOW_LIMIT_S + 2,
                            0.05)
        lag_s = (followed['now'] - followed['lastRecordAtMs']) / 1000
        print('next record followed after %.2f s: %s' % (lag_s, followed['points']))
        if lag_s > FOLLOW_LIMIT_S:
            sys.exit('the record was shown %.2f s after it was made' % lag_s)

        if args.screenshot:
            driver.save_screenshot(args.screenshot)

        # The program ends: the page says it is cut off; it starts again on
        # the same port: the page comes back by itself.
        stop_server(server)
        cut = wait_for('the page to say it is cut off',
                       lambda: (lambda s: s if s['link'] == 'down' else None)(state()), 10)
        print('cut off: %s' % cut['banner'])
        server, url = start_server(args.server, args.address, port)
        wait_for('the page to come back', lambda: state()['link'] == 'up', 15)
        print('reconnected')

        problems = browser.severe_messages('Content Security Policy', 'Uncaught')
        if problems:
            sys.exit('the page broke its policy or threw:\n' + '\n'.join(problems))
        print('browser step: %.2f s' % (time.monotonic() - started))
    finally:
        if browser:
            browser.close()
        stop_server(server)


if __name__ == '__main__':
    main()
