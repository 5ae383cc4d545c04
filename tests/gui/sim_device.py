"""The simulated bootloader at the other end of COM1, and the waits the
operation scenarios need.

COM1 is mapped once, before any Wine program starts, to a symbolic link;
each simulated device points that link at its own pseudo-terminal. The
program opens the port anew for every operation, so one run of the program
can meet several devices in turn.

ULVAR_SIM_EXE names the simulator (the native build's ulvar-sim).
"""
import json
import os
import random
import subprocess
import tempfile
import time
import unittest

import harness

EDIT_STATUS, EDIT_RECV, EDIT_FILE, EDIT_DEBUG, EDIT_DEST = 288, 289, 290, 291, 277
CHK_LUMINARY, CHK_ATMEGA168, CHK_BLVER = 271, 273, 274
BTN_RESET_CAP, BTN_RESET57_CAP, BTN_CAP, BTN_FIND, BTN_UPGRADE, BTN_GO = 275, 276, 292, 293, 294, 296
IDM_ABORT_CAPTURE, IDM_SET_ENCODER_DEST, IDM_SET_SENSOR_DEST = 40001, 40002, 40003

CAPTURED = '\r\nCaptured'
COMPLETE = "\r\nFirmware upgrade complete, select the 'G' (go) cmd."
MAXFAIL = 'Error, failed Firmware Upgrade with failed >= MAXFAIL'
NO_ANSWER = 'WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0'
TOO_LONG = 'WM_TIMER ERROR, RSVPIDX( npTTYInfo ) > 50'
GO_DONE = 'ST_RECV, after cmd G, All Done'

WM_COMMAND = 0x0111
IDOK, IDCANCEL = 1, 2
OPEN_DIALOG_NAME_FIELDS = (1148, 1152)  # the Explorer-style combo box, the old-style edit
MSGBOX_TEXT = 0xFFFF

# A capture waits only 2 ticks (some 20 ms under Wine) for its answer; an
# answer that comes later is shown with the next one. The patterns of the
# panes allow for that: one or more tokens, one or more characters.
ONE_STAGE_ANSWER = r'len = \d+\r\n(?:0A 3A 0D )+\r\n'

# Ending an operation takes one tick after its last step: enough for that
# tick to have closed the port.
SETTLE_S = 0.5


class SimDevice:
    """One simulated device, linked at `link` until it is stopped."""

    def __init__(self, link, workdir, *options, expect=None):
        self.report_path = os.path.join(workdir, 'report.json')
        self.image_path = os.path.join(workdir, 'image.out')
        for path in (self.report_path, self.image_path):
            if os.path.exists(path):
                os.remove(path)
        args = [os.environ['ULVAR_SIM_EXE'], '--link', link, '--report', self.report_path,
                '--image-out', self.image_path, '--time-limit', '900']
        if expect:
            args += ['--expect', expect]
        self.proc = subprocess.Popen(args + list(options), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.pty = self.proc.stdout.readline().strip()
        if not self.pty:
            raise harness.HarnessError('the simulator did not start: ' + self.proc.stderr.read())
        self.report = None
        self.image = None
        self.status = None

    def stop(self):
        """Ends the device; its report, the image it holds and its exit status."""
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.communicate(timeout=30)
        self.status = self.proc.returncode
        with open(self.report_path) as f:
            self.report = json.load(f)
        with open(self.image_path, 'rb') as f:
            self.image = f.read()
        return self

    def summary(self):
        return self.report['summary']

    def events(self, *kinds):
        return [e for e in self.report['events'] if not kinds or e['kind'] in kinds]


def wait_text(driver, hwnd, control_id, predicate, timeout_s=30):
    """The control's text once predicate(text) holds; AssertionError after the time limit."""
    deadline = time.monotonic() + timeout_s
    while True:
        text = driver.text(hwnd, control_id)
        if predicate(text):
            return text
        if time.monotonic() > deadline:
            raise AssertionError('control %d still reads %r after %ss' % (control_id, text, timeout_s))
        time.sleep(0.05)


def run(driver, hwnd, command_id, control_id, predicate, timeout_s=30):
    """Issues a command and waits until the operation it starts has ended.
    The command is sent, not posted, so no text read after it is older."""
    driver.call('send', hwnd, WM_COMMAND, command_id)
    wait_text(driver, hwnd, control_id, predicate, timeout_s)
    time.sleep(SETTLE_S)
    # Read again: a predicate that also looks at another pane may have seen
    # this one a step earlier. Nothing writes the panes once an operation ended.
    return driver.text(hwnd, control_id)


def upload(driver, hwnd, timeout_s=60):
    """Firmware Upgrade until it ends; the received-data pane then."""
    return run(driver, hwnd, BTN_UPGRADE, EDIT_RECV,
               lambda t: t.startswith('\r\nError') or t == COMPLETE or
               debug_top(driver, hwnd, 1)[0] in (MAXFAIL, TOO_LONG), timeout_s)


def debug_since(driver, hwnd, line):
    """The debug pane's lines above the newest `line`, newest first."""
    lines = driver.text(hwnd, EDIT_DEBUG).split('\r\n')
    return lines[:lines.index(line)]


def newest_capture(driver, hwnd):
    """The debug pane's text from its top through the newest capture's first lines."""
    text = driver.text(hwnd, EDIT_DEBUG)
    start = 'E2\r\nCapture the Loader\r\n'
    return text[:text.index(start) + len(start)]


def debug_top(driver, hwnd, lines):
    """The newest `lines` lines of the debug pane, newest first."""
    return driver.text(hwnd, EDIT_DEBUG).split('\r\n')[:lines]


def set_check(driver, hwnd, control_id, state):
    """Clicks a check box until it has the state, so its handler runs as for the operator."""
    if driver.check(hwnd, control_id) != state:
        driver.click(hwnd, control_id)


def windows_path(path):
    return 'Z:' + path.replace('/', '\\')


def pick_file(driver, main_hwnd, path=None):
    """Find Enc File through the open-file dialog: types the path and presses
    Open, or presses Cancel when no path is given."""
    driver.command(main_hwnd, BTN_FIND)
    dialog = driver.find(cls=harness.DIALOG_CLASS, title='Open')['hwnd']
    if path is None:
        driver.call('post', driver.item(dialog, IDCANCEL)['hwnd'], harness.BM_CLICK)
    else:
        for field in OPEN_DIALOG_NAME_FIELDS:
            try:
                driver.set_text(dialog, field, windows_path(path))
                break
            except harness.HarnessError:
                continue
        else:
            raise harness.HarnessError('the open-file dialog has no file-name field')
        driver.call('post', driver.item(dialog, IDOK)['hwnd'], harness.BM_CLICK)
    driver.gone(dialog)
    driver.call('sync', main_hwnd)


def answer_message_box(driver, title='Ulvar_Bl'):
    """The text of the message box with that caption, after pressing its OK."""
    box = driver.find(cls=harness.DIALOG_CLASS, title=title)['hwnd']
    text = driver.text(box, MSGBOX_TEXT)
    driver.call('post', driver.item(box, IDOK)['hwnd'], harness.BM_CLICK)
    driver.gone(box)
    return text


def write_image(path, size, seed):
    """A deterministic image of `size` random bytes; its path."""
    with open(path, 'wb') as f:
        f.write(bytes(random.Random(seed).randrange(256) for _ in range(size)))
    return path


class OneRunWithDevices(unittest.TestCase):
    """One run of the program for the whole class, with COM1 on a link that
    each test's simulated device takes over (attach)."""

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.TemporaryDirectory()
        cls.link = os.path.join(cls.workdir.name, 'com1')
        harness.map_com_port(1, cls.link)
        cls.driver = harness.Driver()
        cls.app = harness.App(cls.driver, cls.workdir.name)
        cls.hwnd = cls.app.main_window(cls.driver)['hwnd']
        cls.device = None

    @classmethod
    def tearDownClass(cls):
        if cls.device:
            cls.device.stop()
        cls.app.stop()
        cls.driver.close()
        cls.workdir.cleanup()

    def setUp(self):
        self.d = self.driver
        self.h = self.hwnd

    def tearDown(self):
        # A capture that a failed check left running must not spill into the next test.
        self.d.command(self.h, IDM_ABORT_CAPTURE)
        time.sleep(SETTLE_S)
        if self.device:
            self.device.stop()
            type(self).device = None

    def attach(self, *options, expect=None):
        if self.device:  # left by a failed check
            self.device.stop()
        type(self).device = SimDevice(self.link, self.workdir.name, *options, expect=expect)
        return self.device
