"""The peer of port_win32_test.exe: holds the master side of the pseudo-terminal
that COM1 is mapped to and does what the program asks, one request per line.

Usage: port_win32_test.py <port_win32_test.exe>
"""
import os
import select
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'gui'))
import harness  # noqa: E402
from pty_peer import drain, line_rate, open_pty, read_exactly, wait_hung_up  # noqa: E402

STEP_TIMEOUT_S = 30


class Streamer(threading.Thread):
    """Writes bytes to the master until told to stop."""

    def __init__(self, master):
        super().__init__(daemon=True)
        self.master = master
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                os.write(self.master, b'S' * 32)
            except OSError:
                pass
            time.sleep(0.002)


def answer(master, request, streamer):
    words = request.split()
    verb = words[0]
    if verb == 'SEND':
        os.write(master, bytes(i % 256 for i in range(int(words[1]))))
        return 'ok'
    if verb == 'EXPECT':
        want = bytes.fromhex(words[1])
        got = read_exactly(master, len(want))
        return 'ok' if got == want else 'got %s' % got.hex()
    if verb == 'EXPECT_RATE':
        rate = line_rate(master)
        return 'ok' if rate == int(words[1]) else 'rate %s' % rate
    if verb == 'STREAM':
        streamer.start()
        return 'ok'
    if verb == 'EXPECT_HANGUP':
        ok = wait_hung_up(master)
        streamer.stop.set()
        return 'ok' if ok else 'no hang-up'
    if verb == 'DRAIN':
        return 'ok' if drain(master) > 0 else 'nothing written'
    return 'unknown request'


def main():
    exe = sys.argv[1]
    harness.ensure_environment()
    master, path = open_pty()
    harness.map_com_port(1, path)
    harness.map_com_port(2, '/nonexistent/ulvar-port')
    proc = subprocess.Popen([harness.WINE, exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            env=harness.wine_env(), encoding='latin-1')
    streamer = Streamer(master)
    ok = False
    try:
        while True:
            if not select.select([proc.stdout], [], [], STEP_TIMEOUT_S)[0]:
                print('no request from the program within %ds' % STEP_TIMEOUT_S)
                break
            line = proc.stdout.readline()
            if not line:
                break
            line = line.rstrip('\r\n')
            print(line)
            if line.startswith('END '):
                ok = line == 'END ok'
                break
            if line.startswith('FAIL'):
                continue
            reply = answer(master, line, streamer)
            if reply != 'ok':
                print('  peer: ' + reply)
            proc.stdin.write(reply + '\n')
            proc.stdin.flush()
        code = proc.wait(timeout=STEP_TIMEOUT_S)
    finally:
        streamer.stop.set()
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    return 0 if ok and code == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
