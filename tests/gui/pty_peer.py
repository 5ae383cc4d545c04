"""The far end of a COM port under Wine: the master side of a pseudo-terminal.

The slave side is not kept open here, so the master sees a hang-up exactly
while no program has the port open.
"""
import os
import select
import termios
import time
import tty


def open_pty():
    """The master fd (raw) and the slave's path, for mapping a COM port to it."""
    master, slave = os.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    os.close(slave)
    return master, path


def read_exactly(master, n, timeout_s=5):
    """Up to n bytes, as many as arrive within the time limit."""
    data = b''
    deadline = time.monotonic() + timeout_s
    while len(data) < n and time.monotonic() < deadline:
        if select.select([master], [], [], 0.05)[0]:
            try:
                data += os.read(master, n - len(data))
            except OSError:  # no program has the port open yet
                time.sleep(0.05)
    return data


def drain(master, quiet_s=0.3):
    """Reads until nothing has come for quiet_s; the number of bytes read."""
    total = 0
    while select.select([master], [], [], quiet_s)[0]:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        total += len(chunk)
    return total


def hung_up(master):
    """True while no program has the port open."""
    poller = select.poll()
    poller.register(master, select.POLLHUP)
    return any(ev & select.POLLHUP for _, ev in poller.poll(0))


def wait_hung_up(master, want=True, timeout_s=3):
    """Waits until the hang-up state is `want`; whether it got there."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        if hung_up(master) == want:
            return True
        time.sleep(0.05)
    return hung_up(master) == want


def line_rate(master):
    """The output rate that the program on the slave side set, in bit/s."""
    speed = termios.tcgetattr(master)[5]
    for name in dir(termios):
        if name.startswith('B') and name[1:].isdigit() and getattr(termios, name) == speed:
            return int(name[1:])
    return None
