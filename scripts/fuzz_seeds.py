#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are real files of a generated demo market (history, base, block and
formula files), the indicator texts of data/formulas/, and for the targets whose
first byte picks a message or function kind, one input per kind with fixed
pseudo-random bytes after it. A libFuzzer run grows a corpus from these
(`fuzz_<target> fuzz/corpus/<target>`); every test build replays it.

Usage: scripts/fuzz_seeds.py MARKET_DIR   (a directory written by `tessaro-cli gen`)
"""
import pathlib
import random
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
LIMIT = 4096  # bytes kept of a file: enough for every header and some records


def put(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data[:LIMIT])


def kinds(target, count, length, seed):
    rng = random.Random(seed)
    for kind in range(count):
        put(target, f"kind{kind:03d}", bytes([kind]) + bytes(rng.randrange(256) for _ in range(length)))


def main():
    market = pathlib.Path(sys.argv[1])
    for target in sorted(ROOT.glob("fuzz/*.cpp")):
        if target.stem != "replay_main":
            put(target.stem, "empty", b"")  # nothing at all is an input too
    for period in ("day", "fiv", "min"):
        files = sorted((market / "data" / "sh" / period).glob("*"))
        for f in files[:2]:
            put("history_file", f"{period}_{f.name}", f.read_bytes())
    for f in ("Power.pwr", "finance.fin", "gbbg.dat"):
        put("base_files", f, (market / "base" / f).read_bytes())
    blocks = sorted((market / "block").glob("*.blk"))
    for i, f in enumerate(blocks[:4]):
        put("block_file", f"block{i}.blk", f.read_bytes())
    opp = market / "block" / "blockfmt.opp"
    if opp.exists():
        put("block_file", "blockfmt.opp", opp.read_bytes())
    put("fml_file", "common.fml", (market / "base" / "common.fml").read_bytes())
    for f in sorted((ROOT / "data" / "formulas").glob("*.formula")):
        text = f.read_text(encoding="utf-8").split("\n---\n", 1)[-1]
        put("formula_compiler", f.stem, text.encode("gbk", errors="replace"))
    kinds("formula_conditions", 16, 96, 1)
    kinds("formula_eval", 16, 200, 2)
    kinds("formula_functions", 64, 160, 3)
    kinds("net_assembler", 8, 200, 4)
    kinds("net_replies", 64, 160, 5)
    kinds("net_requests", 48, 120, 6)
    kinds("server_dispatch", 32, 160, 7)
    for chunk in (0x80, 0x83, 0x8F):
        rng = random.Random(chunk)
        put("server_dispatch", f"stream{chunk:02x}", bytes([chunk]) + bytes(rng.randrange(256) for _ in range(300)))


if __name__ == "__main__":
    main()
