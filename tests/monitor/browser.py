"""Headless Chromium for the page tests, driven by chromedriver."""
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class Browser:
    """Debian's Chromium with a profile of its own, thrown away on close."""

    def __init__(self, window_size='1400,1000'):
        self.profile = tempfile.TemporaryDirectory(prefix='baroterm-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update',
                     '--disable-sync', '--disable-dev-shm-usage', '--no-default-browser-check',
                     '--window-size=' + window_size, '--user-data-dir=' + self.profile.name):
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        try:
            self.driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'),
                                           options=options)
        except Exception:
            self.profile.cleanup()
            raise
        self.driver.set_page_load_timeout(30)

    def severe_messages(self, *needles):
        """The console's severe messages that hold any of the needles."""
        return [entry['message'] for entry in self.driver.get_log('browser')
                if entry['level'] == 'SEVERE' and any(n in entry['message'] for n in needles)]

    def close(self):
        self.driver.quit()
        self.profile.cleanup()


def wait_for(what, predicate, timeout_s, every_s=0.1):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(every_s)
    sys.exit('timed out after %.1f s waiting for %s' % (timeout_s, what))
