#!/usr/bin/env bash
# The summary's page in a real browser: headless Chromium renders the page of
# a crafted fleet, and its DOM must hold the heat map's rows, columns and
# marked cells, with a hostile name as text and no script; its screenshot
# must not be blank; and the page of 10,000 random files must be at most
# 5 MB and open in under 10 seconds, start-up included. Skipped (77) where
# Chromium or python3 is missing.
# Usage: summary_browser_test.sh PARAMLIST [CHROMIUM]
set -euo pipefail
paramlist=$1
chromium=${2:-$(command -v chromium || true)}
[ -n "$chromium" ] && command -v python3 >/dev/null || { echo "chromium or python3 not found: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

browse() {
    "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --user-data-dir="$(mktemp -d -p "$work")" "$@" 2>/dev/null
}

# The fleet: 6 files in two directories. Operations[10] differs in three of
# them (two alike), Operations[3] is a NaN in one, and Names[4] holds a
# script in one.
sample=$(dirname "$0")/../examples/sample.par
mkdir -p "$work/fleet/east" "$work/fleet/west"
for f in east/1 east/2 east/3 east/4 west/5 west/6; do cp "$sample" "$work/fleet/$f.par"; done
"$paramlist" --set 'Operations[10]=851.5' "$work/fleet/east/2.par"
"$paramlist" --set 'Operations[10]=852' "$work/fleet/west/5.par" "$work/fleet/west/6.par"
"$paramlist" --set 'Operations[3]=NaN' "$work/fleet/east/1.par"
"$paramlist" --set 'Names[4]=<script>alert(1)</script>' "$work/fleet/east/3.par"
"$paramlist" --summary --html "$work"/fleet/*/*.par >"$work/page.html"

browse --dump-dom "file://$work/page.html" >"$work/dom.html" || fail "chromium --dump-dom failed"
python3 - "$work/dom.html" <<'PY' || failures=$((failures + 1))
import html.parser, sys

class Map(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.in_map, self.section, self.columns, self.rows, self.groups = False, None, 0, 0, 0
        self.cells, self.scripts, self.text = {}, 0, []
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.scripts += tag == 'script'
        self.in_map = self.in_map or (tag == 'table' and attrs.get('id') == 'map')
        if not self.in_map:
            return
        if tag in ('thead', 'tbody'):
            self.section = tag
        elif tag == 'th' and self.section == 'thead' and attrs.get('title'):
            self.columns += 1
        elif tag == 'tr' and self.section == 'tbody':
            self.groups += attrs.get('class') == 'g'
            self.rows += attrs.get('class') != 'g'
        elif tag == 'td' and attrs.get('class'):
            self.cells.setdefault(attrs['class'], []).append(attrs.get('title', ''))
    def handle_endtag(self, tag):
        self.in_map = self.in_map and tag != 'table'
    def handle_data(self, data):
        self.text.append(data)

page = Map()
page.feed(open(sys.argv[1], encoding='utf-8').read())
text = ''.join(page.text)
problems = []
expect = lambda what, got, wanted: problems.append(f'{what}: {got}, not {wanted}') if got != wanted else None
expect('columns', page.columns, 3)
expect('file rows', page.rows, 6)
expect('directory rows', page.groups, 2)
expect('classes of the marked cells', sorted((k, len(v)) for k, v in page.cells.items()),
       [('nan', 1), ('v1', 3), ('v2', 1)])
expect('scripts', page.scripts, 0)
if not any('east/1.par\nOperations[3] = "NaN"' in title for title in page.cells.get('nan', [])):
    problems.append(f'the NaN cell has no title naming its file, entry and value: {page.cells.get("nan")}')
if '"<script>alert(1)</script>"' not in text:
    problems.append('the hostile name is not shown as text')
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY

browse --window-size=800,600 --screenshot="$work/page.png" "file://$work/page.html" >/dev/null || fail "no screenshot"
python3 - "$work/page.png" <<'PY' || failures=$((failures + 1))
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
at, chunks, header = 8, b'', None
while at < len(data):
    length, kind = struct.unpack('>I4s', data[at:at + 8])
    body = data[at + 8:at + 8 + length]
    if kind == b'IHDR':
        header = struct.unpack('>IIBBBBB', body)
    elif kind == b'IDAT':
        chunks += body
    at += 12 + length
width, height, depth, colour = header[:4]
size = {2: 3, 6: 4}[colour] * depth // 8
raw, rows, previous = zlib.decompress(chunks), [], bytearray(width * size)
stride = width * size
for y in range(height):
    kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for x in range(stride):
        a = line[x - size] if x >= size else 0
        b = previous[x]
        c = previous[x - size] if x >= size else 0
        p = a + b - c
        paeth = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
        line[x] = (line[x] + [0, a, b, (a + b) // 2, paeth][kind]) & 0xff
    rows.append(bytes(line))
    previous = line
colours = {row[x:x + size] for row in rows for x in range(0, stride, size)}
print(f'screenshot: {width}x{height}, {len(colours)} colours')
sys.exit(0 if len(colours) > 8 else 1)
PY

# 10,000 random files: every entry varies, every value distinct.
python3 - "$work/random" <<'PY'
import os, random, sys
random.seed(11)
os.makedirs(sys.argv[1])
for i in range(10000):
    with open(f'{sys.argv[1]}/{i:05d}.par', 'wb') as f:
        f.write(random.randbytes(3950))
PY
find "$work/random" -name '*.par' -print0 | "$paramlist" --summary --html --files0-from=- >"$work/random.html"
bytes=$(wc -c <"$work/random.html")
[ "$bytes" -le $((5 * 1024 * 1024)) ] || fail "the page of 10,000 random files is $bytes bytes, over 5 MB"
start=$EPOCHREALTIME
browse --dump-dom "file://$work/random.html" >"$work/random-dom.html" || fail "chromium --dump-dom failed"
seconds=$(echo "$start $EPOCHREALTIME" | awk '{ printf "%.2f", $2 - $1 }')
echo "page of 10,000 random files: $bytes bytes, chromium --dump-dom in $seconds s"
awk -v s="$seconds" 'BEGIN { exit !(s < 10) }' || fail "chromium took $seconds s, not under 10"
grep -q '300 of 300 entries vary across 10000 files' "$work/random-dom.html" || fail "the random page is not whole"
exit $((failures > 0))
