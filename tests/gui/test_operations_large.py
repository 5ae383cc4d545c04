"""The largest image under Wine: 32768 bytes, 256 sectors of 128 bytes, the
most a one-byte sector number reaches. At 22 ticks a sector this takes a
minute or more, so it runs on its own."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from sim_device import *  # noqa: E402,F401,F403

IMAGE_SIZE = 256 * 128


class LargestUpload(unittest.TestCase):
    def test_256_sectors(self):
        with tempfile.TemporaryDirectory() as workdir:
            link = os.path.join(workdir, 'com1')
            harness.map_com_port(1, link)
            image = write_image(os.path.join(workdir, 'FULL.ENC'), IMAGE_SIZE, seed=256)
            d = harness.Driver()
            app = harness.App(d, workdir)
            device = SimDevice(link, workdir, expect=image)
            try:
                h = app.main_window(d)['hwnd']
                set_check(d, h, CHK_BLVER, harness.BST_UNCHECKED)
                pick_file(d, h, image)
                run(d, h, BTN_CAP, EDIT_RECV, lambda t: t.endswith(CAPTURED))
                # The step after sector 255 finds the end of the file, not sector 0 again.
                self.assertEqual(upload(d, h, 600), COMPLETE)
                self.assertEqual(debug_top(d, h, 2), ['Sector 256', 'LF-!-CR (success)'])
            finally:
                device.stop()
                app.stop()
                d.close()
            self.assertEqual(device.status, 0)
            with open(image, 'rb') as f:
                self.assertEqual(device.image, f.read())
            writes = device.events('write')
            self.assertEqual([e['sector'] for e in writes], list(range(256)))
            self.assertTrue(all(e['accepted'] and not e['retry'] for e in writes))


if __name__ == '__main__':
    unittest.main()
