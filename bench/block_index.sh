#!/bin/bash
# The block index run over a generated market of 5,000 securities and 4,000 trading
# days with the demo's 30 indexed industry blocks (and the composite "沪深A股"):
# tessaro-cli block-index end to end (session start-up, every member's day history,
# the index files, the market files written back). Prints each run and the median
# wall time and the largest peak RSS.
# usage: bash bench/block_index.sh /path/to/tessaro-cli [RUNS]
#   BENCH_MARKET_DIR=DIR keeps (and reuses) the generated market there.
set -euo pipefail
cli=${1:?usage: bash bench/block_index.sh /path/to/tessaro-cli [RUNS]}
runs=${2:-5}
own=""
dir=${BENCH_MARKET_DIR:-}
if [ -z "$dir" ]; then
    dir=$(mktemp -d)
    own=$dir
fi
stats=$(mktemp)
trap 'rm -f "$stats"; [ -n "$own" ] && rm -rf "$own"' EXIT

if [ ! -f "$dir/data/sh/stkinfo.dat" ]; then
    echo "generating 5000 securities x 4000 days in $dir ..."
    "$cli" gen --out "$dir" --securities 5000 --days 4000 --seed 7
fi
indexed=$("$cli" block list --appdir "$dir" | awk -F, 'NR > 1 && $4 != ""' | wc -l)
members=$("$cli" block list --appdir "$dir" | awk -F, '$1 == "沪深A股" { print $5 }')
echo "indexed blocks: $indexed (30 industries and 沪深A股 with $members members)"

# One warm-up run so that every run reads the files from the page cache.
"$cli" block-index --appdir "$dir" >/dev/null
walls=()
peak=0
for i in $(seq "$runs"); do
    /usr/bin/time -f "%e %M" -o "$stats" "$cli" block-index --appdir "$dir" >/dev/null
    read -r wall rss <"$stats"
    echo "run $i: ${wall} s, peak RSS $((rss / 1024)) MB"
    walls+=("$wall")
    [ "$rss" -gt "$peak" ] && peak=$rss
done
median=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "block-index median ${median} s over $runs runs, peak RSS $((peak / 1024)) MB"
