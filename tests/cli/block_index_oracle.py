#!/usr/bin/env python3
"""Independent check of the block indexes of an application directory.

Reads the block files, the day files, base/Power.pwr and base/gbbg.dat itself and
recomputes every industry index: per calendar day (the day bars of SH 000001) the
sum over members of forward-adjusted price x total capital in force with the
member's newest bar on or before that day, divided by the sum of that capital;
volume and amount summed. Compares with data/$$/day/<code>.day.
usage: block_index_oracle.py APPDIR  (exit 0 when every index agrees)
"""
import glob
import os
import struct
import sys

app = sys.argv[1]
f32 = lambda x: struct.unpack("<f", struct.pack("<f", x))[0]
MARKETS = {0x4853: "sh", 0x5A53: "sz", 0x2424: "$$"}


def store_day(t):
    return t // 86400


def read_day_file(market, code):
    path = os.path.join(app, "data", market, "day", code + ".day")
    if not os.path.exists(path):
        return []
    data = open(path, "rb").read()
    return [struct.unpack_from("<I6f2H", data, i * 32) for i in range(len(data) // 32)]


def key(market, code):
    return (market, code.upper())


def cstr(b):
    return b.split(b"\0", 1)[0]


# Ex-rights events: groups of (0xFFFFFFFF, 12-byte id, 0) then 20-byte records.
power = {}
data = open(os.path.join(app, "base", "Power.pwr"), "rb").read()
pos, current = 8, None
while pos + 4 <= len(data):
    if struct.unpack_from("<I", data, pos)[0] == 0xFFFFFFFF:
        market = struct.unpack_from("<H", data, pos + 4)[0]
        current = key(market, cstr(data[pos + 6:pos + 16]).decode())
        power.setdefault(current, [])
        pos += 20
    else:
        power[current].append(struct.unpack_from("<I4f", data, pos))
        pos += 20

# Capital changes: 16-byte header, then per security 12 bytes and 28-byte changes.
capital = {}
data = open(os.path.join(app, "base", "gbbg.dat"), "rb").read()
assert data[:4] == b"GBBG"
count = struct.unpack_from("<I", data, 4)[0]
pos = 16
for _ in range(count):
    _, n, market = struct.unpack_from("<3H", data, pos)
    code = cstr(data[pos + 6:pos + 12]).decode()
    pos += 12
    changes = []
    for _ in range(n):
        y, m, d = struct.unpack_from("<HBB", data, pos)
        total, circ = struct.unpack_from("<2f", data, pos + 8)
        import datetime
        day = (datetime.date(y, m, d) - datetime.date(1899, 12, 30)).days
        changes.append((day, f32(circ * 100), f32(total * 100)))
        pos += 28
    capital[key(market, code)] = sorted(changes)


def unix_to_store_day(u):
    return (u + 28800) // 86400 + 25569


def adjusted(bars, events):
    """Forward adjustment: each bar before an event p' = (p - div + r * rp) / (1 + b + r)."""
    out = [list(b) for b in bars]
    for ex, bonus, rights, rprice, div in sorted(events):
        factor = 1 + bonus + rights
        if factor <= 0:
            continue
        day = unix_to_store_day(ex)
        for b in out:
            if store_day(b[0]) < day:
                for i in range(1, 5):
                    if b[i] != 0:
                        b[i] = (b[i] - div + rights * rprice) / factor
    return out


def capital_at(changes, day):
    circ = total = 0.0
    for d, c, t in changes:
        if d <= day:
            circ, total = c, t
    return circ, total


calendar = [b[0] for b in read_day_file("sh", "000001")]
checked = failures = 0
for path in sorted(glob.glob(os.path.join(app, "block", "*.blk"))):
    blk = open(path, "rb").read()
    if len(blk) < 114 or struct.unpack_from("<I", blk, 0)[0] != 0x424C4B01:
        continue
    index = cstr(blk[40:50]).decode()
    if not index:
        continue
    members = []
    for i in range((len(blk) - 114) // 12):
        market = struct.unpack_from("<H", blk, 114 + 12 * i)[0]
        code = cstr(blk[116 + 12 * i:126 + 12 * i]).decode()
        if market in MARKETS and code and key(market, code) not in members:
            members.append(key(market, code))
    sums = [[0.0] * 7 for _ in calendar]
    for m in members:
        bars = adjusted(read_day_file(MARKETS[m[0]], m[1]), power.get(m, []))
        changes = capital.get(m, [])
        j, cur = 0, None
        for d, t in enumerate(calendar):
            while j < len(bars) and store_day(bars[j][0]) < store_day(t):
                j += 1
            if j < len(bars) and store_day(bars[j][0]) == store_day(t):
                cur = bars[j]
                j += 1
            if cur is None:
                continue
            w = capital_at(changes, store_day(cur[0]))[1]
            for i in range(4):
                sums[d][i] += cur[1 + i] * w
            sums[d][4] += cur[5]
            sums[d][5] += cur[6]
            sums[d][6] += w
    got = read_day_file("$$", index)
    if len(got) != len(calendar):
        print(f"{index}: {len(got)} bars, expected {len(calendar)}")
        failures += 1
        continue
    for d, t in enumerate(calendar):
        s = sums[d]
        want = [s[i] / s[6] if s[6] > 0 else 0.0 for i in range(4)] + [s[4], s[5]]
        have = list(got[d][1:7])
        if got[d][0] != t or any(abs(a - b) > 1e-4 * max(1.0, abs(b)) for a, b in zip(have, want)):
            print(f"{index} day {d}: got {got[d][0]} {have}, expected {t} {want}")
            failures += 1
            break
    checked += 1
print(f"checked {checked} indexes, {failures} differ")
sys.exit(1 if failures or checked == 0 else 0)
