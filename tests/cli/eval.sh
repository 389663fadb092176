#!/bin/bash
# tessaro-cli eval: a formula's lines as CSV over a security's series or over bars from a file.
# usage: bash eval.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
subcommand=eval

# ---- bars from a file: hand-computed values ------------------------------------------------
cat >"$work/bars.csv" <<'CSV'
date,open,high,low,close,volume,amount
2024-01-02,9.5,10.5,9,10,100,1000
2024-01-03,10.5,11.5,10,11,200,2200
2024-01-04,11.5,12.5,11,12,300,3600
2024-01-05,12.5,13.5,12,13,400,5200
CSV
out=$("$cli" eval --bars "$work/bars.csv" 'A:MA(C,2); B:C*2; V2:VOL/4-100;' 2>&1)
expected='date,A,B,V2
2024-01-02,,20.0000,-75.0000
2024-01-03,10.5000,22.0000,-50.0000
2024-01-04,11.5000,24.0000,-25.0000
2024-01-05,12.5000,26.0000,0.0000'
[ "$out" = "$expected" ] || fail "bars: got
$out
expected
$expected"

expect last-rows 0 "date,A" "2024-01-05,13.0000" -- --bars "$work/bars.csv" --last 1 'A:C;'
[ "$("$cli" eval --bars "$work/bars.csv" --last 2 'A:C;' | wc -l)" -eq 3 ] || fail "--last 2 prints a header and two rows"
# Unnamed lines, Chinese names (UTF-8 in, UTF-8 out), a parameter.
expect names 0 "date,涨幅,第2条线" "2024-01-03,10.0000,3.0000" -- --bars "$work/bars.csv" --param N=3 \
    '涨幅:(C-REF(C,1))/REF(C,1)*100; N;'
# NaN from a square root of a negative number is an empty cell, never "nan".
out=$("$cli" eval --bars "$work/bars.csv" 'A:SQRT(C-11.5); B:C;')
grep -qi nan <<<"$out" && fail "nan printed: $out"
grep -qF "2024-01-02,,10.0000" <<<"$out" || fail "NaN cell not empty: $out"
# References reach the built-in indicator library.
expect library-reference 0 "date,A" -- --bars "$work/bars.csv" 'A:"MACD.DIF";'
# Index functions on a stock give no result at all; the reason names the function.
expect no-result 1 "no result" "instruction failed: ADVANCE has no result" -- --bars "$work/bars.csv" 'A:ADVANCE;'
expect index-security 0 "2024-01-02,0.0000" -- --bars "$work/bars.csv" --security SH000001 'A:ADVANCE;'

# ---- bad input --------------------------------------------------------------------------------
expect compile-error 1 "[XYZ]" -- --bars "$work/bars.csv" 'A:C+XYZ;'
printf 'date,open,high,low,close,volume,amount\n2024-01-02,1,1,1,1,1,1\n2024-01-03,1,x,1,1,1,1\n' >"$work/bad.csv"
expect bad-number 1 "line 3" -- --bars "$work/bad.csv" 'A:C;'
printf '2024-01-03,1,1,1,1,1,1\n2024-01-02,1,1,1,1,1,1\n' >"$work/order.csv"
expect bad-order 1 "line 2" "increase" -- --bars "$work/order.csv" 'A:C;'
expect missing-file 1 "cannot read" -- --bars "$work/none.csv" 'A:C;'
expect bad-adjust 2 "usage" -- --bars "$work/bars.csv" --adjust sideways 'A:C;'
expect bad-last 2 "usage" -- --bars "$work/bars.csv" --last 0 'A:C;'
expect bad-period 2 "usage" -- --bars "$work/bars.csv" --period fortnight 'A:C;'
expect no-formula 2 "usage" -- --bars "$work/bars.csv"

# ---- an application directory ------------------------------------------------------------------
"$cli" gen --out "$work/app" --securities 4 --days 40 >/dev/null || fail "gen"
closes=$("$cli" series --appdir "$work/app" SH600000 day | tail -n +2 | cut -d, -f5 | awk '{printf "%.4f\n", $1}')
values=$("$cli" eval --appdir "$work/app" SH600000 --period day 'A:C;' | tail -n +2 | cut -d, -f2)
[ -n "$closes" ] && [ "$closes" = "$values" ] || fail "eval A:C differs from the series' closes"
rows=$("$cli" series --appdir "$work/app" SH600000 day | wc -l)
[ "$("$cli" eval --appdir "$work/app" SH600000 --period day 'A:MA(C,5);' | wc -l)" -eq "$rows" ] ||
    fail "one row per bar"
first=$("$cli" eval --appdir "$work/app" SH600000 --period day 'A:MA(C,5);' | sed -n 2p)
[[ "$first" == *, ]] || fail "MA(C,5) on the first bar should be an empty cell: $first"
expect week 0 "date,A" -- --appdir "$work/app" SH600000 --period week --adjust none --last 2 'A:C;'
expect backward 0 "date,A" -- --appdir "$work/app" SH600000 --period day --adjust backward --last 2 'A:C;'
expect app-reference 0 "date,A" -- --appdir "$work/app" SH600000 --period day --last 1 'A:"MACD.DEA"+"SH000001$CLOSE";'
expect unknown-security 1 "unknown security" -- --appdir "$work/app" SH699999 --period day 'A:C;'
expect no-period 1 "--period" -- --appdir "$work/app" SH600000 'A:C;'
expect no-market 1 "no market data" -- --appdir "$work/none" SH600000 --period day 'A:C;'
# A reference nothing answers is a failure with its reason, on stderr, and no lines on stdout.
out=$("$cli" eval --appdir "$work/app" SH600000 --period day 'A:"SZ399999$CLOSE"; B:C;' 2>"$work/err")
[ $? -eq 1 ] || fail "unresolved reference: exit status"
[ -z "$out" ] || fail "unresolved reference printed lines: $out"
grep -qF 'unresolved reference: reference "SZ399999$CLOSE" cannot be resolved: unknown security' "$work/err" ||
    fail "unresolved reference: $(cat "$work/err")"
# The reading commands open the directory read-only: nothing in it changes.
before=$(find "$work/app" -printf '%p %s %T@\n' | sort)
"$cli" eval --appdir "$work/app" SH600000 --period day --last 1 'A:"MACD.DEA";' >/dev/null || fail "eval"
"$cli" market --appdir "$work/app" >/dev/null || fail "market"
"$cli" quote --appdir "$work/app" SH600000 >/dev/null || fail "quote"
"$cli" series --appdir "$work/app" SH600000 week >/dev/null || fail "series"
"$cli" bars --appdir "$work/app" SH600000 day >/dev/null || fail "bars"
[ "$before" = "$(find "$work/app" -printf '%p %s %T@\n' | sort)" ] || fail "a reading command changed the directory"

finish eval
