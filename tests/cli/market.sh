#!/bin/bash
# tessaro-cli market and quote against a small generated market.
# usage: bash market.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"

# 12 securities besides the composite index, a trading day in progress at 10:15.
"$cli" gen --out "$work/app" --securities 12 --days 3 --five-minute-days 1 --one-minute-days 1 \
    --today 2024-03-04 --now 10:15 >/dev/null || fail "gen"
APP="$work/app"

# ---- market ----------------------------------------------------------------------
out=$("$cli" market --appdir "$APP" --first 4096) || fail "market"
echo "$out" | grep -Eq '^SH records=[0-9]+ date=2024-03-04$' || fail "SH header: $out"
echo "$out" | grep -Eq '^SZ records=[0-9]+ date=2024-03-04$' || fail "SZ header: $out"
echo "$out" | grep -qx '\$\$ records=1 date=2024-03-04' || fail "system market header: $out"
sh=$(echo "$out" | sed -n 's/^SH records=\([0-9]*\) .*/\1/p')
sz=$(echo "$out" | sed -n 's/^SZ records=\([0-9]*\) .*/\1/p')
[ $((sh + sz)) = 12 ] || fail "SH $sh + SZ $sz records, expected the 12 generated"
# Every security is listed once under its market, names in UTF-8, codes in order.
[ "$(echo "$out" | grep -c '^  SH')" = "$sh" ] || fail "SH lines differ from its count"
[ "$(echo "$out" | grep -c '^  SZ')" = "$sz" ] || fail "SZ lines differ from its count"
echo "$out" | grep -qx '  SH000001 上证指数' || fail "SH index line"
echo "$out" | grep -qx '  SZ399001 深证成指' || fail "SZ index line"
echo "$out" | grep -qx '  \$\$999999 沪深A股指数' || fail "composite index line"
codes=$(echo "$out" | sed -n 's/^  SH\([0-9]*\) .*/\1/p')
[ "$codes" = "$(echo "$codes" | sort)" ] || fail "SH not in code order: $codes"
[ "$(echo "$codes" | head -1)" = 000001 ] || fail "SH000001 is not first"
echo "$out" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || fail "market output is not UTF-8"

# --first bounds the lines per market; 0 leaves the three headers.
[ "$("$cli" market --appdir "$APP" --first 0 | wc -l)" = 3 ] || fail "--first 0"
out=$("$cli" market --appdir "$APP" --first 1) || fail "market --first 1"
[ "$(echo "$out" | wc -l)" = 6 ] || fail "--first 1 printed: $out"
[ "$(echo "$out" | sed -n 2p)" = '  SH000001 上证指数' ] || fail "--first 1 SH line"
# Five by default.
[ "$("$cli" market --appdir "$APP" | grep -c '^  SH')" = $((sh < 5 ? sh : 5)) ] || fail "default of five"

# ---- quote -----------------------------------------------------------------------
out=$("$cli" quote --appdir "$APP" SH000001) || fail "quote SH000001"
for line in 'code=SH000001' 'name=上证指数' 'class=1' 'time=2024-03-04 10:15:00'; do
    echo "$out" | grep -qxF "$line" || fail "quote SH000001 lacks '$line': $out"
done
# Every line is name=value, every snapshot field is there, and once.
echo "$out" | grep -qv '^[A-Za-z0-9]*=' && fail "not name=value: $out"
for name in code name class time prevClose open high low close volume amount avgVolume5 price5MinAgo \
    bidPrice1 bidVolume1 bidPrice5 bidVolume5 askPrice1 askVolume1 askPrice5 askVolume5 \
    lastVolume lastAmount lastDirection sellVolume buyVolume circulating totalCapital ticks; do
    [ "$(echo "$out" | grep -c "^$name=")" = 1 ] || fail "field $name not printed once"
done

# An A share: lower-case market letters are accepted; its values agree with its ticks.
out=$("$cli" quote --appdir "$APP" sh600000) || fail "quote sh600000"
echo "$out" | grep -qx 'code=SH600000' || fail "lower-case security: $out"
echo "$out" | grep -qx 'class=2' || fail "SH600000 class"
val() { echo "$out" | sed -n "s/^$1=//p"; }
ticks=$("$cli" series --appdir "$APP" SH600000 tick) || fail "series tick"
[ "$(val ticks)" = $(($(echo "$ticks" | wc -l) - 1)) ] || fail "ticks=$(val ticks) but series has $(echo "$ticks" | wc -l) lines"
[ "$(val ticks)" -gt 0 ] || fail "no ticks today"
# The last tick is the last trade: its price the close, its cumulative volume the volume.
last=$(echo "$ticks" | tail -1)
[ "$(echo "$last" | cut -d, -f5)" = "$(val close)" ] || fail "close $(val close) vs last tick $last"
[ "$(echo "$last" | cut -d, -f6)" = "$(val volume)" ] || fail "volume $(val volume) vs last tick $last"
awk -v o="$(val open)" -v h="$(val high)" -v l="$(val low)" -v c="$(val close)" \
    -v b1="$(val bidPrice1)" -v b2="$(val bidPrice2)" -v a1="$(val askPrice1)" -v a2="$(val askPrice2)" \
    'BEGIN { exit !(l > 0 && l <= o && l <= c && h >= o && h >= c && b2 < b1 && b1 < a1 && a1 < a2) }' \
    || fail "inconsistent prices: $out"

# ---- errors ----------------------------------------------------------------------
"$cli" quote --appdir "$APP" SH600999 >"$work/out" 2>"$work/err"; rc=$?
[ $rc = 1 ] || fail "unknown security exited $rc"
grep -q 'unknown security SH600999' "$work/err" || fail "unknown security message: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "unknown security printed on stdout"
"$cli" quote --appdir "$work/none" SH600000 >/dev/null 2>"$work/err"; rc=$?
[ $rc = 1 ] || fail "missing directory exited $rc"
grep -q 'no market data' "$work/err" || fail "missing directory message: $(cat "$work/err")"
[ ! -e "$work/none" ] || fail "a missing directory was created"
"$cli" market --appdir "$work/none" >/dev/null 2>&1; [ $? = 1 ] || fail "market of a missing directory"
for bad in XX600000 SH "" 600000; do
    "$cli" quote --appdir "$APP" "$bad" >/dev/null 2>&1; rc=$?
    [ $rc = 2 ] || fail "quote '$bad' exited $rc"
done
"$cli" quote --appdir "$APP" >/dev/null 2>&1; [ $? = 2 ] || fail "quote without a security"
"$cli" quote --appdir "$APP" SH600000 SZ000001 >/dev/null 2>&1; [ $? = 2 ] || fail "quote of two securities"
for bad in -1 4097 abc ""; do
    "$cli" market --appdir "$APP" --first "$bad" >/dev/null 2>&1; rc=$?
    [ $rc = 2 ] || fail "market --first '$bad' exited $rc"
done
"$cli" market --appdir "$APP" extra >/dev/null 2>&1; [ $? = 2 ] || fail "market with an argument"

# A torn Shanghai file: that market starts empty, the others are untouched.
cp -r "$APP" "$work/torn"
head -c 1000 "$APP/data/sh/stkinfo.dat" > "$work/torn/data/sh/stkinfo.dat"
out=$("$cli" market --appdir "$work/torn" 2>"$work/torn.err") || fail "market over a torn file"
echo "$out" | grep -qx 'SH records=0 date=none' || fail "torn SH file: $out"
echo "$out" | grep -qx "SZ records=$sz date=2024-03-04" || fail "torn SH file changed SZ: $out"
# The loss is reported with a count; a reading command leaves the torn file byte for byte.
grep -q 'stkinfo.dat is damaged: 7 securities lost' "$work/torn.err" || fail "loss not reported: $(cat "$work/torn.err")"
cmp -s "$work/torn/data/sh/stkinfo.dat" <(head -c 1000 "$APP/data/sh/stkinfo.dat") || fail "a reading command rewrote the torn file"
[ ! -e "$work/torn/data/sh/stkinfo.dat.bad" ] || fail "a reading command set a copy aside"
[ ! -e "$work/torn/data/sz/stkinfo.dat.bad" ] || fail "a sound SZ file was set aside"
# A cut tail keeps every whole record before it.
cp -r "$APP" "$work/cut"
head -c $((8 + 7383 * 3 + 100)) "$APP/data/sh/stkinfo.dat" > "$work/cut/data/sh/stkinfo.dat"
out=$("$cli" market --appdir "$work/cut" 2>/dev/null) || fail "market over a cut file"
echo "$out" | grep -qx 'SH records=3 date=none' || echo "$out" | grep -q '^SH records=3 ' || fail "cut SH file: $out"
# A read-only directory still serves the reading commands.
if [ "$(id -u)" != 0 ]; then
    chmod -R a-w "$work/cut"
    "$cli" market --appdir "$work/cut" >/dev/null 2>&1 || fail "market on a read-only directory"
    chmod -R u+w "$work/cut"
elif command -v setpriv >/dev/null; then
    chmod -R a-w,a+rX "$work/cut"; chmod a+rx "$work"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" market --appdir "$work/cut" >/dev/null 2>&1 ||
        fail "market on a read-only directory"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" quote --appdir "$work/cut" SH600000 >/dev/null 2>&1 ||
        fail "quote on a read-only directory"
    chmod -R u+w "$work/cut"
fi
"$cli" quote --appdir "$work/torn" SH600000 >/dev/null 2>&1; [ $? = 1 ] || fail "quote from an emptied market"
finish market
