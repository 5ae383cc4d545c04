""""Debug.txt" at start-up: emptied when present, created when missing, and a
log that cannot be opened does not stop the program."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class DebugLog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = harness.Driver()

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()

    def start_and_close(self, workdir):
        """Runs the program in workdir until its window is up, then closes it."""
        app = harness.App(self.driver, workdir)
        try:
            main = app.main_window(self.driver)
            self.driver.call('post', main['hwnd'], harness.WM_CLOSE)
            self.assertEqual(app.wait_exit(), 0)
        finally:
            app.stop()

    def test_cases(self):
        cases = [
            ('present', lambda log: open(log, 'wb').write(b'old lines\r\n' * 100)),
            ('missing', lambda log: None),
        ]
        for name, prepare in cases:
            with self.subTest(log=name), tempfile.TemporaryDirectory() as workdir:
                log = os.path.join(workdir, 'Debug.txt')
                prepare(log)
                self.start_and_close(workdir)
                self.assertTrue(os.path.isfile(log))
                self.assertEqual(os.path.getsize(log), 0)

    def test_a_directory_of_that_name_is_left_alone(self):
        with tempfile.TemporaryDirectory() as workdir:
            log = os.path.join(workdir, 'Debug.txt')
            os.mkdir(log)
            open(os.path.join(log, 'keep'), 'w').close()
            self.start_and_close(workdir)
            self.assertEqual(os.listdir(log), ['keep'])


if __name__ == '__main__':
    unittest.main(verbosity=2)
