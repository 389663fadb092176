#!/usr/bin/env python3
"""Independent screening of CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10) over an application directory.

Reads the market files (data/sh|sz/stkinfo.dat: code table and today's quote), the day
files and base/Power.pwr itself. For every A share (class 2) of SH and SZ it builds the
forward-adjusted day series (history without today's bars, then today's quote as a bar
when its open, high, low and close are all non-zero) and evaluates the condition at the
last bar, or at any bar whose day lies in [FROM, TO].
Prints the hits as "SH600000" lines, sorted. Securities whose decision rests on a near
tie (float rounding could go either way) are printed as "? SH600000" and must be skipped
by the caller.
usage: screen_oracle.py APPDIR [FROM TO]   (dates YYYY-MM-DD)
"""
import datetime
import os
import struct
import sys

app = sys.argv[1]
window = None
if len(sys.argv) == 4:
    day = lambda s: (datetime.date.fromisoformat(s) - datetime.date(1899, 12, 30)).days
    window = (day(sys.argv[2]), day(sys.argv[3]))

f32 = lambda x: struct.unpack("<f", struct.pack("<f", x))[0]
RECORD, QUOTE_BAR = 7383, 54 + 12


def cstr(b):
    return b.split(b"\0", 1)[0]


def securities(market_dir, market_code):
    data = open(os.path.join(app, "data", market_dir, "stkinfo.dat"), "rb").read()
    count = struct.unpack_from("<i", data, 4)[0]
    out = []
    for i in range(count):
        base = 8 + i * RECORD
        market = struct.unpack_from("<H", data, base)[0]
        code = cstr(data[base + 2:base + 12]).decode()
        cls = struct.unpack_from("<H", data, base + 12)[0]
        today = struct.unpack_from("<I6f", data, base + QUOTE_BAR)
        if market == market_code and cls == 2:
            out.append((market_dir, code, today))
    return out


power = {}
data = open(os.path.join(app, "base", "Power.pwr"), "rb").read()
pos, current = 8, None
while pos + 20 <= len(data):
    if struct.unpack_from("<I", data, pos)[0] == 0xFFFFFFFF:
        market = struct.unpack_from("<H", data, pos + 4)[0]
        current = ({0x4853: "sh", 0x5A53: "sz"}.get(market, "?"), cstr(data[pos + 6:pos + 16]).decode())
        power.setdefault(current, [])
    elif current is not None:
        rec = struct.unpack_from("<I4f", data, pos)
        if any(abs(v) > 0.00001 for v in rec[1:]):
            power[current].append(rec)
    pos += 20


def unix_to_store_day(u):
    return (u + 28800) // 86400 + 25569


def series(market, code, today):
    path = os.path.join(app, "data", market, "day", code + ".day")
    raw = open(path, "rb").read() if os.path.exists(path) else b""
    bars = [list(struct.unpack_from("<I6f", raw, i * 32)) for i in range(len(raw) // 32)]
    newest = max([today[0]] + [b[0] for b in bars[-1:]]) // 86400
    if today[0]:
        bars = [b for b in bars if b[0] // 86400 != today[0] // 86400]
    if all(abs(v) > 0.00001 for v in today[1:5]):
        bars.append(list(today))
    for ex, bonus, rights, rprice, div in sorted(power.get((market, code), [])):
        exday = unix_to_store_day(ex)
        if exday > newest or 1 + bonus + rights == 0:
            continue
        for b in bars:
            if b[0] // 86400 < exday:
                for k in range(1, 5):
                    b[k] = f32((b[k] - div + rights * rprice) / (1 + bonus + rights))
    return bars


def ma(values, n, i):
    return sum(values[i - n + 1:i + 1]) / n if i >= n - 1 else None


def decide(bars, i):
    """(condition, near tie) at bar i."""
    c = [b[4] for b in bars]
    v = [b[5] for b in bars]
    if i < 20 or i < 10:
        return False, False
    a1, b1, a0, b0 = ma(c, 5, i - 1), ma(c, 20, i - 1), ma(c, 5, i), ma(c, 20, i)
    mv = ma(v, 10, i)
    eps = lambda x, y: abs(x - y) <= 1e-5 * max(1.0, abs(x), abs(y))
    tie = eps(a1, b1) or eps(a0, b0) or eps(v[i], mv)
    return (a1 < b1 and a0 > b0 and v[i] > mv), tie


hits, ties = [], []
for market, mcode in (("sh", 0x4853), ("sz", 0x5A53)):
    for _, code, today in securities(market, mcode):
        bars = series(market, code, today)
        if not bars:
            continue
        if window is None:
            indexes = [len(bars) - 1]
        else:
            indexes = [i for i, b in enumerate(bars) if window[0] <= b[0] // 86400 <= window[1]]
        hit = tie = False
        for i in indexes:
            h, t = decide(bars, i)
            hit, tie = hit or h, tie or t
        name = market.upper() + code
        if tie:
            ties.append(name)
        elif hit:
            hits.append(name)
for name in sorted(hits):
    print(name)
for name in sorted(ties):
    print("?", name)
