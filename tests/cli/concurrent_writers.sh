#!/bin/bash
# Several tessaro-cli processes writing one application directory at once lose nothing:
# 8 processes each import 25 one-bar days into one day file (disjoint dates), and 4 processes
# each import a different formula into one formula set. TESSARO_STRESS_ROUNDS sets how many
# times the whole check runs (3 by default).
# usage: bash concurrent_writers.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"

rounds=${TESSARO_STRESS_ROUNDS:-3}

# Four one-formula files taken from the demo's standard library.
"$cli" gen --out "$work/demo" --securities 2 --days 5 --five-minute-days 0 --one-minute-days 0 >/dev/null 2>&1 ||
    fail "gen failed"
names=(MACD KDJ BOLL RSI)
for name in "${names[@]}"; do
    "$cli" fml export --appdir "$work/demo" "$name" -o "$work/$name.fml" >/dev/null 2>&1 || fail "export $name"
done

# import_days P: 25 imports of one bar each, the days of process P.
import_days() {
    local p=$1 i day
    for i in $(seq 0 24); do
        day=$(date -u -d "2020-01-01 + $((p * 25 + i)) days" +%F)
        echo "$day,10,11,9,10.5,$((p * 100 + i + 1)),1000" |
            "$cli" bars-import --appdir "$app" SH600000 day - >/dev/null || echo "import $p/$i failed"
    done
}

for round in $(seq 1 "$rounds"); do
    app="$work/app$round"
    mkdir -p "$app"
    pids=()
    for p in $(seq 0 7); do
        import_days "$p" >"$work/log$p" 2>&1 &
        pids+=($!)
    done
    for name in "${names[@]}"; do
        "$cli" fml import "$work/$name.fml" --appdir "$app" >"$work/log$name" 2>&1 &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || fail "round $round: a writer failed"; done
    cat "$work"/log[0-7] | grep -q failed && fail "round $round: $(cat "$work"/log[0-7] | grep failed | head -3)"

    out=$("$cli" bars --appdir "$app" SH600000 day)
    bars=$(($(wc -l <<<"$out") - 1))
    [ "$bars" = 200 ] || fail "round $round: $bars of 200 bars in the day file"
    # Every bar is the one its process wrote (its volume tells which).
    volumes=$(tail -n +2 <<<"$out" | cut -d, -f6 | sort -n | tr '\n' ' ')
    want=$(for p in $(seq 0 7); do for i in $(seq 0 24); do echo $((p * 100 + i + 1)); done; done | sort -n | tr '\n' ' ')
    [ "$volumes" = "$want" ] || fail "round $round: the bars are not the ones written"
    [ "$(stat -c %s "$app/data/sh/day/600000.day")" = 6400 ] || fail "round $round: day file is not 200 bars"

    listed=$("$cli" fml list "$app/base/user.fml" 2>&1)
    grep -q '^4 formula(s)' <<<"$listed" || fail "round $round: user.fml holds: $listed"
    for name in "${names[@]}"; do
        grep -q "^$name " <<<"$listed" || fail "round $round: formula $name lost"
    done
done

finish concurrent_writers
