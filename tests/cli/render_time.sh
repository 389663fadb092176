#!/bin/bash
# tessaro --render --period TIME: the time-sharing picture of a generated market's day as a
# PNG, its price line ending where the day's minutes end, and the --days checks.
# usage: bash render_time.sh /path/to/tessaro-cli (the desktop program tessaro stands beside it)
source "$(dirname "$0")/lib.bash"
gui="$(dirname "$cli")/tessaro"
if [ ! -x "$gui" ]; then
    echo "SKIP: no desktop program beside $cli (a build without Qt)"
    exit 0
fi
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
APP="$work/app"
"$cli" gen --out "$APP" --securities 12 --days 30 --now 14:00 --one-minute-days 3 >/dev/null || fail "gen"

# Pixels of one colour in a box of a PNG (8-bit RGB or RGBA, as Qt writes them).
count_colour() {
    python3 - "$@" <<'PY'
import struct, sys, zlib
path, colour, x0, y0, x1, y1 = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:7])
data = open(path, 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n'
pos, idat, w = 8, b'', 0
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    if kind == b'IHDR':
        w, h, depth, ctype = struct.unpack('>IIBB', body[:10])
        assert depth == 8 and ctype in (2, 6), (depth, ctype)
        bpp = 3 if ctype == 2 else 4
    elif kind == b'IDAT':
        idat += body
    pos += 12 + n
raw, stride, rows, prev = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp)
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    rows.append(line)
    prev = line
want = bytes.fromhex(colour)
print(sum(1 for y in range(y0, min(y1, h)) for x in range(x0, min(x1, w)) if bytes(rows[y][x * bpp:x * bpp + 3]) == want))
PY
}

# A one-day picture: the price line (趋势线, #ffffff) runs over the morning and stops at 14:00;
# so does the average line (第2条指标线, #ffff00).
out="$work/one.png"
"$gui" --appdir "$APP" --render SH600000 --period TIME --size 1000x560 --out "$out" 2>/dev/null || fail "render one day"
[ "$(head -c 8 "$out" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "not a PNG"
for colour in ffffff ffff00; do
    early=$(count_colour "$out" $colour 80 30 480 300)
    late=$(count_colour "$out" $colour 540 30 650 300)
    [ "${early:-0}" -gt 50 ] || fail "no $colour line before 14:00 ($early pixels)"
    [ "${late:-1}" -eq 0 ] || fail "the $colour line runs past the data ($late pixels)"
done

# Several days, and the bounds of --days.
"$gui" --appdir "$APP" --render SH600000 --period TIME --days 3 --size 800x500 --out "$work/three.png" 2>/dev/null \
    || fail "render three days"
[ -s "$work/three.png" ] || fail "no three-day picture"
for bad in 0 11 x; do
    err=$("$gui" --appdir "$APP" --render SH600000 --period TIME --days $bad --out "$work/bad.png" 2>&1)
    [ $? -eq 2 ] || fail "--days $bad accepted"
    grep -qF -- "--days is 1 to 10" <<<"$err" || fail "--days $bad: $err"
done
for bad in -1 5 x; do
    err=$("$gui" --appdir "$APP" --render SH600000 --period day --panel $bad --out "$work/bad.png" 2>&1)
    [ $? -eq 2 ] || fail "--panel $bad accepted"
    grep -qF -- "--panel is 0 to 4" <<<"$err" || fail "--panel $bad: $err"
done
[ ! -e "$work/bad.png" ] || fail "a refused request wrote a file"
# The information panel beside a K-line picture, on its block page.
"$gui" --appdir "$APP" --render SH600000 --period day --panel 4 --size 800x500 --out "$work/blocks.png" 2>/dev/null \
    || fail "render with the block page"
[ -s "$work/blocks.png" ] || fail "no picture with the block page"
err=$("$gui" --appdir "$APP" --render SH999999 --period TIME --out "$work/none.png" 2>&1)
[ $? -eq 1 ] || fail "unknown security accepted"
grep -qF "unknown security SH999999" <<<"$err" || fail "unknown security: $err"
finish render_time
