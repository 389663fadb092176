#!/usr/bin/env python3
"""Writes indicators_600519.txt: SAR, SARTURN, ZIG, COST and WINNER over the first 250 real
daily bars of 600519, computed here step by step and independently of the C++ code.

Prices go through single precision first, as the client holds them; every intermediate is a
Python float (double). The capital column is made up (the published volumes are in the
publisher's own units): 0 for the first three bars, so COST has no total there, then 5000.

Run from the repository root:  python3 tests/formula/cases/generators/indicator_reference.py
"""
import csv
import math
import os
import struct

BARS = 250
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', '..', '..', '..', '..', 'shared', 'data', '600519-daily.csv')
OUT = os.path.join(HERE, '..', 'indicators_600519.txt')


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def load():
    rows = list(csv.DictReader(open(os.environ.get('TESSARO_600519', DATA))))[:BARS]
    cols = {k: [f32(float(r[k])) for r in rows] for k in ('open', 'high', 'low', 'close', 'volume')}
    cols['capital'] = [0.0, 0.0, 0.0] + [5000.0] * (BARS - 3)
    return cols


def sar(b, n, s, m, turns):
    high, low, close = b['high'], b['low'], b['close']
    count = len(close)
    out = [None] * count
    if not (2 <= n < count and s >= 1):
        return out

    def extremes(frm, to):
        d = c = frm
        for k in range(frm + 1, to + 1):
            if high[k] > high[d]:
                d = k
            if low[k] < low[c]:
                c = k
        return d, c

    d, c = extremes(0, n - 1)
    mode = 'above' if close[n] > close[0] else 'below'
    value = high[d] if mode == 'above' else low[c]
    out[n - 1] = (-1 if mode == 'above' else 1) if turns else value
    a = s
    pending = False
    i = n
    while i < count:
        if high[i - 1] > high[d]:
            d = i - 1
        if low[i - 1] < low[c]:
            c = i - 1
        if pending and ((i - 1) - d > n - 1 or (i - 1) - c > n - 1):
            d, c = extremes(i - n, i - 1)
        if mode == 'above':
            if pending:
                value, a, pending = high[d], s, False
                out[i] = -1 if turns else value
                i += 1
                continue
            if low[i] <= low[c]:
                a += s
            a = min(a, m)
            value = value + a * (low[c] - value) * 0.01
            if high[i] < value:
                out[i] = 0 if turns else value
                i += 1
            else:
                mode, pending = 'below', True
        else:
            if pending:
                value, a, pending = low[c], s, False
                out[i] = 1 if turns else value
                i += 1
                continue
            if high[i] >= high[d]:
                a += s
            a = min(a, m)
            value = value + a * (high[d] - value) * 0.01
            if value < low[i]:
                out[i] = 0 if turns else value
                i += 1
            else:
                mode, pending = 'above', True
    return out


def zig(b, k, n):
    key = ['open', 'high', 'low', 'close', 'close'][k]
    price = b[key]
    count = len(price)
    e = n * 0.00485
    out = [None] * count
    if e < 0.0004:
        return out

    def large(x, y):
        return abs(y - x) >= e * (x + y)

    def line(g, p, m, h):
        for j in range(g + 1, m + 1):
            out[j] = p + (h - p) * (j - g) / (m - g)

    g, p = 0, price[0]
    out[0] = p
    h, m, direction = p, 0, None
    for i in range(count):
        x = price[i]
        if direction is None:
            if abs(x - h) > e * (h + x):
                m, h = i, x
                direction = 'up' if x > p else 'down'
        elif (direction == 'up' and x > h) or (direction == 'down' and x < h):
            m, h = i, x
        else:
            far = b['low'][i] if direction == 'up' else b['high'][i]
            if (large(h, x) or large(h, far)) and abs(x - h) >= 0.97 * e * (h + x):
                line(g, p, m, h)
                g, p = m, h
                direction = 'up' if h < x else 'down'
                m, h = i, x
    if g < m:
        line(g, p, m, h)
    else:
        m, h = g, p
    last = count - 1
    for j in range(m + 1, last + 1):
        out[j] = h + (price[last] - h) / (last - m) * (j - m)
    return out


def chips(b, percent=None, winner=None):
    """COST(percent) or WINNER(winner): the plain bucket walk, bar by bar. `winner` is a price
    or a list of per-bar prices."""
    high, low = b['high'], b['low']
    count = len(high)
    hi, lo = max(high), min(low)
    r = hi - lo
    n = 500 if r <= 0 else min(3000, max(500, 100 * int(r)))
    weight = [0.0] * n
    total = 0.0
    occupied = None  # (top j, bottom j)
    out = [None] * count
    for i in range(count):
        cap = b['capital'][i]
        t = 0.0 if abs(cap) <= 0.000001 else min(1.0, max(0.0, b['volume'][i] / cap))
        top = math.trunc(n * (hi - high[i]) / r)
        bottom = math.trunc(n * (hi - low[i]) / r)
        if top < 0 or bottom > n or top > bottom:
            top, bottom = 0, n
        if top == bottom:
            if bottom < n:
                bottom += 1
            else:
                top -= 1
        first, last = top, bottom - 1
        if occupied:
            first, last = min(first, occupied[0]), max(last, occupied[1])
        total = t + (1 - t) * total
        cumulative = 0.0
        value = None
        seen_low = seen_high = None
        below = 0.0
        done = False
        p = winner[i] if isinstance(winner, list) else winner
        for j in range(last, first - 1, -1):  # from the lowest price upwards
            weight[j] *= (1 - t)
            if top <= j < bottom:
                weight[j] += t / (bottom - top)
            if weight[j] > 0.000001:
                if seen_low is None:
                    seen_low = j
                seen_high = j
            price = hi - j * r / n
            if percent is not None and value is None and total > 0:
                cumulative += weight[j]
                if cumulative * 100 / total >= percent:
                    value = price
            if p is not None and not done:
                if price < p:
                    below += weight[j]
                else:
                    if j == n - 1:
                        share = p / price
                    else:
                        lower = hi - (j + 1) * r / n
                        gap = price - lower
                        share = 1.0 if abs(gap) <= 0.000001 else (p - lower) / gap
                    below += weight[j] * min(1.0, max(0.0, share))
                    done = True
        occupied = (seen_high, seen_low) if seen_low is not None else None
        out[i] = value if percent is not None else below
    return out


def fmt(values):
    return ' '.join('-' if v is None else '%.9g' % v for v in values)


def main():
    b = load()
    lines = [
        '# Generated by generators/indicator_reference.py from the first 250 daily bars of 600519',
        '# (real prices; the volume is the publisher\'s, the capital column made up). Do not edit by hand.',
        'tolerance: 0.00001',
    ]
    for key, name in (('open', 'open'), ('high', 'high'), ('low', 'low'), ('close', 'close'),
                      ('volume', 'vol'), ('capital', 'capital')):
        lines.append('%s: %s' % (name, ' '.join('%.9g' % v for v in b[key])))
    for n, s, m in ((10, 2, 20), (4, 2, 20), (10, 3, 12), (20, 1, 10)):
        lines.append('SAR(%d,%d,%d) => %s' % (n, s, m, fmt(sar(b, n, s, m, False))))
        lines.append('SARTURN(%d,%d,%d) => %s' % (n, s, m, fmt(sar(b, n, s, m, True))))
    for k, n in ((3, 5), (3, 2.5), (1, 3), (2, 8), (0, 5)):
        lines.append('ZIG(%d,%g) => %s' % (k, n, fmt(zig(b, k, n))))
    for x in (50, 10, 90, 0):
        lines.append('COST(%d) => %s' % (x, fmt(chips(b, percent=x))))
    for p in (1300, 1450, 1600):
        lines.append('WINNER(%d) => %s' % (p, fmt(chips(b, winner=p))))
    lines.append('WINNER(C) => %s' % fmt(chips(b, winner=b['close'])))
    open(OUT, 'w').write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
