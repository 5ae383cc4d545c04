"""Drives the desktop program under Wine for the GUI scenarios.

The programs are the 64-bit Windows build, run with wine64 on an X display.
When DISPLAY or WINEPREFIX are not given, a private Xvfb display and a
throw-away prefix are made for this run and removed at its end.

Paths come from the environment that the build gives each test:
ULVAR_BL_EXE (the program), ULVAR_DRIVER_EXE (the test driver) and
ULVAR_SCREENSHOTS (where screenshots go).
"""
import atexit
import json
import os
import selectors
import shutil
import subprocess
import tempfile
import time

WINE = os.environ.get('WINE', '/usr/lib/wine/wine64')
MAIN_CLASS = 'Ulvar_BlClass'
DIALOG_CLASS = '#32770'

WM_CLOSE = 0x0010
WM_SETTEXT = 0x000C
BM_CLICK = 0x00F5
BST_UNCHECKED, BST_CHECKED = 0, 1


class HarnessError(Exception):
    pass


_environment_ready = False


def _start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write_fd), '-screen', '0', '1280x800x24',
                             '-nolisten', 'tcp'], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        raise HarnessError('Xvfb did not start')
    os.environ['DISPLAY'] = ':' + number
    atexit.register(lambda: (xvfb.terminate(), xvfb.wait()))


def _make_prefix():
    prefix = tempfile.mkdtemp(prefix='ulvar-wine-')
    os.environ['WINEPREFIX'] = prefix

    def remove():
        subprocess.run(['wineserver', '-k'], env=wine_env(), stderr=subprocess.DEVNULL)
        subprocess.run(['wineserver', '-w'], env=wine_env(), timeout=30)
        shutil.rmtree(prefix, ignore_errors=True)
    atexit.register(remove)


def ensure_environment():
    """A display and a Wine prefix, made for this run when none is given."""
    global _environment_ready
    if _environment_ready:
        return
    if not os.environ.get('DISPLAY'):
        _start_xvfb()
    if not os.environ.get('WINEPREFIX'):
        _make_prefix()
    # The first start of a new prefix sets it up; do it once, up front.
    subprocess.run([WINE, 'wineboot', '-i'], env=wine_env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=180, check=True)
    # No window manager runs on the test display: Wine draws the captions and
    # frames itself, so screenshots show them.
    subprocess.run([WINE, 'reg', 'add', r'HKCU\Software\Wine\X11 Driver', '/v', 'Decorated',
                    '/t', 'REG_SZ', '/d', 'N', '/f'], env=wine_env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60, check=True)
    _environment_ready = True


def wine_env():
    env = dict(os.environ)
    env.setdefault('WINEDEBUG', '-all')
    env.setdefault('WINEDLLOVERRIDES', 'mscoree,mshtml=')  # no Mono or Gecko prompts
    return env


def wine_prefix():
    ensure_environment()
    return os.environ['WINEPREFIX']


def wait_wineserver():
    subprocess.run(['wineserver', '-w'], env=wine_env(), timeout=60)


def map_com_port(number, device_path):
    """Maps COM<number> to a device (a pseudo-terminal) for the next programs."""
    ensure_environment()
    subprocess.run([WINE, 'reg', 'add', r'HKLM\Software\Wine\Ports', '/v', 'COM%d' % number,
                    '/t', 'REG_SZ', '/d', device_path, '/f'], env=wine_env(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
    wait_wineserver()


def win_ini_path():
    return os.path.join(wine_prefix(), 'drive_c', 'windows', 'win.ini')


def write_win_ini(sections):
    """Writes win.ini from {section: {key: value}}; the program reads it at start."""
    lines = []
    for section, values in sections.items():
        lines.append('[%s]' % section)
        lines.extend('%s=%s' % (k, v) for k, v in values.items())
        lines.append('')
    with open(win_ini_path(), 'w', newline='\r\n') as f:
        f.write('\n'.join(lines))


def read_win_ini():
    with open(win_ini_path(), newline='') as f:
        return f.read()


def screenshot(name):
    """Saves the whole display as <name>.png in the screenshot folder; its path."""
    folder = os.environ.get('ULVAR_SCREENSHOTS') or os.path.join(os.getcwd(), 'screenshots')
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name + '.png')
    subprocess.run(['import', '-window', 'root', path], check=True, timeout=60)
    return path


def _quote(arg):
    """One driver token: quoted, with line breaks, quotes and backslashes escaped."""
    arg = str(arg)
    escaped = (arg.replace('\\', '\\\\').replace('"', '\\"').replace('\r', '\\r')
               .replace('\n', '\\n').replace('\t', '\\t'))
    return '"%s"' % escaped


class Driver:
    """The test driver, kept running; one command per call."""

    def __init__(self, exe=None):
        ensure_environment()
        self.proc = subprocess.Popen([WINE, exe or os.environ['ULVAR_DRIVER_EXE']],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     env=wine_env(), encoding='latin-1')
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.proc.stdout, selectors.EVENT_READ)

    def call(self, *args, timeout=60):
        """The command's answer, decoded from JSON; HarnessError on ERR."""
        line = ' '.join(_quote(a) for a in args)
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        if not self.selector.select(timeout):
            raise HarnessError('driver gave no answer to %r within %ss' % (line, timeout))
        answer = self.proc.stdout.readline().rstrip('\n')
        if answer.startswith('OK '):
            return json.loads(answer[3:])
        raise HarnessError('%s: %s' % (line, answer or 'driver ended'))

    def find(self, cls=None, title=None, timeout_ms=10000):
        args = ['find']
        if cls:
            args.append('class=' + cls)
        if title:
            args.append('title=' + title)
        return self.call(*args, 'timeout=%d' % timeout_ms, timeout=timeout_ms / 1000 + 30)

    def item(self, hwnd, control_id):
        return self.call('item', hwnd, control_id)

    def text(self, hwnd, control_id):
        return self.call('text', self.item(hwnd, control_id)['hwnd'])

    def set_text(self, hwnd, control_id, text):
        return self.call('settext', self.item(hwnd, control_id)['hwnd'], text)

    def check(self, hwnd, control_id):
        return self.call('check', self.item(hwnd, control_id)['hwnd'])

    def click(self, hwnd, control_id):
        """Clicks a button of the window and waits until the click is handled."""
        return self.call('send', self.item(hwnd, control_id)['hwnd'], BM_CLICK)

    def command(self, hwnd, command_id, code=0):
        """Posts a WM_COMMAND and returns at once (a command may open a modal box)."""
        return self.call('command', hwnd, command_id, code)

    def command_sync(self, hwnd, command_id, code=0):
        """Posts a WM_COMMAND and waits until the window has handled it."""
        self.command(hwnd, command_id, code)
        return self.call('sync', hwnd)

    def keys(self, hwnd, chord):
        """Types a chord such as 'shift+prior' into the window, brought to the front."""
        return self.call('keys', hwnd, chord)

    def gone(self, hwnd, timeout_ms=10000):
        return self.call('gone', hwnd, 'timeout=%d' % timeout_ms, timeout=timeout_ms / 1000 + 30)

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write('quit\n')
                self.proc.stdin.flush()
                self.proc.wait(timeout=30)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.selector.close()


# The profile every run starts from unless a test gives its own, so that no
# test depends on what an earlier one saved.
DEFAULT_PROFILE = {'DefaultPort': '1', 'DefaultBaudRate': '38400'}


class App:
    """One run of the desktop program in a working directory."""

    def __init__(self, driver, workdir, exe=None, profile=None):
        write_win_ini({'Ulvar_BlApp': profile or DEFAULT_PROFILE})
        try:
            driver.find(cls=MAIN_CLASS, timeout_ms=0)
        except HarnessError:
            pass
        else:
            raise HarnessError('a copy of the program is already running on this display')
        self.proc = subprocess.Popen([WINE, exe or os.environ['ULVAR_BL_EXE']], cwd=workdir,
                                     env=wine_env(), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def main_window(self, driver, timeout_ms=30000):
        """The main window's info once it is up; HarnessError if the program ended first."""
        deadline = time.monotonic() + timeout_ms / 1000
        while True:
            if self.proc.poll() is not None:
                raise HarnessError('the program ended with %d before its window came up'
                                   % self.proc.returncode)
            try:
                return driver.find(cls=MAIN_CLASS, timeout_ms=1000)
            except HarnessError:
                if time.monotonic() > deadline:
                    raise

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def stop(self):
        """Ends the program if it still runs: politely, then by force."""
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
