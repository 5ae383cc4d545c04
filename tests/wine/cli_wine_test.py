"""ulvar-bl.exe under Wine flashes the simulated bootloader through COM1.

Usage: cli_wine_test.py <ulvar-bl.exe> <ulvar-sim>
"""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'gui'))
import harness  # noqa: E402

RUN_TIMEOUT_S = 180


def run_bl(exe, *args):
    r = subprocess.run([harness.WINE, exe] + list(args), env=harness.wine_env(),
                       capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    print('ulvar-bl %s -> %d\n%s%s' % (' '.join(args), r.returncode, r.stdout, r.stderr))
    return r


def main():
    exe, sim_bin = sys.argv[1], sys.argv[2]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, 'image.enc')
        with open(image, 'wb') as f:
            f.write(bytes((i * 31 + 7) % 256 for i in range(5000)))
        sim = subprocess.Popen([sim_bin, '--two-stage', '--expect', image, '--expect-go',
                                '--time-limit', str(RUN_TIMEOUT_S)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            harness.map_com_port(1, sim.stdout.readline().strip())
            report = os.path.join(work, 'run.json')
            r = run_bl(exe, 'flash', '--port', 'com1', '--image', image, '--fast',
                       '--json', report)
            if r.returncode != 0:
                failures.append('flash through COM1 ended with %d' % r.returncode)
            else:
                with open(report) as f:
                    port = json.load(f)['ports'][0]
                if (port['port'], port['bytes']) != ('COM1', 5000):
                    failures.append('report: %r' % port)
            r = run_bl(exe, 'go', '--port', 'COM9')
            if r.returncode != 2:
                failures.append('COM9 is no port, yet the exit code was %d' % r.returncode)
        finally:
            sim.terminate()
            err = sim.communicate(timeout=30)[1]
        if sim.returncode != 0:
            failures.append('the device does not hold the image: ' + err)
    for f in failures:
        print('FAIL: ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
