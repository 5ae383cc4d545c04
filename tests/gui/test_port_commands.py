"""Connecting, disconnecting and the settings dialog in the desktop program
under Wine, with COM1 mapped to a pseudo-terminal whose master side this script
holds, in one run of the program."""
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from pty_peer import line_rate, open_pty, wait_hung_up  # noqa: E402

IDM_CONNECT, IDM_SETTINGS = 256, 259
IDOK, IDCANCEL = 1, 2
CMB_PORT, CMB_BAUD = 544, 545
CB_SETCURSEL = 0x014E
WS_DISABLED = 0x08000000
SETTINGS_TITLE = 'Setup Settings...'
BAUD_INDEX = {'2400': 4, '9600': 6, '19.2k': 8}


def profile_values():
    """DefaultPort and DefaultBaudRate of the program's section, as written."""
    try:
        text = harness.read_win_ini()
    except FileNotFoundError:
        return {}
    section = re.search(r'\[Ulvar_BlApp\]\r?\n((?:[^\[].*\r?\n?)*)', text)
    if not section:
        return {}
    return dict(line.split('=', 1) for line in section.group(1).splitlines() if '=' in line)


def remove_profile_section():
    with open(harness.win_ini_path(), 'w', newline='\r\n') as f:
        f.write('')


class PortCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.ensure_environment()
        cls.master, path = open_pty()
        harness.map_com_port(1, path)
        harness.map_com_port(2, '/nonexistent/ulvar-port')
        cls.workdir = tempfile.TemporaryDirectory()
        cls.driver = harness.Driver()
        # The rate differs from the record's default, so the line shows that
        # the profile was loaded at start.
        cls.app = harness.App(cls.driver, cls.workdir.name,
                              profile={'DefaultPort': '1', 'DefaultBaudRate': '4800'})
        cls.hwnd = cls.app.main_window(cls.driver)['hwnd']

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()
        cls.driver.close()
        cls.workdir.cleanup()
        os.close(cls.master)

    def box_text_then_ok(self):
        """The text of the program's message box, which is then answered."""
        box = self.driver.find(cls=harness.DIALOG_CLASS, title='Ulvar_Bl')
        controls = self.driver.call('children', box['hwnd'])
        texts = [c['text'] for c in controls if c['class'].lower() == 'static' and c['text']]
        ok = [c for c in controls if c['class'].lower() == 'button' and c['text'] == 'OK']
        self.assertEqual(len(ok), 1, 'one OK button')
        self.driver.call('send', ok[0]['hwnd'], harness.BM_CLICK)
        self.driver.gone(box['hwnd'])
        return texts

    def settings(self, baud=None, button=IDOK):
        """Runs the settings dialog: picks a rate, presses a button; what it showed."""
        self.driver.command(self.hwnd, IDM_SETTINGS)
        dlg = self.driver.find(cls=harness.DIALOG_CLASS, title=SETTINGS_TITLE)['hwnd']
        shown = {
            'port': self.driver.text(dlg, CMB_PORT),
            'baud': self.driver.text(dlg, CMB_BAUD),
            'port_enabled': not self.driver.item(dlg, CMB_PORT)['style'] & WS_DISABLED,
        }
        if baud:
            combo = self.driver.item(dlg, CMB_BAUD)['hwnd']
            self.driver.call('send', combo, CB_SETCURSEL, BAUD_INDEX[baud])
        self.driver.click(dlg, button)
        self.driver.gone(dlg)
        self.driver.call('sync', self.hwnd)
        return shown

    def test_1_connect_by_keys(self):
        self.assertTrue(wait_hung_up(self.master, True), 'closed at start')
        self.driver.keys(self.hwnd, 'shift+prior')
        self.driver.call('sync', self.hwnd)
        self.assertTrue(wait_hung_up(self.master, False), 'Shift+Page Up opens COM1')
        self.assertEqual(line_rate(self.master), 4800)
        # A second press does nothing: no box, the connection stays.
        self.driver.keys(self.hwnd, 'shift+prior')
        self.driver.call('sync', self.hwnd)
        with self.assertRaises(harness.HarnessError):
            self.driver.find(cls=harness.DIALOG_CLASS, title='Ulvar_Bl', timeout_ms=1000)
        self.assertTrue(wait_hung_up(self.master, False))

    def test_2_settings_reach_the_open_port(self):
        shown = self.settings(baud='19.2k')
        self.assertEqual(shown, {'port': 'COM1', 'baud': '4800', 'port_enabled': False})
        self.assertEqual(line_rate(self.master), 19200)
        self.assertEqual(profile_values(), {'DefaultPort': '1', 'DefaultBaudRate': '19200'})

    def test_3_cancel_stores_nothing_but_saves_the_profile(self):
        remove_profile_section()
        shown = self.settings(baud='2400', button=IDCANCEL)
        self.assertEqual(shown['baud'], '19.2k')
        self.assertEqual(line_rate(self.master), 19200)
        self.assertEqual(profile_values(), {'DefaultPort': '1', 'DefaultBaudRate': '19200'})

    def test_4_disconnect_by_keys(self):
        self.driver.keys(self.hwnd, 'shift+next')
        self.driver.call('sync', self.hwnd)
        self.assertTrue(wait_hung_up(self.master, True), 'Shift+Page Down closes COM1')
        self.driver.keys(self.hwnd, 'shift+next')  # nothing open: nothing happens
        self.driver.call('sync', self.hwnd)
        with self.assertRaises(harness.HarnessError):
            self.driver.find(cls=harness.DIALOG_CLASS, title='Ulvar_Bl', timeout_ms=1000)

    def test_5_missing_port_fails_with_a_box(self):
        # With the port closed the port list can change: COM2 has no device.
        self.driver.command(self.hwnd, IDM_SETTINGS)
        dlg = self.driver.find(cls=harness.DIALOG_CLASS, title=SETTINGS_TITLE)['hwnd']
        self.assertFalse(self.driver.item(dlg, CMB_PORT)['style'] & WS_DISABLED)
        self.driver.call('send', self.driver.item(dlg, CMB_PORT)['hwnd'], CB_SETCURSEL, 1)
        self.driver.click(dlg, IDOK)
        self.driver.gone(dlg)
        self.assertEqual(profile_values(), {'DefaultPort': '2', 'DefaultBaudRate': '19200'})

        self.driver.keys(self.hwnd, 'shift+prior')
        self.assertEqual(self.box_text_then_ok(), ['Connection failed.'])
        self.assertTrue(wait_hung_up(self.master, True), 'COM1 stays closed')


if __name__ == '__main__':
    unittest.main(verbosity=2)
