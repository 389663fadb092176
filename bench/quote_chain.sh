#!/bin/bash
# The whole start-up chain against tessaro-quoted on loopback: a generated market
# of 5,000 securities, every server block file and the base files fetched into a
# fresh application directory by tessaro-cli connect (session start-up, login,
# chain, the market files written back at the end). Prints each run and the median.
# usage: bash bench/quote_chain.sh /path/to/tessaro-cli [RUNS]   (tessaro-quoted beside it)
set -euo pipefail
cli=${1:?usage: bash bench/quote_chain.sh /path/to/tessaro-cli [RUNS]}
runs=${2:-5}
quoted="$(dirname "$cli")/tessaro-quoted"
dir=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir"' EXIT

"$cli" gen --out "$dir/srv" --securities 5000 --days 30 --seed 7 >/dev/null
"$quoted" --appdir "$dir/srv" --listen 127.0.0.1:0 --speed 1 --start 10:00 >"$dir/out" 2>"$dir/err" </dev/null &
pid=$!
for _ in $(seq 200); do port=$(sed -n 's/^listening 127\.0\.0\.1://p' "$dir/out"); [ -n "$port" ] && break; sleep 0.05; done
export XDG_CONFIG_HOME="$dir/config"
times=()
for i in $(seq "$runs"); do
    rm -rf "$dir/client"
    start=$(date +%s.%N)
    out=$("$cli" connect --appdir "$dir/client" --server "127.0.0.1:$port")
    end=$(date +%s.%N)
    grep -q '^connected$' <<<"$out" || { echo "run $i did not connect: $out"; exit 1; }
    t=$(echo "$end - $start" | bc)
    blocks=$(grep -c '板块数据' <<<"$out" || true)
    codes=$("$cli" market --appdir "$dir/client" --first 0 | awk '{ split($2, a, "="); n += a[2] } END { print n }')
    echo "run $i: ${t}s, $blocks block files, $codes securities, base files: $(ls "$dir/client/base" | tr '\n' ' ')"
    times+=("$t")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "median %.3f s over %d runs\n", a[int((NR + 1) / 2)], NR }'
