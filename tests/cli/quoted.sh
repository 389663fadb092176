#!/bin/bash
# tessaro-quoted, the program: options, the listening line, the close of a day
# appended to the day files, a clean end on SIGTERM and SIGINT.
# usage: bash quoted.sh /path/to/tessaro-cli (tessaro-quoted is built beside it)
source "$(dirname "$0")/lib.bash"
quoted="$(dirname "$cli")/tessaro-quoted"
[ -x "$quoted" ] || { echo "FAIL: no $quoted"; exit 1; }

"$cli" gen --out "$work/app" --securities 8 --days 5 --five-minute-days 1 --one-minute-days 1 \
    --today 2025-06-13 --now 10:15 >/dev/null || fail "gen"
APP="$work/app"

out=$("$quoted" --help) || fail "--help exits 0"
for p in "listening" "--fault FAULT" "split=random" "drop-after=N" "notice [#ID] TEXT" "reinit [#ID]" "SIGTERM"; do
    grep -qF -- "$p" <<<"$out" || fail "--help lacks '$p'"
done
"$quoted" --appdir "$APP" --speed 0 >/dev/null 2>&1; [ $? = 2 ] || fail "--speed 0 is a usage error"
"$quoted" --appdir "$APP" --fault explode >/dev/null 2>&1; [ $? = 2 ] || fail "unknown fault is a usage error"
"$quoted" --appdir "$APP" --start 25:00 >/dev/null 2>&1; [ $? = 2 ] || fail "--start 25:00 is a usage error"
"$quoted" --appdir "$work/none" --listen 127.0.0.1:0 >/dev/null 2>&1; [ $? = 1 ] || fail "no market exits 1"
printf '[accounts]\n' >"$work/empty.ini"
"$quoted" --appdir "$APP" --accounts "$work/empty.ini" --listen 127.0.0.1:0 >/dev/null 2>&1
[ $? = 1 ] || fail "an accounts file without accounts exits 1"

# run SIGNAL: starts at 14:59 at speed 60, waits for the close of the day, ends with SIGNAL.
run() {
    local signal=$1 day="$APP/data/sh/day/000001.day"
    local before=$(stat -c %s "$day")
    rm -f "$work/out" "$work/err"  # the loop below must not read the previous run's log
    "$quoted" --appdir "$APP" --listen 127.0.0.1:0 --speed 60 --start 14:59 --seed 3 \
        >"$work/out" 2>"$work/err" </dev/null &
    local pid=$!
    for _ in $(seq 200); do
        grep -q "close of day" "$work/err" 2>/dev/null && break
        sleep 0.1
    done
    kill -"$signal" $pid
    wait $pid
    local rc=$?
    [ $rc = 0 ] || fail "$signal: exit $rc; $(cat "$work/err")"
    [ "$(wc -l <"$work/out")" = 1 ] || fail "$signal: stdout is not one line: $(cat "$work/out")"
    grep -Eqx 'listening 127\.0\.0\.1:[1-9][0-9]*' "$work/out" || fail "$signal: listening line: $(cat "$work/out")"
    grep -q "close of day 2025-06-13" "$work/err" || fail "$signal: no close of day: $(cat "$work/err")"
    grep -q "signal SIG$signal" "$work/err" || fail "$signal: no signal line: $(cat "$work/err")"
    sizes="$before $(stat -c %s "$day")"
}
run TERM
set -- $sizes
# The generated history ends the day before today: the close appends today's bar.
[ "$2" = $(( $1 + 32 )) ] || fail "the close did not append one day bar: $sizes"
# A second close of the same day replaces its bar, it does not add one.
run INT
set -- $sizes
[ "$2" = "$1" ] || fail "a second close of the same day appended a bar: $sizes"

finish quoted
