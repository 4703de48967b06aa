#!/usr/bin/env bash
# The summary's page in a real browser: headless Chromium renders the page of
# a crafted fleet, and its DOM must hold the heat map's rows, columns (one
# headed by its schema's name) and marked cells (a NaN, values outside the
# schema's limits), with a hostile name as text and no script; its
# screenshot must not be blank; and the pages of 10,000 random files, in one
# directory and in 3,000 of hostile names, must be at most 5 MB and open in
# under 10 seconds, start-up included. Skipped (77) where Chromium or python3
# is missing.
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

# The fleet: 6 files in two directories, under a schema that allows
# Operations[10] up to 851.75. Operations[10] differs in three of them (two
# alike, above the limit), Operations[3] is a NaN in one, and Names[4] holds
# a script in one.
sample=$(dirname "$0")/../examples/sample.par
mkdir -p "$work/fleet/east" "$work/fleet/west"
printf '[[entry]]\nat = "Operations[10]"\nname = "feed_rate"\nunit = "mm/min"\nmax = 851.75\n' \
    >"$work/fleet/paramlist.toml"
for f in east/1 east/2 east/3 east/4 west/5 west/6; do cp "$sample" "$work/fleet/$f.par"; done
"$paramlist" --set 'Operations[10]=851.5' "$work/fleet/east/2.par"
"$paramlist" --set 'Operations[10]=852' --force "$work/fleet/west/5.par" "$work/fleet/west/6.par"
"$paramlist" --set 'Operations[3]=NaN' "$work/fleet/east/1.par"
"$paramlist" --set 'Names[4]=<script>alert(1)</script>' "$work/fleet/east/3.par"
"$paramlist" --summary --html "$work"/fleet/*/*.par >"$work/page.html"

browse --dump-dom "file://$work/page.html" >"$work/dom.html" || fail "chromium --dump-dom failed"
python3 - "$work/dom.html" <<'PY' || failures=$((failures + 1))
import html.parser, sys

class Map(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.in_map, self.section, self.columns, self.rows, self.groups = False, None, [], 0, 0
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
            self.columns.append(attrs['title'])
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
expect('columns', page.columns, ['Operations[3]', 'Operations[10] feed_rate [mm/min]', 'Names[4]'])
expect('file rows', page.rows, 6)
expect('directory rows', page.groups, 2)
expect('classes of the marked cells', sorted((k, len(v)) for k, v in page.cells.items()),
       [('nan', 1), ('out', 2), ('v1', 1), ('v2', 1)])
expect('scripts', page.scripts, 0)
if not any('east/1.par\nOperations[3] = "NaN"' in title for title in page.cells.get('nan', [])):
    problems.append(f'the NaN cell has no title naming its file, entry and value: {page.cells.get("nan")}')
if sorted(t.split('\n')[0].rsplit('/', 1)[-1] for t in page.cells.get('out', [])) != ['5.par', '6.par']:
    problems.append(f'the cells outside the limits are not those of 852: {page.cells.get("out")}')
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

# 10,000 random files, every entry varying, every value distinct: in one
# directory, and in 3,000 whose names, as those of the files, are markup,
# quotes, control characters and bytes that are no UTF-8.
python3 - "$work" <<'PY'
import os, random, sys
random.seed(11)
names = [b'<script>alert(1)</script>', b'"><img src=x onerror=alert(2)>', b"'&amp;\"<>", b'\x1b[31mred\x07',
         b'caf\xc3\xa9', b'\xff\xfe<b>']
work = os.fsencode(sys.argv[1])
os.makedirs(work + b'/random')
for i in range(10000):
    with open(work + b'/random/%05d.par' % i, 'wb') as f:
        f.write(random.randbytes(3950))
    # A name's slash makes a directory more.
    path = work + b'/directories/%s%04d/%s%05d.par' % (names[i % 6], i % 3000, names[i // 7 % 6], i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(random.randbytes(3950))
PY
for fleet in random directories; do
    find "$work/$fleet" -name '*.par' -print0 | "$paramlist" --summary --html --files0-from=- >"$work/$fleet.html"
    bytes=$(wc -c <"$work/$fleet.html")
    [ "$bytes" -le $((5 * 1024 * 1024)) ] || fail "the page of 10,000 files ($fleet) is $bytes bytes, over 5 MB"
    start=$EPOCHREALTIME
    browse --dump-dom "file://$work/$fleet.html" >"$work/$fleet-dom.html" || fail "chromium --dump-dom failed"
    seconds=$(echo "$start $EPOCHREALTIME" | awk '{ printf "%.2f", $2 - $1 }')
    echo "page of 10,000 files ($fleet): $bytes bytes, chromium --dump-dom in $seconds s"
    awk -v s="$seconds" 'BEGIN { exit !(s < 10) }' || fail "chromium took $seconds s, not under 10"
    grep -q '300 of 300 entries vary across 10000 files' "$work/$fleet-dom.html" || fail "the $fleet page is not whole"
    ! grep -q -i '<script\|<img' "$work/$fleet-dom.html" || fail "the $fleet page holds markup from its paths"
done
exit $((failures > 0))
