"""The main window under Wine: controls, menu, label, the shell's commands,
the About box and Exit, all in one run of the program."""
import os
import struct
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


WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_GROUP = 0x80000000, 0x00C00000, 0x00080000, 0x00020000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
BS_DEFPUSHBUTTON, BS_GROUPBOX, SS_RIGHT, SS_ICON = 1, 7, 2, 3
CBS_LIST = 0x3 | 0x200 | WS_VSCROLL | WS_TABSTOP  # drop-down list, with strings
CHILD = WS_CHILD | WS_VISIBLE
CLASS_ORDINALS = {0x80: 'button', 0x81: 'edit', 0x82: 'static', 0x85: 'combobox'}

# Template, extended or not, style, rect, title, font, then per control:
# id, class, text (an int names a resource), rect, style.
ABOUT_TEMPLATE = (
    100, True, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    (10, 25, 220, 100), 'About BootLoader', (8, 0, 0, 0, 'Helv'), [
        (528, 'static', 105, (10, 5, 20, 20), CHILD | SS_ICON),
        (1, 'button', 'OK', (177, 5, 40, 14), CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON),
        (-1, 'static', 'September 6, 2013', (1, 57, 61, 8), CHILD | WS_GROUP),
    ])
SETTINGS_TEMPLATE = (
    101, False, WS_POPUP | WS_CAPTION | DS_SETFONT,
    (25, 20, 200, 175), 'Setup Settings...', (8, 'Helv'), [
        (-1, 'button', '&COM Options:', (5, 5, 115, 130), CHILD | BS_GROUPBOX),
        (-1, 'static', '&Port:', (10, 20, 40, 10), CHILD | SS_RIGHT | WS_GROUP),
        (544, 'combobox', '', (55, 20, 55, 35), CHILD | CBS_LIST),
        (-1, 'static', '&Baud Rate:', (10, 35, 40, 10), CHILD | SS_RIGHT),
        (545, 'combobox', '', (55, 35, 55, 35), CHILD | CBS_LIST),
        (-1, 'static', '&Data Bits:', (10, 50, 40, 10), CHILD | SS_RIGHT),
        (546, 'combobox', '', (55, 50, 55, 35), CHILD | CBS_LIST),
        (-1, 'static', 'P&arity:', (10, 65, 40, 10), CHILD | SS_RIGHT),
        (547, 'combobox', '', (55, 65, 55, 35), CHILD | CBS_LIST),
        (-1, 'static', '&Stop Bits:', (10, 80, 40, 10), CHILD | SS_RIGHT),
        (548, 'combobox', '', (55, 80, 55, 35), CHILD | CBS_LIST),
        (-1, 'static', 'F&low:', (10, 95, 40, 10), CHILD | SS_RIGHT),
        (549, 'button', 'DTR/DSR', (55, 95, 50, 10), CHILD | BS_AUTOCHECKBOX | WS_TABSTOP),
        (550, 'button', 'RTS/CTS', (55, 105, 50, 10), CHILD | BS_AUTOCHECKBOX),
        (551, 'button', 'XON/XOFF', (55, 115, 50, 10), CHILD | BS_AUTOCHECKBOX),
        (-1, 'button', '&TTY Options:', (125, 5, 70, 55), CHILD | BS_GROUPBOX | WS_GROUP),
        (552, 'button', 'Autowrap', (135, 20, 50, 10), CHILD | BS_AUTOCHECKBOX | WS_TABSTOP),
        (553, 'button', 'New Line', (135, 30, 50, 10), CHILD | BS_AUTOCHECKBOX),
        (554, 'button', 'Local Echo', (135, 40, 50, 10), CHILD | BS_AUTOCHECKBOX),
        (-1, 'button', 'Control &Options', (5, 135, 190, 35), CHILD | BS_GROUPBOX),
        (556, 'button', 'Use CN_RECEIVE Notifications', (10, 150, 115, 10),
         CHILD | BS_AUTOCHECKBOX | WS_TABSTOP),
        (557, 'button', 'Display Errors', (130, 150, 60, 10), CHILD | BS_AUTOCHECKBOX),
        (555, 'button', '&Font', (140, 70, 40, 14), CHILD | BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP),
        (1, 'button', 'Ok', (140, 90, 40, 14), CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP),
        (2, 'button', 'Cancel', (140, 110, 40, 14), CHILD | BS_PUSHBUTTON | WS_TABSTOP),
    ])


def parse_dialog_template(data):
    """A dialog template (DLGTEMPLATE or DLGTEMPLATEEX) in the form of the
    tables above, with the extended style of the dialog and of each control."""
    pos = 0

    def take(fmt):
        nonlocal pos
        values = struct.unpack_from('<' + fmt, data, pos)
        pos += struct.calcsize('<' + fmt)
        return values

    def sz_or_ord():
        nonlocal pos
        (first,) = take('H')
        if first == 0xFFFF:
            return take('H')[0]
        end = pos - 2
        while struct.unpack_from('<H', data, end)[0]:
            end += 2
        text, pos = data[pos - 2:end].decode('utf-16-le'), end + 2
        return text

    extended = data[2:4] == b'\xff\xff'
    if extended:
        _, _, _, exstyle, style, count = take('HHIIIH')
    else:
        style, exstyle, count = take('IIH')
    rect = take('hhhh')
    sz_or_ord(), sz_or_ord()  # menu, class
    title = sz_or_ord()
    font = None
    if style & DS_SETFONT:
        font = take('HHBB') if extended else take('H')
        font = font + (sz_or_ord(),)
    controls = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        if extended:
            _, ctl_exstyle, ctl_style = take('III')
            x, y, w, h, ctl_id = take('hhhhi')
        else:
            ctl_style, ctl_exstyle = take('II')
            x, y, w, h, ctl_id = take('hhhhh')
        cls = sz_or_ord()
        cls = CLASS_ORDINALS.get(cls, cls) if isinstance(cls, int) else cls.lower()
        text = sz_or_ord()
        (extra,) = take('H')
        pos += extra
        controls.append(((ctl_id, cls, text, (x, y, w, h), ctl_style), ctl_exstyle))
    return extended, style, exstyle, rect, title, font, controls


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

    def test_8a_dialog_templates(self):
        for number, extended, style, rect, title, font, controls in (ABOUT_TEMPLATE,
                                                                     SETTINGS_TEMPLATE):
            with self.subTest(template=number):
                data = bytes.fromhex(self.driver.call('resdialog', os.environ['ULVAR_BL_EXE'],
                                                      number))
                got = parse_dialog_template(data)
                self.assertEqual(got[:6], (extended, style, 0, rect, title, font))
                self.assertEqual([c for c, _ in got[6]], controls)
                self.assertEqual({ex for _, ex in got[6]}, {0}, 'no extended styles')

    def test_9_exit_ends_with_zero(self):
        self.driver.keys(self.hwnd, 'alt+f')  # "&File", then its "E&xit"
        self.driver.keys(self.hwnd, 'x')
        self.driver.gone(self.hwnd)
        self.assertEqual(self.app.wait_exit(), 0)


if __name__ == '__main__':
    unittest.main(verbosity=2)
