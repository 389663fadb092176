#!/bin/bash
# The desktop program's start-up: from the process start to the main window shown
# (splash, the session's start-up stages over the demo market, the main window with
# its status bar), with --exit-after-startup, offscreen. The program prints the wall
# time at which its main window was shown; each run is that minus the time just
# before the process was started. Prints each run and the median.
# usage: bash bench/tessaro_startup.sh /path/to/tessaro [RUNS] [SECURITIES]
#        (tessaro-cli beside it generates the market)
set -euo pipefail
tessaro=${1:?usage: bash bench/tessaro_startup.sh /path/to/tessaro [RUNS] [SECURITIES]}
runs=${2:-9}
securities=${3:-40}
cli="$(dirname "$tessaro")/tessaro-cli"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$cli" gen --out "$dir/market" --securities "$securities" --seed 7 >/dev/null
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$dir/config"
# One run first, outside the count: the page cache and the font cache warm up.
"$tessaro" --appdir "$dir/market" --exit-after-startup >/dev/null 2>&1
times=()
for i in $(seq "$runs"); do
    start=$(date +%s%3N)
    out=$("$tessaro" --appdir "$dir/market" --exit-after-startup 2>/dev/null)
    shown=$(sed -n 's/.* at \([0-9]*\) ms since the epoch.*/\1/p' <<<"$out")
    [ -n "$shown" ] || { echo "run $i: no main window: $out"; exit 1; }
    t=$((shown - start))
    echo "run $i: ${t} ms to the main window ($out)"
    times+=("$t")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "median %d ms over %d runs (target: under 1500 ms)\n", a[int((NR + 1) / 2)], NR }'
