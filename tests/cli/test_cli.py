"""End-to-end tests of ulvar-bl against the simulated bootloader."""
import fcntl
import json
import os
import signal
import termios
import time
import unittest

from cli_fixture import CliTest, sample_image

OK, BAD_INPUT, PORT, CAPTURE, UPLOAD, GO, INTERRUPTED = 0, 2, 3, 4, 5, 6, 130


class CaptureTest(CliTest):
    def test_both_capture_dialogues(self):
        # (sim options, ulvar-bl options, characters the device must have seen)
        cases = [
            ([], ['--blver', '1.00'], {'A'}),
            (['--two-stage'], ['--blver', '1.01'], {'Q', 'Z'}),
            (['--two-stage', '--chip', 'luminary'], ['--chip', 'luminary', '--blver', '1.00'],
             {'Q', 'Z'}),
        ]
        for sim_args, bl_args, chars in cases:
            with self.subTest(bl_args=bl_args):
                sim = self.sim(*sim_args)
                r = self.bl('capture', '--port', sim.path, '--fast', *bl_args)
                self.assertExit(r, OK)
                self.assertIn('captured', r.stdout)
                sim.stop()
                self.assertTrue(sim.summary['captured'])
                self.assertEqual({e['char'] for e in sim.events('capture')}, chars)

    def test_verbose_prints_debug_lines_oldest_first(self):
        sim = self.sim()
        r = self.bl('--verbose', 'capture', '--blver', '1.00', '--port', sim.path, '--fast')
        self.assertExit(r, OK)
        lines = r.stderr.splitlines()
        start = lines.index('Capture the Loader')
        answer = next(i for i, line in enumerate(lines) if line.startswith('len = '))
        self.assertEqual(lines[start:start + 3], ['Capture the Loader', 'E2', 'A'])
        # On a loaded machine an answer may miss its cycle: more 'A' lines
        # then, and the late answer shown together with the next one.
        self.assertEqual(set(lines[start + 2:answer]), {'A'})
        tokens = int(lines[answer][len('len = '):]) // 3
        # The hex dump keeps the space after each byte.
        self.assertEqual(lines[answer + 1], '0A 3A 0D ' * tokens)

    def test_device_booting_answers_after_some_tries(self):
        sim = self.sim('--capture-after', '7')
        r = self.bl('capture', '--blver', '1.00', '--port', sim.path, '--fast')
        self.assertExit(r, OK)
        sim.stop()
        self.assertTrue(sim.summary['captured'])
        # The first seven are ignored; a loaded machine may send a few more.
        self.assertGreaterEqual(sim.summary['capture_chars'], 8)


class ResetTest(CliTest):
    def test_reset_then_capture_reaches_the_addressed_device(self):
        sim = self.sim('--app-running', '--serial', '2424242')
        r = self.bl('capture', '--reset', '--dest', '2424242', '--blver', '1.00',
                    '--port', sim.path, '--fast')
        self.assertExit(r, OK)
        sim.stop()
        self.assertEqual(sim.summary['resets']['good'], 1)
        self.assertTrue(sim.summary['captured'])

    def test_reset_at_56000_then_capture_at_38400(self):
        sim = self.sim('--app-running', '--serial', '8012345', '--two-stage')
        r = self.bl('capture', '--reset-baud', '56000', '--dest', '8012345', '--baud', '9600',
                    '--port', sim.path, '--fast')
        self.assertExit(r, OK)
        sim.stop()
        [reset] = sim.events('reset')
        self.assertEqual((reset['baud'], reset['accepted']), (56000, True))
        self.assertEqual({e['baud'] for e in sim.events('capture')}, {38400})

    def test_destination_of_wrong_length_goes_to_0000000_with_a_warning(self):
        sim = self.sim('--app-running', '--serial', '0000000')
        r = self.bl('capture', '--reset', '--dest', '123456', '--blver', '1.00',
                    '--port', sim.path, '--fast')
        self.assertExit(r, OK)
        self.assertIn("warning: --dest '123456' is not 7 characters", r.stderr)
        sim.stop()
        self.assertEqual(sim.events('reset')[0]['serial'], '0000000')

    def test_reset_to_another_serial_ends_in_capture_timeout(self):
        sim = self.sim('--app-running', '--serial', '2424242')
        r = self.bl('capture', '--reset', '--dest', '1111111', '--blver', '1.00',
                    '--port', sim.path, '--fast')
        self.assertExit(r, CAPTURE)
        self.assertIn('no answer from the bootloader at 38400 baud after 1000 tries', r.stderr)


class UploadTest(CliTest):
    def test_capture_upload_go_as_separate_commands(self):
        # 64-byte sectors and a short last sector.
        image = self.image(1000)
        sim = self.sim('--chip', 'atmega88', '--expect-go', expect=image)
        common = ['--chip', 'atmega88', '--blver', '1.00', '--port', sim.path, '--fast']
        self.assertExit(self.bl('capture', *common), OK)
        r = self.bl('upload', '--image', image, *common)
        self.assertExit(r, OK)
        self.assertIn('16 sectors, 1000 bytes', r.stdout)
        self.assertExit(self.bl('go', *common), OK)
        sim.stop()
        self.assertEqual(sim.returncode, 0, sim.stderr)
        self.assertEqual(sim.image, sample_image(1000))

    def test_flash_with_the_standard_pacing(self):
        image = self.image(1024)
        sim = self.sim('--two-stage', '--pace', '--expect-go', expect=image)
        r = self.bl('flash', '--port', sim.path, '--image', image)
        self.assertExit(r, OK)
        sim.stop()
        self.assertEqual(sim.returncode, 0, sim.stderr)
        # The plain progress lines of a non-terminal.
        self.assertIn('upload: sector 8/8  1024/1024 bytes', r.stderr)

    def test_full_256_sector_image(self):
        image = self.image(32768)
        sim = self.sim('--two-stage', '--chip', 'luminary', '--expect-go', expect=image)
        r = self.bl('flash', '--chip', 'luminary', '--port', sim.path, '--image', image, '--fast')
        self.assertExit(r, OK)
        sim.stop()
        self.assertEqual(sim.returncode, 0, sim.stderr)


class FaultTest(CliTest):
    def flash(self, *sim_args, size=2048):
        image = self.image(size)
        sim = self.sim('--two-stage', *sim_args, expect=image)
        r = self.bl('flash', '--port', sim.path, '--image', image, '--fast')
        return sim, r

    def test_faults_that_the_retries_absorb(self):
        for fault in ['sector=2:no-answer*4', 'sector=3:garbage*4', 'sector=1:partial',
                      'sector=4:split=3', 'sector=5:late=40', 'capture=1:garbage',
                      'go:late=30']:
            with self.subTest(fault=fault):
                sim, r = self.flash('--fault', fault)
                self.assertExit(r, OK)
                sim.stop()
                self.assertEqual(sim.returncode, 0, sim.stderr)

    def test_faults_that_end_with_an_error(self):
        cases = [
            ('sector=3:no-answer*5', UPLOAD, 'sector 3 not acknowledged after 5 tries'),
            ('sector=2:garbage*5', UPLOAD, 'sector 2 not acknowledged after 5 tries'),
            ('sector=1:flood=120', UPLOAD, 'the answer to sector 1 was longer than 50 bytes'),
            ('sector=4:vanish', UPLOAD, 'sector 4 not acknowledged after 5 tries'),
            ('go:no-answer', GO, 'no answer to the go frame'),
            ('capture=1:flood=60', CAPTURE, 'the answer to the capture was longer than 50 bytes'),
        ]
        for fault, code, message in cases:
            with self.subTest(fault=fault):
                sim, r = self.flash('--fault', fault)
                self.assertExit(r, code)
                self.assertIn(message, r.stderr)
                self.assertNotIn('done', r.stdout)

    def test_capture_timeout(self):
        # A one-stage bootloader never answers 'Q'.
        sim = self.sim()
        r = self.bl('capture', '--port', sim.path, '--fast', '--blver', '1.01')
        self.assertExit(r, CAPTURE)
        self.assertIn('no answer from the bootloader at 38400 baud after 1000 tries', r.stderr)

    def test_missing_port(self):
        r = self.bl('go', '--port', os.path.join(self.dir, 'no-such-tty'))
        self.assertExit(r, PORT)
        self.assertIn('no-such-tty: no such port', r.stderr)

    def test_busy_port(self):
        sim = self.sim()
        fd = os.open(sim.path, os.O_RDWR | os.O_NOCTTY)
        try:
            # As another program holding the port would: exclusive mode and the lock.
            fcntl.ioctl(fd, termios.TIOCEXCL)
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            r = self.bl('capture', '--port', sim.path, '--fast')
        finally:
            os.close(fd)
        self.assertExit(r, PORT)
        self.assertIn(sim.path + ': port busy', r.stderr)

    def test_image_changed_between_sectors_is_not_mixed(self):
        image = self.image(4096)
        sim = self.sim('--two-stage', '--page-write-ms', '20')
        self.assertExit(self.bl('capture', '--port', sim.path, '--fast'), OK)
        proc = self.bl_started('upload', '--port', sim.path, '--image', image, '--fast')
        time.sleep(0.3)  # about 10 of the 32 sectors
        with open(image, 'ab') as f:
            f.write(b'more')
        err = proc.communicate(timeout=60)[1]
        self.assertEqual(proc.returncode, UPLOAD, err)
        self.assertIn('image changed during the upload', err)

    def test_interrupt_closes_the_port_and_still_reports(self):
        image = self.image(4096)
        sim = self.sim('--two-stage')
        self.assertExit(self.bl('capture', '--port', sim.path, '--fast'), OK)
        report_path = os.path.join(self.dir, 'run.json')
        # The standard pacing takes about 0.1 s a sector: 32 sectors outlast the signal.
        proc = self.bl_started('upload', '--port', sim.path, '--image', image,
                               '--json', report_path)
        time.sleep(1.0)
        proc.send_signal(signal.SIGINT)
        err = proc.communicate(timeout=30)[1]
        self.assertEqual(proc.returncode, INTERRUPTED, err)
        self.assertIn('interrupted during upload', err)
        with open(report_path) as f:
            self.assertEqual(json.load(f)['exit_code'], INTERRUPTED)
        sim.stop()
        self.assertEqual(sim.summary['host_opens'], sim.summary['host_closes'])
        self.assertLess(sim.summary['sectors_received'], 32)


class InputTest(CliTest):
    def test_bad_input(self):
        big = self.image(256 * 64 + 1, name='big.enc')
        empty = self.image(0, name='empty.enc')
        cases = [
            (['flash', '--port', 'p', '--image', big, '--chip', 'atmega88'],
             'image has more than 256 sectors'),
            (['flash', '--port', 'p', '--image', empty], 'the image is empty'),
            (['flash', '--port', 'p', '--image', os.path.join(self.dir, 'none.enc')],
             'cannot open the image'),
            (['upload', '--port', 'p'], 'upload needs --image FILE'),
            (['capture', '--port', 'p', '--baud', '57600'], '--baud'),
            (['capture', '--port', 'p', '--chip', 'atmega328'], '--chip'),
            (['capture', '--port', 'p', '--reset-baud', '57600'], '--reset-baud'),
            (['go', '--port', 'p', '--reset'], '--reset and --reset-baud belong to capture'),
            (['capture', '--port', 'p', '--port', 'p'], 'p is given twice'),
            (['--port', 'p'], 'subcommand'),
            (['erase', '--port', 'p'], 'subcommand'),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.bl(*args)
                self.assertExit(r, BAD_INPUT)
                self.assertIn(message, r.stderr)

    def test_help_names_the_exit_codes(self):
        r = self.bl('--help')
        self.assertExit(r, OK)
        for line in ['flash', '--fast', '3  port error', '6  go failed']:
            self.assertIn(line, r.stdout)


class ParallelTest(CliTest):
    def test_two_ports_in_parallel(self):
        image = self.image(3000)
        a = self.sim('--two-stage', '--expect-go', expect=image)
        b = self.sim('--two-stage', '--expect-go', '--pace', expect=image)
        r = self.bl('flash', '--port', a.path, '--port', b.path, '--image', image, '--fast')
        self.assertExit(r, OK)
        done = [line for line in r.stdout.splitlines() if 'flash done' in line]
        self.assertEqual(len(done), 2)
        for sim in (a, b):
            sim.stop()
            self.assertEqual(sim.returncode, 0, sim.stderr)

    def test_one_failing_port_fails_the_run_but_not_the_other(self):
        image = self.image(3000)
        good = self.sim('--two-stage', '--expect-go', expect=image)
        bad = self.sim('--two-stage', '--fault', 'sector=1:no-answer*5')
        r = self.bl('flash', '--port', good.path, '--port', bad.path, '--image', image, '--fast')
        self.assertExit(r, UPLOAD)
        self.assertIn(good.path + ': flash done', r.stdout)
        self.assertIn(bad.path + ': sector 1 not acknowledged after 5 tries', r.stderr)
        good.stop()
        self.assertEqual(good.returncode, 0, good.stderr)


class ReportTest(CliTest):
    def test_json_report(self):
        image = self.image(1500)
        good = self.sim('--two-stage', expect=image)
        bad = self.sim('--two-stage', '--fault', 'go:no-answer')
        report_path = os.path.join(self.dir, 'run.json')
        r = self.bl('flash', '--port', good.path, '--port', bad.path, '--image', image, '--fast',
                    '--json', report_path)
        self.assertExit(r, GO)
        with open(report_path) as f:
            report = json.load(f)
        self.assertEqual((report['command'], report['exit_code'], report['image_bytes']),
                         ('flash', GO, 1500))
        ok, failed = report['ports']
        self.assertEqual((ok['port'], ok['ok'], ok['sectors'], ok['bytes'], ok['error']),
                         (good.path, True, 12, 1500, ''))
        self.assertEqual([op['outcome'] for op in ok['operations']],
                         ['captured', 'upload complete', 'go done'])
        self.assertEqual(ok['received'], 'len = 3\r\n0A 67 0D \r\n')  # the go's answer
        self.assertEqual((failed['ok'], failed['exit_code'], failed['operations'][-1]['outcome']),
                         (False, GO, 'go unanswered'))


if __name__ == '__main__':
    unittest.main()
