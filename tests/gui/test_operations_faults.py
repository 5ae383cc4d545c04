"""The operations under Wine when things go wrong, in one run of the program:
no device at all, a device that drops, garbles, splits or floods its
answers or vanishes mid-upload, an image too large for one-byte sector
numbers, and a capture cut short by Abort Capture. Each ends in an upload
the device holds byte for byte or in a clear message, never in a hang."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from sim_device import *  # noqa: E402,F401,F403

IMAGE_SIZE = 640  # five 128-byte sectors


class OperationFaults(OneRunWithDevices):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        set_check(cls.driver, cls.hwnd, CHK_BLVER, harness.BST_UNCHECKED)
        cls.image = write_image(os.path.join(cls.workdir.name, 'FIVE.ENC'), IMAGE_SIZE, seed=5)
        pick_file(cls.driver, cls.hwnd, cls.image)

    def capture_and_upload(self):
        run(self.d, self.h, BTN_CAP, EDIT_RECV, lambda t: t.endswith(CAPTURED))
        return upload(self.d, self.h, 120)

    def test_no_device(self):
        # COM1 leads nowhere while no device is attached.
        self.d.command(self.h, BTN_CAP)
        self.assertEqual(answer_message_box(self.d), 'Connection failed.')
        self.assertEqual(debug_top(self.d, self.h, 2), ['E2', 'Capture the Loader'])
        self.assertEqual(self.d.text(self.h, EDIT_RECV), ' ')

    def test_upload_recovers(self):
        device = self.attach('--fault', 'sector=1:no-answer*2', '--fault', 'sector=2:garbage',
                             '--fault', 'sector=3:split=30', expect=self.image)
        self.assertEqual(self.capture_and_upload(), COMPLETE)
        debug = debug_since(self.d, self.h, 'Begin Firmware Upgrade: ')
        self.assertEqual(debug.count('WM_TIMER ERROR'), 2)
        self.assertEqual(debug.count('failed'), 1)
        device.stop()
        self.assertEqual(device.status, 0)
        with open(self.image, 'rb') as f:
            self.assertEqual(device.image, f.read())
        self.assertEqual(device.summary()['retries'], 3)

    def test_upload_ends(self):
        """Faults that end an upload, each with its message and never with
        "complete"."""
        cases = [
            # fault, newest debug lines, received-data pane
            ('sector=1:garbage*5', [MAXFAIL, 'failed'], None),
            ('sector=1:no-answer*5', [MAXFAIL, 'WM_TIMER ERROR', 'Sector 1'], ''),
            ('sector=0:flood=120', [TOO_LONG, 'Sector 0'], ''),
            ('sector=2:vanish', [MAXFAIL, 'WM_TIMER ERROR', 'Sector 2'], ''),
        ]
        for fault, debug, recv in cases:
            with self.subTest(fault=fault):
                device = self.attach('--fault', fault)
                text = self.capture_and_upload()
                self.assertEqual(debug_top(self.d, self.h, len(debug)), debug)
                self.assertNotIn('complete', text)
                if recv is not None:
                    self.assertEqual(text, recv)
                device.stop()
                type(self).device = None

    def test_too_many_sectors(self):
        big = os.path.join(self.workdir.name, 'BIG.ENC')
        with open(big, 'wb') as f:
            f.write(bytes(256 * 128 + 1))
        pick_file(self.d, self.h, big)
        device = self.attach()
        self.assertEqual(self.capture_and_upload(),
                         '\r\nError, the image has more than 256 sectors')
        self.assertEqual(device.stop().events('write'), [])
        pick_file(self.d, self.h, self.image)

    def test_abort_capture(self):
        # A two-stage device never answers "A".
        device = self.attach('--two-stage')
        self.d.command(self.h, BTN_CAP)
        wait_text(self.d, self.h, EDIT_DEBUG, lambda t: t.startswith('A\r\nA\r\nA\r\n'))
        self.d.command(self.h, IDM_ABORT_CAPTURE)
        top = wait_text(self.d, self.h, EDIT_DEBUG,
                        lambda t: t.startswith(('TimeOut', NO_ANSWER)), 5)
        time.sleep(SETTLE_S)
        self.assertEqual(self.d.text(self.h, EDIT_DEBUG), top)  # nothing more happens
        s = device.stop().summary()
        self.assertLess(s['capture_chars'], 100)
        self.assertEqual((s['host_opens'], s['host_closes']), (1, 1))


if __name__ == '__main__':
    unittest.main()
