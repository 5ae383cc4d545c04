"""The main window under Wine: controls, menu, label, the shell's commands,
the About box and Exit, all in one run of the program."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

WS_TABSTOP, WS_VSCROLL, WS_BORDER = 0x00010000, 0x00200000, 0x00800000
WS_CHILD, WS_VISIBLE = 0x40000000, 0x10000000
ES_MULTILINE, ES_AUTOHSCROLL, ES_READONLY = 0x0004, 0x0080, 0x0800
BS_PUSHBUTTON, BS_AUTOCHECKBOX = 0, 3
EDIT_FLAGS = WS_CHILD | WS_VISIBLE | WS_BORDER
PANE_FLAGS = EDIT_FLAGS | WS_VSCROLL | ES_MULTILINE
STYLE_MASK = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE \
    | ES_AUTOHSCROLL | ES_READONLY

# id, class, text, rect in client pixels, check state (None for edits and push buttons)
CONTROLS = [
    (290, 'edit', '', [0, 410, 940, 35], None),
    (288, 'edit', '', [0, 0, 440, 25], None),
    (289, 'edit', '', [0, 35, 440, 200], None),
    (291, 'edit', '', [0, 245, 440, 160], None),
    (273, 'button', 'AtMega168', [450, 0, 150, 25], harness.BST_CHECKED),
    (274, 'button', 'BL v1.01', [605, 0, 150, 25], harness.BST_CHECKED),
    (292, 'button', 'Capture', [450, 60, 150, 25], None),
    (293, 'button', 'Find Enc File', [450, 30, 150, 25], None),
    (294, 'button', 'Firmware Upgrade', [450, 90, 150, 25], None),
    (296, 'button', 'G cmd', [450, 120, 150, 25], None),
    (271, 'button', 'LuminaryMicro', [605, 30, 150, 35], harness.BST_UNCHECKED),
    (275, 'button', '38400 Reset->Capture', [450, 150, 150, 25], None),
    (276, 'button', '57600 Reset-> 38400 Capture', [450, 180, 200, 25], None),
    (277, 'edit', '0000000', [450, 210, 70, 25], None),
    (278, 'button', 'Set to Upgrade an Ulv-SR', [605, 70, 200, 35], None),
    (279, 'button', 'Set to Upgrade an Ulv-RO', [605, 110, 200, 35], None),
]
PANES = (289, 291)

MENU = [
    ('&File', [('Clear Recv', 270), ('Clear Debug', 265), ('E&xit', 258)]),
    ('&Settings...', 259),
    ('Operation', [('Abort Capture', 40001), ('Set Encoder Destination', 40002),
                   ('Set Sensor Destination', 40003)]),
    ('A&bout', 260),
]

IDR_MENU = 103
IDM_ABOUT, IDM_CLEAR_DEBUG, IDM_CLEAR_RECV = 260, 265, 270
IDM_SET_ENCODER_DEST, IDM_SET_SENSOR_DEST = 40002, 40003
CHK_LUMINARY, CHK_ATMEGA168, CHK_BLVER = 271, 273, 274
BTN_PRESET_SR, BTN_PRESET_RO, EDIT_DEST = 278, 279, 277
ABOUT_TITLE = 'About BootLoader'
IDOK, ICON_ABOUT = 1, 528


def crop_colours(shot, x, y, w, h):
    """The set of colours (as #RRGGBB) in a region of a screenshot."""
    out = subprocess.run(['convert', shot, '-crop', '%dx%d+%d+%d' % (w, h, x, y), '+repage',
                          '-depth', '8', '-format', '%c', 'histogram:info:-'],
                         check=True, capture_output=True, text=True).stdout
    return {word[:7].upper() for line in out.splitlines() for word in line.split()
            if word.startswith('#')}


def differing_pixels(shot, x, y, picture):
    """How many pixels of the picture differ from the screenshot at (x, y)."""
    size = subprocess.run(['identify', '-format', '%wx%h', picture], check=True,
                          capture_output=True, text=True).stdout
    with tempfile.NamedTemporaryFile(suffix='.png') as crop:
        subprocess.run(['convert', shot, '-crop', '%s+%d+%d' % (size, x, y), '+repage', crop.name],
                       check=True)
        result = subprocess.run(['compare', '-metric', 'AE', crop.name, picture, 'null:'],
                                capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


class MainWindow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.TemporaryDirectory()
        cls.driver = harness.Driver()
        cls.app = harness.App(cls.driver, cls.workdir.name)
        cls.main = cls.app.main_window(cls.driver)
        cls.hwnd = cls.main['hwnd']

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()
        cls.driver.close()
        cls.workdir.cleanup()

    def click_caption(self, control_id):
        self.driver.click(self.hwnd, control_id)
        return self.driver.text(self.hwnd, control_id)

    def test_1_start_state(self):
        self.assertEqual(self.main['title'], 'Ulvar_Bl')
        self.assertEqual(self.main['rect'], [200, 200, 1000, 600])
        children = {c['id']: c for c in self.driver.call('children', self.hwnd)}
        self.assertEqual(sorted(children), sorted(c[0] for c in CONTROLS))
        for control_id, cls, text, rect, check in CONTROLS:
            with self.subTest(control=control_id):
                c = children[control_id]
                self.assertEqual(c['class'].lower(), cls)
                self.assertEqual(c['text'], text)
                self.assertEqual(c['rect'], rect)
                if cls == 'edit':
                    # An edit control takes WS_BORDER out of its style and
                    # draws the border itself.
                    want = PANE_FLAGS if control_id in PANES else EDIT_FLAGS
                    self.assertEqual(c['style'] & STYLE_MASK | WS_BORDER, want)
                else:
                    self.assertEqual(c['style'] & (STYLE_MASK | 0xF),
                                     WS_CHILD | WS_VISIBLE | (BS_PUSHBUTTON if check is None
                                                              else BS_AUTOCHECKBOX))
                    if check is not None:
                        self.assertEqual(c['check'], check)

    def test_2_menu_bar(self):
        # Wine reads no other process's menus: the bar is the program's menu
        # resource, and the keyboard tests below work it in the window.
        self.assertTrue(self.driver.call('hasmenu', self.hwnd))
        menu = self.driver.call('resmenu', os.environ['ULVAR_BL_EXE'], IDR_MENU)
        got = [(e['text'], [(i['text'], i['id']) for i in e['items']] if 'items' in e else e['id'])
               for e in menu]
        self.assertEqual(got, MENU)
        states = [e['state'] for e in menu] + [i['state'] for e in menu for i in e.get('items', [])]
        self.assertEqual(set(states), {0}, 'no item greyed, checked or separated')

    def test_3_screenshot_and_label(self):
        shot = harness.screenshot('main_window')
        ox, oy = self.main['client_origin']
        # The label: black FixedSys text on a box of the window colour (white here).
        colours = crop_colours(shot, ox + 525, oy + 210, 70, 12)
        self.assertIn('#000000', colours)
        self.assertIn('#FFFFFF', colours)

    def test_4_clear_panes_leave_one_blank(self):
        for pane, command in ((289, IDM_CLEAR_RECV), (291, IDM_CLEAR_DEBUG)):
            with self.subTest(pane=pane):
                self.driver.set_text(self.hwnd, pane, 'line one\r\nline two')
                self.driver.command_sync(self.hwnd, command)
                self.assertEqual(self.driver.text(self.hwnd, pane), ' ')

    def test_5_boxes_name_their_state(self):
        self.assertEqual(self.click_caption(CHK_ATMEGA168), 'AtMega88')
        self.assertEqual(self.click_caption(CHK_ATMEGA168), 'AtMega168')
        self.assertEqual(self.click_caption(CHK_BLVER), 'BL v1.00')
        self.assertEqual(self.click_caption(CHK_BLVER), 'BL v1.01')
        self.assertEqual(self.click_caption(CHK_LUMINARY), 'LuminaryMicro')
        self.assertEqual(self.driver.check(self.hwnd, CHK_LUMINARY), harness.BST_CHECKED)
        self.assertEqual(self.click_caption(CHK_LUMINARY), 'LuminaryMicro')
        self.assertEqual(self.driver.check(self.hwnd, CHK_LUMINARY), harness.BST_UNCHECKED)

    def test_6_presets_set_states_not_captions(self):
        self.assertEqual(self.click_caption(CHK_ATMEGA168), 'AtMega88')
        self.driver.click(self.hwnd, BTN_PRESET_SR)
        self.assertEqual(self.driver.check(self.hwnd, CHK_ATMEGA168), harness.BST_CHECKED)
        self.assertEqual(self.driver.check(self.hwnd, CHK_BLVER), harness.BST_CHECKED)
        self.assertEqual(self.driver.text(self.hwnd, CHK_ATMEGA168), 'AtMega88')
        self.driver.click(self.hwnd, BTN_PRESET_RO)
        self.assertEqual(self.driver.check(self.hwnd, CHK_ATMEGA168), harness.BST_UNCHECKED)
        self.assertEqual(self.driver.check(self.hwnd, CHK_BLVER), harness.BST_UNCHECKED)
        self.assertEqual(self.driver.text(self.hwnd, CHK_ATMEGA168), 'AtMega88')
        self.assertEqual(self.driver.text(self.hwnd, CHK_BLVER), 'BL v1.01')
        self.assertEqual(self.driver.check(self.hwnd, CHK_LUMINARY), harness.BST_UNCHECKED)

    def test_7_destination_presets(self):
        for command, serial in ((IDM_SET_ENCODER_DEST, '2424242'), (IDM_SET_SENSOR_DEST, '8012345')):
            self.driver.command_sync(self.hwnd, command)
            self.assertEqual(self.driver.text(self.hwnd, EDIT_DEST), serial)

    def open_about(self):
        self.driver.command(self.hwnd, IDM_ABOUT)
        return self.driver.find(cls=harness.DIALOG_CLASS, title=ABOUT_TITLE)

    def test_8_about_box(self):
        self.driver.keys(self.hwnd, 'alt+b')  # the bar's "A&bout"
        about = self.driver.find(cls=harness.DIALOG_CLASS, title=ABOUT_TITLE)
        controls = self.driver.call('children', about['hwnd'])
        texts = {c['text'] for c in controls if c['visible']}
        self.assertIn('September 6, 2013', texts)
        self.assertIn('OK', texts)
        icon = [c for c in controls if c['id'] == ICON_ABOUT]
        self.assertEqual([c['visible'] for c in icon], [False])
        self.driver.call('sync', about['hwnd'])
        shot = harness.screenshot('about_box')
        ox, oy = about['client_origin']
        picture = os.path.join(os.environ['ULVAR_RES_DIR'], 'about.bmp')
        self.assertEqual(differing_pixels(shot, ox + 10, oy + 10, picture), 0)

        ok = self.driver.item(about['hwnd'], IDOK)['hwnd']
        self.driver.call('send', ok, harness.BM_CLICK)
        self.driver.gone(about['hwnd'])

        about = self.open_about()
        self.driver.keys(about['hwnd'], 'escape')
        self.driver.gone(about['hwnd'])

        about = self.open_about()
        self.driver.call('post', about['hwnd'], harness.WM_CLOSE)  # the caption's close box
        self.driver.gone(about['hwnd'])

    def test_9_exit_ends_with_zero(self):
        self.driver.keys(self.hwnd, 'alt+f')  # "&File", then its "E&xit"
        self.driver.keys(self.hwnd, 'x')
        self.driver.gone(self.hwnd)
        self.assertEqual(self.app.wait_exit(), 0)


if __name__ == '__main__':
    unittest.main(verbosity=2)
