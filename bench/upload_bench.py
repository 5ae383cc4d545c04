#!/usr/bin/env python3
"""Upload benchmark: a 32 KiB image at 38400 baud to the simulated bootloader,
which takes every byte at the line rate (10 bits per byte) and spends a fixed
time writing each page before it acknowledges it. The upload runs once with the
standard pacing and once with --fast; each time is printed beside the physical
limit: every frame byte and acknowledgement byte at 10 bits, plus the page
writes.

Usage: bench/upload_bench.py [--build build/native] [--page-write-ms 5] [--chip atmega168]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

BAUD = 38400
IMAGE_BYTES = 32768
BITS_PER_BYTE = 10
ACK_BYTES = 3
FAST_LIMIT_RATIO = 1.25
GEOMETRY = {'atmega168': 128, 'luminary': 128, 'atmega88': 64}  # data bytes per sector
FRAME_OVERHEAD = 5  # LF, length, 'W', sector number, CR


def physical_limit_s(sector_size, page_write_ms):
    sectors = -(-IMAGE_BYTES // sector_size)
    line_bytes = sectors * (sector_size + FRAME_OVERHEAD + ACK_BYTES)
    return line_bytes * BITS_PER_BYTE / BAUD + sectors * page_write_ms / 1000.0


def timed_upload(args, image, fast):
    """Captures, then times the upload alone. Returns seconds."""
    with tempfile.TemporaryDirectory() as work:
        out_image = os.path.join(work, 'device.bin')
        sim = subprocess.Popen(
            [args.sim, '--two-stage', '--chip', args.chip, '--pace',
             '--page-write-ms', str(args.page_write_ms), '--expect', image,
             '--image-out', out_image, '--time-limit', '600'],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            port = sim.stdout.readline().strip()
            common = ['--port', port, '--chip', args.chip, '--baud', str(BAUD)]
            subprocess.run([args.bl, 'capture', '--fast'] + common, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            cmd = [args.bl, 'upload', '--image', image] + common + (['--fast'] if fast else [])
            t0 = time.monotonic()
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            elapsed = time.monotonic() - t0
        finally:
            sim.terminate()
            err = sim.communicate(timeout=30)[1]
        if sim.returncode != 0:
            sys.exit('upload_bench: the device does not hold the image:\n' + err)
        return elapsed


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--build', default='build/native')
    p.add_argument('--page-write-ms', type=int, default=5)
    p.add_argument('--chip', choices=sorted(GEOMETRY), default='atmega168')
    args = p.parse_args()
    args.bl = os.path.join(args.build, 'cli', 'ulvar-bl')
    args.sim = os.path.join(args.build, 'sim', 'ulvar-sim')

    with tempfile.NamedTemporaryFile(suffix='.enc', delete=False) as f:
        f.write(bytes((i * 31 + 7 + (i >> 8)) % 256 for i in range(IMAGE_BYTES)))
        image = f.name
    try:
        limit = physical_limit_s(GEOMETRY[args.chip], args.page_write_ms)
        print('upload of %d bytes at %d baud, %s, page write %d ms'
              % (IMAGE_BYTES, BAUD, args.chip, args.page_write_ms))
        print('  physical limit       %7.2f s' % limit)
        results = {}
        for name, fast in (('standard pacing', False), ('--fast', True)):
            t = timed_upload(args, image, fast)
            results[name] = t
            print('  %-20s %7.2f s   %5.2f x the limit' % (name, t, t / limit))
    finally:
        os.unlink(image)
    ratio = results['--fast'] / limit
    if ratio > FAST_LIMIT_RATIO:
        print('upload_bench: --fast is %.2f x the limit, above %.2f' % (ratio, FAST_LIMIT_RATIO))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
