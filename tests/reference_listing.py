#!/usr/bin/env python3
"""Compares the program's listing with an independent reference on random and
crafted parameter files: whole, short, oversize, NaN, infinities, -0.0,
denormals, rounding ties and names without a zero byte.

Usage: reference_listing.py PARAMLIST [FILES [SEED]]
PARAMLIST may be a command with arguments, such as an emulator and a binary."""
import math, random, shlex, struct, subprocess, sys, tempfile


def real(x):
    return '%g' % x  # every NaN prints as nan, whatever its sign


def expected(path, data):
    full = bytearray(3950)
    full[:min(len(data), 3950)] = data[:3950]
    out = 'reading from file : %s\n\nparameters not shown are 0 \n\ninit parameters : ' % path
    out += ''.join('(%d:%d) ' % (i, v) for i in range(50) for v in [struct.unpack_from('<I', full, 4 * i)[0]] if v)
    out += '\n\noperations parameters : '
    total = 0.0
    for i in range(100):
        v = struct.unpack_from('<d', full, 600 + 8 * i)[0]
        if v != 0.0:
            out += '(%d:%s) ' % (i, real(v))
            total += v if i >= 10 else 0.0
    out += '\nsum operations parameters > 10 : %s\n\nterminal condition parameters : ' % real(total)
    out += ''.join('(%d:%s) ' % (i, real(v)) for i in range(50)
                   for v in [struct.unpack_from('<d', full, 200 + 8 * i)[0]] if v != 0.0)
    out += '\n\ndocument parameters : ' + ''.join('(%d:1) ' % i for i in range(50) if full[3900 + i])
    names = b''.join(b'(%d:' % i + bytes(full[1400 + 50 * i:1450 + 50 * i]).split(b'\0')[0] + b') '
                     for i in range(50))
    return out.encode() + b'\n\nnames parameters : \n' + names + b'\n\n'


SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, -math.nan, 5e-324, 2.2250738585072014e-308,
            1.7976931348623157e308, 100000.5, 1234565, 999999.5, 0.5, 1e-5, 0.0001, 9.9999950000000e-05]


def random_real(rng):
    return rng.choice([
        rng.choice(SPECIALS),
        rng.uniform(-1e7, 1e7),
        rng.uniform(-1, 1) * 10.0 ** rng.randint(-320, 307),
        round(rng.uniform(-1e6, 1e6), rng.randint(0, 3)),
        struct.unpack('<d', rng.getrandbits(64).to_bytes(8, 'little'))[0],
    ])


def crafted(rng):
    data = bytearray(3950)
    for i in range(50):
        if rng.random() < 0.3:
            struct.pack_into('<I', data, 4 * i, rng.getrandbits(32))
        data[3900 + i] = rng.choice([0, 0, 1, 2, 255])
        length = rng.randint(0, 50)
        data[1400 + 50 * i:1400 + 50 * i + length] = bytes(rng.randint(1, 255) for _ in range(length))
    for i in range(150):
        if rng.random() < 0.5:
            struct.pack_into('<d', data, 200 + 8 * i, random_real(rng))
    return data


def main():
    command = shlex.split(sys.argv[1])
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for n in range(files):
            kind = n % 4
            if kind == 0:
                size = rng.choice([3950, 4100, rng.randrange(3950)])
                data = bytes(rng.getrandbits(8) for _ in range(size))
            else:
                data = crafted(rng)
                data = data[:rng.randrange(3950)] if kind == 3 else data
            path = '%s/f%d.par' % (folder, n)
            with open(path, 'wb') as f:
                f.write(data)
            got = subprocess.run(command + [path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False).stdout
            if got != expected(path, data):
                failures += 1
                if failures <= 3:
                    print('listing differs for file %d of %d bytes' % (n, len(data)))
    print('%d passed, %d failed' % (files - failures, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
