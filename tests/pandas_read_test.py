#!/usr/bin/env python3
"""pandas.read_csv of `paramlist --csv` over crafted and random files: every
real column float64 with the same 64 bits as the file, NaN and the infinities
where they were, Init as integers, Document as booleans, names and paths as
written (after a ' where a spreadsheet would take them for a formula, or
they begin with one). `--tsv` is read back by its escapes and must give the
same fields. A fleet whose reals are all whole numbers gives float64 too.

Usage: pandas_read_test.py PARAMLIST [RANDOM_FILES]
Exits 77 (skipped) where pandas is not installed.
"""
import csv
import io
import math
import os
import random
import struct
import subprocess
import sys
import tempfile

try:
    import pandas as pd
except ImportError:
    print("pandas is not installed (Debian: python3-pandas): skipped")
    sys.exit(77)

SIZE = 3950
TABLES = [("Init", 50, 0, 4), ("TerminalCondition", 50, 200, 8), ("Operations", 100, 600, 8),
          ("Names", 50, 1400, 50), ("Document", 50, 3900, 1)]
COLUMNS = ["file", "bytes"] + [f"{t}[{i}]" for t, n, _, _ in TABLES for i in range(n)]
REALS = [f"{t}[{i}]" for t, n, _, _ in TABLES[1:3] for i in range(n)]
NAMES = [f"Names[{i}]" for i in range(50)]


def decode(image):
    """The values a file's row must give, decoded here from the bytes alone."""
    image = image[:SIZE] + bytes(max(0, SIZE - len(image)))
    row = {}
    for table, count, offset, size in TABLES:
        for i in range(count):
            field = image[offset + size * i:offset + size * (i + 1)]
            key = f"{table}[{i}]"
            if table == "Init":
                row[key] = struct.unpack("<I", field)[0]
            elif size == 8:
                row[key] = struct.unpack("<d", field)[0]
            elif table == "Names":
                name = field.split(b"\0")[0]
                try:
                    text = name.decode("utf-8")
                except UnicodeDecodeError:
                    text = '{"hex":'
                # Text that starts as the hex form is written in it too.
                text = '{"hex":"' + name.hex() + '"}' if text.startswith('{"hex":') else text
                row[key] = "'" + text if text[:1] in ("=", "+", "-", "@", "\t", "\r", "'") else text
            else:
                row[key] = field[0] != 0
    return row


def put(image, table, i, data):
    offset, size = next((o, s) for t, _, o, s in TABLES if t == table)
    image[offset + size * i:offset + size * i + len(data)] = data


def real(bits):
    return struct.pack("<Q", bits)


def crafted():
    """Files whose every tricky value is named: quoting, non-finite reals,
    text that a reader would take for something else."""
    files = {}
    image = bytearray(SIZE)
    reals = [850.0, 851.5, 0.1, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, -1e-300,
             123456789.12345678, 1 / 3, 123456789012345683968.0, -2.0 ** 70]
    for i, value in enumerate(reals):
        put(image, "Operations", 10 + i, struct.pack("<d", value))
    for i, bits in enumerate([0x7ff8000000000000, 0x7ff4000000000000, 0xfff8000000000000, 0x7ff0000000000000,
                              0xfff0000000000000, 0x7ff0000000000001]):
        put(image, "TerminalCondition", i, real(bits))
    names = ["feed rate", "a,b", 'say "hi"', "two\nlines", "cr\rhere", "crlf\r\n", "tab\there", "back\\slash",
             "NaN", "NA", "null", "1", "true", " spaced ", "caf\u00e9 \u20ac", "#comment", "=1+1", "x" * 50,
             "-2", "@A1", "\tlead", "'quoted", '{"hex":"ff"}']
    for i, name in enumerate(names):
        put(image, "Names", i, name.encode("utf-8"))
    put(image, "Names", 40, b"bad \xff")
    put(image, "Names", 41, b"\xc0\xaf")
    put(image, "Init", 0, struct.pack("<I", 4294967295))
    put(image, "Init", 1, struct.pack("<I", 3))
    put(image, "Document", 0, b"\x01")
    put(image, "Document", 1, b"\x02")
    files["crafted.par"] = bytes(image)
    files["comma, quote\" and\nnewline.par"] = bytes(image)
    files["short.par"] = bytes(image[:1000])
    files["long.par"] = bytes(image) + b"past the image"
    files["empty.par"] = b""
    return files


def random_files(count):
    """Random files of two kinds: any bytes, and entries drawn from what is
    hard to write: any 64 bits, names of the characters CSV quotes."""
    rng = random.Random(20261208)
    alphabet = 'ab ,"\n\r\t\\\u00e9\u20ac\x1b=+-@{\''
    files = {}
    for k in range(count):
        if k % 2:
            files[f"random{k}.par"] = rng.randbytes(SIZE)
            continue
        image = bytearray(SIZE)
        for table, count_, _, _ in TABLES:
            for i in range(count_):
                if table == "Init":
                    put(image, table, i, struct.pack("<I", rng.getrandbits(32)))
                elif table == "Names":
                    text = "".join(rng.choice(alphabet) for _ in range(rng.randrange(12)))
                    put(image, table, i, text.encode("utf-8")[:50])
                elif table == "Document":
                    put(image, table, i, bytes([rng.choice([0, 1])]))
                elif rng.randrange(4):
                    put(image, table, i, real(rng.getrandbits(64)))
                else:
                    put(image, table, i, struct.pack("<d", rng.uniform(-1e6, 1e6)))
        files[f"drawn{k}.par"] = bytes(image)
    return files


def same_real(read, expected):
    if math.isnan(expected):
        return math.isnan(read)
    return struct.pack("<d", read) == struct.pack("<d", expected)


def check_frame(frame, paths, expected, exact):
    problems = []
    if list(frame.columns) != COLUMNS:
        return ["the columns are not file, bytes and the 300 entries"]
    for column in REALS:
        if frame[column].dtype != "float64":
            problems.append(f"{column} is {frame[column].dtype}, not float64")
    for column in ["bytes"] + [f"Init[{i}]" for i in range(50)]:
        if frame[column].dtype != "int64":
            problems.append(f"{column} is {frame[column].dtype}, not int64")
    for column in [f"Document[{i}]" for i in range(50)]:
        if frame[column].dtype != "bool":
            problems.append(f"{column} is {frame[column].dtype}, not bool")
    if problems:
        return problems
    for row, path in enumerate(paths):
        values = expected[path]
        for column in COLUMNS[2:]:
            if column in NAMES and not exact:
                continue
            read = frame.at[row, column]
            want = values[column]
            if column in REALS:
                ok = same_real(read, want) if exact or not math.isfinite(want) else math.isfinite(read)
            else:
                ok = read == want
            if not ok:
                problems.append(f"{path}: {column}: read {read!r}, wrote {want!r}")
        if exact and frame.at[row, "file"] != path:
            problems.append(f"file: read {frame.at[row, 'file']!r}, wrote {path!r}")
    return problems


def unescape_tsv(field):
    out, i = [], 0
    while i < len(field):
        if field[i] == "\\" and i + 1 < len(field):
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}[field[i + 1]])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


def main():
    paramlist = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    files = crafted()
    files.update(random_files(count))
    problems = []
    with tempfile.TemporaryDirectory() as work:
        paths, expected = [], {}
        for name, data in files.items():
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
            expected[path] = decode(data)
        run = subprocess.run([paramlist, "--csv", "--force", "--"] + paths, capture_output=True, check=False)
        if run.returncode != 0:
            problems.append(f"--csv exited {run.returncode}: {run.stderr.decode(errors='replace')}")
        text = run.stdout
        if text.startswith(b"\xef\xbb\xbf") or text.split(b"\n", 1)[0].endswith(b"\r"):
            problems.append("the CSV starts with a byte-order mark or ends its lines with CR LF")
        # The way to read every value as written: names and paths as text
        # whatever they spell, and each real to the nearest double.
        frame = pd.read_csv(io.BytesIO(text), dtype={c: str for c in ["file"] + NAMES}, keep_default_na=False,
                            na_values={c: ["NaN"] for c in REALS}, float_precision="round_trip")
        problems += check_frame(frame, paths, expected, exact=True)
        # The plain call: the same types, NaN and the infinities in their places.
        plain = pd.read_csv(io.BytesIO(text))
        problems += ["read_csv without options: " + p for p in check_frame(plain, paths, expected, exact=False)]

        tsv = subprocess.run([paramlist, "--tsv", "--force", "--"] + paths, capture_output=True, check=False).stdout
        from_csv = list(csv.reader(io.StringIO(text.decode("utf-8"), newline="")))
        # TSV escapes tab and CR, so that there they need no ' before them.
        from_csv = [[f[1:] if f[:2] in ("'\t", "'\r") else f for f in line] for line in from_csv]
        from_tsv = [[unescape_tsv(f) for f in line.split("\t")] for line in tsv.decode("utf-8").split("\n")[:-1]]
        if from_tsv != from_csv:
            problems.append("--tsv read back by its escapes differs from --csv")

        # Whole numbers alone, as many a fleet's reals are.
        rng = random.Random(25)
        wholes = [0.0, 0.0, 850.0, -2.0, 2.0 ** 53, 123456789012345683968.0]
        paths = [os.path.join(work, f"whole{k}.par") for k in range(25)]
        for path in paths:
            reals = b"".join(struct.pack("<d", rng.choice(wholes)) for _ in range(150))
            with open(path, "wb") as f:
                f.write(bytes(200) + reals + bytes(SIZE - 1400))
        run = subprocess.run([paramlist, "--csv", "--"] + paths, capture_output=True, check=False)
        whole = pd.read_csv(io.BytesIO(run.stdout))
        problems += [f"whole reals: {c} is {whole[c].dtype}" for c in REALS if whole[c].dtype != "float64"]
    for problem in problems[:40]:
        print(problem)
    print(f"{len(files)} files, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
