#!/bin/bash
# The whole-market screen side by side, in one run over the same generated market:
#   - the C floor (bench/screen_floor.c) over the same mapped files;
#   - `tessaro-cli screen` on one thread and on every core, cold (the first screen in a
#     process) and warm (later screens in the same process), and its peak RSS;
#   - the formula MACD per bar (bench_formula_eval) and the EMA, MA and STD kernels
#     (bench_formula_functions) against Tulip Indicators: the tulind npm package, installed
#     here into a scratch directory and used only as a peer, both through node and as the C
#     kernels compiled from the sources the package ships. MACD is compared three times: one
#     security's series in the cache against Tulip's kernel on one array in the cache, and 40
#     and 400 securities' bar records (in the last-level cache, from memory) against Tulip's
#     kernel fed from as many records of the same layout.
# Prints every figure (medians) and every ratio against its target.
#
# usage: bash bench/screen_bench.sh [BUILD_DIR]   (a Release build with -DTESSARO_BENCH=ON;
#        default build/rel, configured and built here when missing)
# env: SECURITIES (5000) DAYS (4000) RUNS (7) SCREEN_MARKET (/tmp/tessaro-eval-market)
#      TULIND_DIR (/tmp/tessaro-bench-tulind)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/rel}
securities=${SECURITIES:-5000}
days=${DAYS:-4000}
runs=${RUNS:-7}
market=${SCREEN_MARKET:-/tmp/tessaro-eval-market}
tulind=${TULIND_DIR:-/tmp/tessaro-bench-tulind}
formula='CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10)'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARO_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tessaro-cli bench_formula_eval bench_formula_functions >/dev/null
cli="$build/src/programs/tessaro-cli"
cores=$(nproc)

# The market (kept between runs; the same one bench_formula_eval uses).
if [ ! -f "$market/.complete-$securities-$days" ]; then
    rm -rf "$market"
    "$cli" gen --out "$market" --securities "$securities" --days "$days" >/dev/null
    touch "$market/.complete-$securities-$days"
fi

median() { sort -n | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
verdict() { awk -v r="$1" -v t="$3" -v op="$2" 'BEGIN {ok = (op == "<=" ? r <= t : r >= t); print (ok ? "met" : "NOT met")}'; }

# ---- The C floor --------------------------------------------------------------------------
cc -O2 -std=c11 -o "$work/screen_floor" "$root/bench/screen_floor.c" -lm
"$work/screen_floor" "$market" 1 >/dev/null  # the page cache
"$work/screen_floor" "$market" "$runs" >"$work/floor"
floor_hits=$(awk 'NR==1 {print $4}' "$work/floor")
floor_ms=$(awk 'NR>1 {print $6}' "$work/floor" | median)

# ---- The project ----------------------------------------------------------------------------
screen() {  # THREADS -> lines "screened N hits M in T ms", one per run
    "$cli" screen --appdir "$market" "$formula" --threads "$1" --repeat "$runs" | grep '^screened '
}
screen 1 >/dev/null
screen 1 >"$work/one"
screen 0 >"$work/all"
hits=$(awk 'NR==1 {print $4}' "$work/one")
examined=$(awk 'NR==1 {print $2}' "$work/one")
cold1=$(awk 'NR==1 {print $6}' "$work/one")
warm1=$(awk 'NR>1 {print $6}' "$work/one" | median)
coldN=$(awk 'NR==1 {print $6}' "$work/all")
warmN=$(awk 'NR>1 {print $6}' "$work/all" | median)
# Whole processes (start-up included), one screen each.
for i in $(seq "$runs"); do
    s=$(date +%s%N)
    "$cli" screen --appdir "$market" "$formula" --threads 1 >/dev/null
    echo $(( ($(date +%s%N) - s) / 1000000 ))
done | median >"$work/process"
rss_kb=$(/usr/bin/time -f %M "$cli" screen --appdir "$market" "$formula" --threads 0 2>&1 >/dev/null | tail -1)

# ---- MACD and the kernels against Tulip -----------------------------------------------------
TESSARO_EVAL_MARKET="$market" "$build/bench/bench_formula_eval" --benchmark_filter='^BM_Preloaded_Macd/(1|40|400)/threads:1$' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/macd.json" 2>/dev/null
"$build/bench/bench_formula_functions" --benchmark_filter='^BM_(EMA12|MA20|STD20)$' --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/kernels.json" 2>/dev/null
python3 - "$work/macd.json" "$work/kernels.json" >"$work/project" <<'PY'
import json, sys
# MACD pairs with the kernel on one array; the records runs with the kernel fed from as many
# securities' records (40: in the last-level cache, 400: from memory).
names = {"BM_Preloaded_Macd/1/threads:1": "MACD", "BM_Preloaded_Macd/40/threads:1": "MACD-records-40",
         "BM_Preloaded_Macd/400/threads:1": "MACD-records",
         "BM_EMA12": "EMA", "BM_MA20": "MA", "BM_STD20": "STD"}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name") == "median" and b["run_name"] in names:
            print(names[b["run_name"]], b["ns_per_bar"])
PY
if [ ! -f "$tulind/node_modules/tulind/external/tiamalgamation.c" ]; then
    mkdir -p "$tulind"
    (cd "$tulind" && npm install --no-audit --no-fund --ignore-scripts tulind@0.8.20 >/dev/null 2>&1)
fi
t="$tulind/node_modules/tulind"
cc -O2 -o "$work/tulip_kernel" "$root/bench/tulip_kernel.c" "$t/external/tiamalgamation.c" -I"$t/external" -lm 2>/dev/null
"$work/tulip_kernel" >"$work/tulip"
binding=$(cd "$t" && node -e "console.log(require('@mapbox/node-pre-gyp').find(require('path').resolve('package.json')))")
if [ ! -f "$binding" ]; then
    gyp=$(dirname "$(dirname "$(readlink -f "$(command -v npm)")")")/node_modules/node-gyp/bin/node-gyp.js
    (cd "$t" && node "$gyp" rebuild --nodedir=/usr -j 2 --module_name=tulind --module_path="$(dirname "$binding")" >/dev/null 2>&1) || true
fi
[ -f "$binding" ] && node "$root/bench/tulip_peer.js" "$tulind/node_modules" >>"$work/tulip" || echo "(tulind's node binding could not be built; node figures left out)"

# ---- Report ------------------------------------------------------------------------------------
echo "market: $examined A shares of $securities securities x $days day bars, forward-adjusted; $cores cores; medians of $runs runs"
echo "hits: project $hits, C floor $floor_hits$( [ "$hits" = "$floor_hits" ] && echo " (agree)" || echo " (DIFFER)")"
printf '%-44s %10s\n' "C floor, warm" "$floor_ms ms"
printf '%-44s %10s\n' "screen, 1 thread, warm" "$warm1 ms"
printf '%-44s %10s\n' "screen, 1 thread, cold (first in process)" "$cold1 ms"
printf '%-44s %10s\n' "screen, all cores, warm" "$warmN ms"
printf '%-44s %10s\n' "screen, all cores, cold" "$coldN ms"
printf '%-44s %10s\n' "whole process, 1 thread (start-up included)" "$(cat "$work/process") ms"
printf '%-44s %10s\n' "peak RSS, all cores" "$((rss_kb / 1024)) MB"
while read -r name ns; do printf '%-44s %10.3f\n' "project $name ns/bar" "$ns"; done <"$work/project"
while read -r who name _ ns; do printf '%-44s %10.3f\n' "$who $name ns/bar" "$ns"; done <"$work/tulip"
echo "ratios against the targets:"
r=$(ratio "$warm1" "$floor_ms"); echo "  warm 1 thread / C floor                $r  (target <= 1.25: $(verdict "$r" "<=" 1.25))"
s=$(ratio "$warm1" "$warmN"); need=$(awk -v c="$cores" 'BEGIN {printf "%.2f", 0.85 * c}')
echo "  speed-up on $cores cores                 $s  (target >= $need: $(verdict "$s" ">=" "$need"))"
r=$(ratio "$cold1" "$warm1"); echo "  cold / warm, 1 thread              $r  (target <= 1.5: $(verdict "$r" "<=" 1.5))"
r=$(ratio "$coldN" "$warmN"); echo "  cold / warm, all cores             $r  (target <= 1.5: $(verdict "$r" "<=" 1.5))"
echo "  peak RSS                           $((rss_kb / 1024)) MB  (target < 64 MB: $( [ "$rss_kb" -lt 65536 ] && echo met || echo "NOT met"))"
for name in MACD MACD-records-40 MACD-records EMA MA STD; do
    p=$(awk -v n="$name" '$1 == n {print $2}' "$work/project")
    c=$(awk -v n="$name" '$1 == "tulip-c" && $2 == n {print $4}' "$work/tulip")
    j=$(awk -v n="$name" '$1 == "tulip" && $2 == n {print $4}' "$work/tulip")
    line="$(printf '  %-38s %s' "$name project / Tulip C kernel" "$(ratio "$p" "$c")")"
    case $name in MACD*) line="$line  (target <= 1.3: $(verdict "$(ratio "$p" "$c")" "<=" 1.3))" ;; esac
    [ -n "$j" ] && line="$line; / tulind through node $(ratio "$p" "$j")"
    echo "$line"
done
