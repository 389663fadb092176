#!/bin/bash
# tessaro-cli bars, bars-import and power against files made here.
# usage: bash history.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"

# Day bars: imported out of order with an intraday stamp, printed sorted at their days.
cat > "$work/day.csv" <<'CSV'
date,open,high,low,close,volume,amount
2024-01-03,10.5,11,10.25,10.75,1000,1075000
2024-01-02 14:59,10,10.5,9.5,10.25,2000,2050000
CSV
"$cli" bars-import --appdir "$work" SH600000 day "$work/day.csv" >/dev/null || fail "import day"
[ "$(stat -c %s "$work/data/sh/day/600000.day")" = 64 ] || fail "day file is not two 32-byte bars"
out=$("$cli" bars --appdir "$work" SH600000 day) || fail "bars day"
expected='date,open,high,low,close,volume,amount
2024-01-02,10,10.5,9.5,10.25,2000,2050000
2024-01-03,10.5,11,10.25,10.75,1000,1075000'
[ "$out" = "$expected" ] || fail "bars day printed: $out"

# A top-up of the last day replaces it; a trailing partial record is ignored and then cut off.
printf 'xyz' >> "$work/data/sh/day/600000.day"
[ "$("$cli" bars --appdir "$work" SH600000 day | wc -l)" = 3 ] || fail "partial record not ignored"
echo "2024-01-03,10.5,12,10.25,11.5,1500,1700000" | "$cli" bars-import --appdir "$work" SH600000 day - >/dev/null \
    || fail "top-up"
[ "$(stat -c %s "$work/data/sh/day/600000.day")" = 64 ] || fail "top-up did not rewrite to whole bars"
"$cli" bars --appdir "$work" SH600000 day | grep -qx '2024-01-03,10.5,12,10.25,11.5,1500,1700000' || fail "top-up value"

# Intraday bars print with their minute.
echo "2024-01-03 09:35,1,2,0.5,1.5,10,100" | "$cli" bars-import --appdir "$work" SZ000001 fiv - >/dev/null || fail "fiv"
"$cli" bars --appdir "$work" SZ000001 fiv | grep -qx '2024-01-03 09:35,1,2,0.5,1.5,10,100' || fail "fiv format"

# A missing file is an empty history; bad arguments are usage errors; bad CSV fails.
[ "$("$cli" bars --appdir "$work" SZ000002 day)" = "date,open,high,low,close,volume,amount" ] || fail "missing file"
"$cli" bars --appdir "$work" SH600000 week >/dev/null 2>&1; [ $? = 2 ] || fail "week accepted"
"$cli" bars --appdir "$work" XX600000 day >/dev/null 2>&1; [ $? = 2 ] || fail "bad market accepted"
echo "2024-01-04,1,2" | "$cli" bars-import --appdir "$work" SH600000 day - >/dev/null 2>&1; [ $? = 1 ] || fail "bad csv"
[ "$("$cli" bars --appdir "$work" SH600000 day | wc -l)" = 3 ] || fail "bad csv changed the file"

# Power.pwr: header, one group for SH600000 with one record and one all-zero record, then a torn record.
mkdir -p "$work/base"
{
    printf '\x32\xc8\x43\xff\xdd\x83\xcc\xff'
    printf '\xff\xff\xff\xff' ; printf 'SH600000\0\0\0\0' ; printf '\0\0\0\0'
    printf '\x00\x2a\x8f\x64\x00\x00\x00\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x3e'
    printf '\x00\x2a\x8f\x64\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x00\x2a\x8f'
} > "$work/base/Power.pwr"
out=$("$cli" power --appdir "$work" SH600000 2>/dev/null) || fail "power"
expected='date,bonus,rights,rights_price,dividend
2023-06-19,0.5,0,0,0.25'
[ "$out" = "$expected" ] || fail "power printed: $out"
[ "$("$cli" power --appdir "$work" SZ000001 2>/dev/null)" = "date,bonus,rights,rights_price,dividend" ] || fail "unlisted"
printf 'garbage!' > "$work/base/Power.pwr"
"$cli" power --appdir "$work" SH600000 >/dev/null 2>&1; [ $? = 1 ] || fail "garbage Power.pwr accepted"
# Values a bar cannot have are refused with their line, and one bad line stores nothing.
mkdir -p "$work/checked"
before=$("$cli" bars --appdir "$work" SH600000 day)
for bad in "nan,11,9,10,100,1000" "inf,11,9,10,100,1000" "10,11,9,10,-inf,1000" "-1,11,9,10,100,1000" \
           "10,11,9,10,-100,1000" "10,11,9,10,100,-1" "10,9,11,10,100,1000"; do
    printf '2024-02-01,10,11,9,10,100,1000\n2024-02-02,%s\n' "$bad" >"$work/bad.csv"
    out=$("$cli" bars-import --appdir "$work" SH600000 day "$work/bad.csv" 2>&1)
    [ $? = 1 ] || fail "bars-import accepted $bad"
    grep -q 'line 2' <<<"$out" || fail "bars-import did not name line 2 for $bad: $out"
done
[ "$("$cli" bars --appdir "$work" SH600000 day)" = "$before" ] || fail "a refused import changed the day file"
# A date beyond what the store time holds is refused, not wrapped to the last century.
out=$(echo "2036-02-06,10,11,9,10,100,1000" | "$cli" bars-import --appdir "$work" SH600000 day - 2>&1)
[ $? = 1 ] && grep -q 'line 1' <<<"$out" || fail "2036-02-06 accepted: $out"
[ "$("$cli" bars --appdir "$work" SH600000 day)" = "$before" ] || fail "an out-of-range date changed the day file"
"$cli" gen --out "$work/late" --today 2036-02-06 >/dev/null 2>&1; [ $? != 0 ] || fail "gen --today 2036-02-06 accepted"
# A byte-order mark before a headerless first row does not lose that row.
printf '\xef\xbb\xbf2024-03-01,10,11,9,10,100,1000\n2024-03-04,10,11,9,10,100,1000\n' >"$work/bom.csv"
"$cli" bars-import --appdir "$work" SZ000002 day "$work/bom.csv" >/dev/null || fail "bom import"
[ "$("$cli" bars --appdir "$work" SZ000002 day | wc -l)" = 3 ] || fail "the row after the byte-order mark was lost"
finish history
