#!/usr/bin/env python3
"""Expected values of the standard indicators over 600519-daily.csv, computed in double
precision straight from the definitions (moving averages, smoothing seeds, valid ranges), with
no code shared with the evaluator. Writes indicators-600519.csv next to this file; an empty
cell is a point outside the line's valid range.

    python3 tests/formula/data/indicator_oracle.py
"""
import csv
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
NONE = None  # not a valid point


def read_bars():
    with open(os.path.join(HERE, "600519-daily.csv")) as f:
        rows = list(csv.DictReader(f))
    return rows, [float(r["high"]) for r in rows], [float(r["low"]) for r in rows], \
        [float(r["close"]) for r in rows], [float(r["volume"]) for r in rows]


def ma(x, n):
    out = [NONE] * len(x)
    for i in range(len(x)):
        window = x[i - n + 1:i + 1] if i - n + 1 >= 0 else None
        if window and all(v is not None for v in window):
            out[i] = sum(window) / n
    return out


def smooth(x, w_new, w_old, div):
    """EMA/SMA: the first valid point seeds the recursion and is itself not valid."""
    out = [NONE] * len(x)
    start = next((i for i, v in enumerate(x) if v is not None), None)
    if start is None:
        return out
    prev = x[start]
    for i in range(start + 1, len(x)):
        prev = (w_new * x[i] + w_old * prev) / div
        out[i] = prev
    return out


def ema(x, n):
    return smooth(x, 2.0, n - 1.0, n + 1.0)


def sma(x, n, m):
    return smooth(x, float(m), float(n - m), float(n))


def window_extreme(x, n, pick):
    """HHV/LLV: partial windows at the start use every bar so far."""
    return [pick(x[max(0, i - n + 1):i + 1]) for i in range(len(x))]


def std(x, n):
    out = [NONE] * len(x)
    for i in range(n - 1, len(x)):
        w = x[i - n + 1:i + 1]
        mean = sum(w) / n
        out[i] = math.sqrt(sum((v - mean) ** 2 for v in w) / (n - 1))
    return out


def zip_valid(f, *cols):
    return [f(*vals) if all(v is not None for v in vals) else NONE for vals in zip(*cols)]


def div(a, b):
    return 0.0 if abs(b) <= 1e-6 else a / b


def main():
    rows, high, low, close, vol = read_bars()
    n = len(close)
    cols = {}
    cols["MA5"] = ma(close, 5)
    cols["MA10"] = ma(close, 10)

    dif = zip_valid(lambda a, b: a - b, ema(close, 12), ema(close, 26))
    dea = ema(dif, 9)
    cols["DIF"], cols["DEA"] = dif, dea
    cols["MACD"] = zip_valid(lambda a, b: 2 * (a - b), dif, dea)

    llv, hhv = window_extreme(low, 9, min), window_extreme(high, 9, max)
    rsv = [div(close[i] - llv[i], hhv[i] - llv[i]) * 100 for i in range(n)]
    k = sma(rsv, 3, 1)
    d = sma(k, 3, 1)
    cols["K"], cols["D"] = k, d
    cols["J"] = zip_valid(lambda a, b: 3 * a - 2 * b, k, d)

    lc = [NONE] + close[:-1]
    up = zip_valid(lambda c, p: max(c - p, 0.0), close, lc)
    move = zip_valid(lambda c, p: abs(c - p), close, lc)
    cols["RSI"] = zip_valid(lambda a, b: div(a, b) * 100, sma(up, 6, 1), sma(move, 6, 1))

    mid, sd = ma(close, 20), std(close, 20)
    cols["MID"] = mid
    cols["UPPER"] = zip_valid(lambda m, s: m + 2 * s, mid, sd)
    cols["LOWER"] = zip_valid(lambda m, s: m - 2 * s, mid, sd)

    ma5, ma20, mav = ma(close, 5), ma(close, 20), ma(vol, 10)
    pick = [NONE] * n
    for i in range(n):
        if i >= 1 and None not in (ma5[i - 1], ma20[i - 1], ma5[i], ma20[i], mav[i]):
            cross = ma5[i - 1] < ma20[i - 1] and ma5[i] > ma20[i]
            pick[i] = 1.0 if cross and vol[i] > mav[i] else 0.0
    cols["PICK"] = pick

    names = list(cols)
    with open(os.path.join(HERE, "indicators-600519.csv"), "w", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["date"] + names)
        for i in range(n):
            w.writerow([rows[i]["date"]] + ["" if cols[c][i] is None else "%.6f" % cols[c][i] for c in names])


if __name__ == "__main__":
    main()
