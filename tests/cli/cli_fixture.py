"""Runs ulvar-bl against the simulated bootloader: a simulator on its own
pseudo-terminal per test, its report and uploaded image read back afterwards.

ULVAR_BL and ULVAR_SIM name the two programs.
"""
import json
import os
import signal
import subprocess
import tempfile
import unittest

BL = os.environ.get('ULVAR_BL', 'ulvar-bl')
SIM = os.environ.get('ULVAR_SIM', 'ulvar-sim')
RUN_TIMEOUT_S = 120


def sample_image(size, seed=1):
    """Deterministic bytes that include LF, CR and the capture characters."""
    return bytes((i * 31 + seed * 7 + (i >> 8)) % 256 for i in range(size))


class Sim:
    """One simulated device. Stop it to get its exit code, report and image."""

    def __init__(self, workdir, name, *args, expect=None):
        self.report_path = os.path.join(workdir, name + '.report.json')
        self.image_path = os.path.join(workdir, name + '.image.bin')
        cmd = [SIM, '--report', self.report_path, '--image-out', self.image_path,
               '--time-limit', str(RUN_TIMEOUT_S)] + list(args)
        if expect:
            cmd += ['--expect', expect]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        self.path = self.proc.stdout.readline().strip()
        if not self.path:
            raise RuntimeError('simulator did not start: ' + self.proc.stderr.read())
        self.report = None
        self.image = None
        self.returncode = None
        self.stderr = ''

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        self.stderr = self.proc.communicate(timeout=30)[1]
        self.returncode = self.proc.returncode
        with open(self.report_path) as f:
            self.report = json.load(f)
        with open(self.image_path, 'rb') as f:
            self.image = f.read()
        return self

    @property
    def summary(self):
        return self.report['summary']

    def events(self, kind):
        return [e for e in self.report['events'] if e['kind'] == kind]


class CliTest(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = self._dir.name
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            if sim.proc.poll() is None:
                sim.proc.kill()
                sim.proc.communicate()
        self._dir.cleanup()

    def sim(self, *args, expect=None):
        s = Sim(self.dir, 'sim%d' % len(self.sims), *args, expect=expect)
        self.sims.append(s)
        return s

    def image(self, size, name='image.enc', seed=1):
        path = os.path.join(self.dir, name)
        with open(path, 'wb') as f:
            f.write(sample_image(size, seed))
        return path

    def bl(self, *args):
        """Runs ulvar-bl; returns the completed process (text output)."""
        return subprocess.run([BL] + list(args), capture_output=True, text=True,
                              timeout=RUN_TIMEOUT_S)

    def bl_started(self, *args):
        """Starts ulvar-bl and returns the running process."""
        return subprocess.Popen([BL] + list(args), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    def assertExit(self, result, code):
        self.assertEqual(result.returncode, code,
                         'stdout:\n%s\nstderr:\n%s' % (result.stdout, result.stderr))
