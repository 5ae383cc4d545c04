"""The bootloader operations under Wine against the simulated device on COM1,
in one run of the program: capture in both dialogues, the two reset
variants, Find Enc File through the open-file dialog, uploads for both
sector sizes, and the go command with and without an answer."""
import itertools
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from sim_device import *  # noqa: E402,F401,F403


class Operations(OneRunWithDevices):
    def setUp(self):
        super().setUp()
        # The one-stage dialogue and 128-byte sectors, unless a test says otherwise.
        set_check(self.d, self.h, CHK_BLVER, harness.BST_UNCHECKED)
        set_check(self.d, self.h, CHK_ATMEGA168, harness.BST_CHECKED)

    def image_file(self, name, size):
        return write_image(os.path.join(self.workdir.name, name), size, seed=size)

    def capture(self):
        return run(self.d, self.h, BTN_CAP, EDIT_RECV, lambda t: t.endswith(CAPTURED))

    def test_1_capture_one_stage(self):
        # Two characters go unanswered while the device starts.
        device = self.attach('--capture-after', '2')
        self.assertRegex(self.capture(), '^' + ONE_STAGE_ANSWER + CAPTURED + '$')
        debug = newest_capture(self.d, self.h)
        self.assertRegex(debug, r'^(?:0A 3A 0D )+\r\nlen = \d+\r\n(?:A\r\n){3,}E2\r\n'
                                r'Capture the Loader\r\n$')
        self.assertEqual(self.d.text(self.h, EDIT_STATUS), 'E2')
        harness.screenshot('capture_finished')
        s = device.stop().summary()
        self.assertEqual((s['capture_chars'], s['captured']), (debug.count('A\r\n'), True))
        self.assertEqual((s['host_opens'], s['host_closes']), (1, 1))

    def test_2_capture_two_stage(self):
        set_check(self.d, self.h, CHK_BLVER, harness.BST_CHECKED)
        device = self.attach('--two-stage')
        self.assertRegex(self.capture(), r'^len = \d+\r\n(?:0A 7A 0D )+\r\n' + CAPTURED + '$')
        debug = newest_capture(self.d, self.h).split('\r\n')
        self.assertEqual(debug[:2], ['', 'Captured'])
        self.assertEqual(debug.count('Found little q'), 1)
        chars = ''.join(e['char'] for e in device.stop().events('capture'))
        self.assertRegex(chars, '^Q+Z+$')
        self.assertEqual((chars.count('Q'), chars.count('Z')), (debug.count('Q'), debug.count('Z')))

    def test_3_reset_capture(self):
        for menu, serial in ((None, '0000000'), (IDM_SET_SENSOR_DEST, '8012345')):
            with self.subTest(serial=serial):
                if menu:
                    self.d.command_sync(self.h, menu)
                device = self.attach('--app-running', '--serial', serial)
                # The reset gets no answer: the device restarts into its bootloader.
                recv = run(self.d, self.h, BTN_RESET_CAP, EDIT_RECV,
                           lambda t: t.endswith(CAPTURED))
                self.assertRegex(recv, '^' + ONE_STAGE_ANSWER + CAPTURED + '$')
                device.stop()
                self.assertEqual([(e['kind'], e.get('serial'), e['accepted'])
                                  for e in device.events('reset')], [('reset', serial, True)])
                self.assertEqual(device.summary()['captured'], True)
                type(self).device = None

    def test_4_reset57_capture(self):
        self.d.command_sync(self.h, IDM_SET_ENCODER_DEST)
        device = self.attach('--app-running', '--serial', '2424242')
        run(self.d, self.h, BTN_RESET57_CAP, EDIT_RECV, lambda t: t.endswith(CAPTURED))
        device.stop()
        # The reset frame, the port closed and opened again for the new
        # rate, then the capture characters.
        kinds = [k for k, _ in itertools.groupby(
            e['kind'] for e in device.events('host-open', 'host-close', 'reset', 'capture'))]
        self.assertEqual(kinds,
                         ['host-open', 'reset', 'host-close', 'host-open', 'capture', 'host-close'])
        self.assertTrue(device.events('reset')[0]['accepted'])

    def test_5_find_and_upload(self):
        """Images of 130 bytes and of a whole number of sectors, each held by
        the device byte for byte; then the go command."""
        for size, frames in ((130, 2), (512, 4)):
            with self.subTest(size=size):
                image = self.image_file('IMG%d.ENC' % size, size)
                pick_file(self.d, self.h, image)
                self.assertEqual(self.d.text(self.h, EDIT_FILE), windows_path(image))
                self.assertEqual(self.d.text(self.h, EDIT_DEBUG), 'BTN_FIND')
                self.assertEqual(self.d.text(self.h, EDIT_RECV), 'BTN_FIND\r\n')

                device = self.attach(expect=image)
                self.capture()
                self.assertEqual(upload(self.d, self.h), COMPLETE)
                self.assertEqual(debug_top(self.d, self.h, 5),
                                 ['Sector %d' % frames, 'LF-!-CR (success)', '0A 21 0D ',
                                  'len = 3', 'Sector %d' % (frames - 1)])
                if size == 512:
                    harness.screenshot('upload_finished')
                run(self.d, self.h, BTN_GO, EDIT_DEBUG, lambda t: t.startswith(GO_DONE))
                self.assertEqual(debug_top(self.d, self.h, 4),
                                 [GO_DONE, '0A 67 0D ', 'len = 3', 'ST_START, send cmd G'])
                device.stop()
                self.assertEqual(device.status, 0, device.proc.stderr)
                with open(image, 'rb') as f:
                    self.assertEqual(device.image, f.read())
                writes = device.events('write')
                self.assertEqual([(e['sector'], e['bytes'], e['accepted']) for e in writes],
                                 [(n, 133, True) for n in range(frames)])
                self.assertTrue(device.summary()['go_received'])
                type(self).device = None

    def test_6_atmega88_geometry(self):
        set_check(self.d, self.h, CHK_ATMEGA168, harness.BST_UNCHECKED)
        image = self.image_file('SMALL.ENC', 200)
        pick_file(self.d, self.h, image)
        device = self.attach('--chip', 'atmega88', expect=image)
        self.capture()
        self.assertEqual(upload(self.d, self.h), COMPLETE)
        device.stop()
        self.assertEqual(device.status, 0)
        self.assertEqual([(e['sector'], e['bytes']) for e in device.events('write')],
                         [(n, 69) for n in range(4)])

    def test_7_go_unanswered(self):
        device = self.attach('--fault', 'go:no-answer')
        self.capture()
        run(self.d, self.h, BTN_GO, EDIT_DEBUG, lambda t: t.startswith(NO_ANSWER))
        self.assertEqual(debug_top(self.d, self.h, 3),
                         [NO_ANSWER, 'command == unknown', 'ST_START, send cmd G'])
        device.stop()

    def test_8_cancelled_find_leaves_no_file(self):
        image = self.image_file('KEPT.ENC', 130)
        pick_file(self.d, self.h, image)
        pick_file(self.d, self.h, None)
        # The line still shows the earlier pick, but the upload has no file.
        self.assertEqual(self.d.text(self.h, EDIT_FILE), windows_path(image))
        device = self.attach()
        self.capture()
        self.assertEqual(upload(self.d, self.h), '\r\nError, failed to open the Reader.enc File, Ln 446')
        self.assertEqual(debug_top(self.d, self.h, 2), ['Sector 0', 'Begin Firmware Upgrade: '])
        self.assertEqual(device.stop().events('write'), [])


if __name__ == '__main__':
    unittest.main()
