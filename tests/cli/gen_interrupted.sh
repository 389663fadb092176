#!/bin/bash
# A market generation killed midway leaves no market behind that later commands could take
# for a whole one; the next generation removes the leftovers and succeeds.
# usage: bash gen_interrupted.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"

"$cli" gen --out "$work/app" --securities 400 --days 400 >/dev/null 2>&1 &
pid=$!
# Killed once the generation has written something of its own.
for _ in $(seq 1 200); do
    [ -n "$(ls -A "$work" 2>/dev/null | grep -v '^app$')" ] && break
    sleep 0.02
done
sleep 0.3
kill -9 "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ -e "$work/app/data/sh/stkinfo.dat" ]; then
    # Only a generation that finished before the kill may have left a market.
    "$cli" market --appdir "$work/app" >/dev/null 2>&1 || fail "a killed generation left a market that does not open"
else
    out=$("$cli" market --appdir "$work/app" 2>&1)
    [ $? = 1 ] && grep -q 'no market data' <<<"$out" || fail "a partial market was taken for one: $out"
fi

"$cli" gen --out "$work/app" --securities 4 --days 5 --five-minute-days 0 --one-minute-days 0 >/dev/null 2>&1 ||
    fail "gen after an interrupted one"
"$cli" market --appdir "$work/app" >/dev/null 2>&1 || fail "the regenerated market does not open"
left=$(ls -A "$work" | grep -c partial)
[ "$left" = 0 ] || fail "staging directories left beside the market: $(ls -A "$work")"
finish gen_interrupted
