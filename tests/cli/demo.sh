#!/bin/bash
# tessaro-cli demo: generates the demo market on the first run, reads it on the next,
# and shows its quote list and weekly bars.
# usage: bash demo.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
APP="$work/app"

# First run: the market is generated into the application directory.
first=$("$cli" demo --appdir "$APP") || fail "first run"
echo "$first" | grep -q "^Demo market: generated " || fail "first run did not generate: $(echo "$first" | sed -n 3p)"
[ -f "$APP/data/sh/stkinfo.dat" ] || fail "no market file"
[ -f "$APP/data/sh/day/600000.day" ] || fail "no day history of SH600000"
stamp=$(stat -c %Y.%s "$APP/data/sh/stkinfo.dat" "$APP/data/sh/day/600000.day")

# Second run: the same market is read, nothing is rewritten, the output is the same.
sleep 1
second=$("$cli" demo --appdir "$APP") || fail "second run"
echo "$second" | grep -q "^Demo market: reading the market in $APP/$" || fail "second run did not reuse: $(echo "$second" | sed -n 3p)"
[ "$(stat -c %Y.%s "$APP/data/sh/stkinfo.dat" "$APP/data/sh/day/600000.day")" = "$stamp" ] \
    || fail "second run rewrote the market"
[ "$(echo "$first" | sed 1,3d)" = "$(echo "$second" | sed 1,3d)" ] || fail "the two runs differ"
out="$second"

# The quote list: the catalogue's names as the header, one row per security.
quotes=$(echo "$out" | sed -n '/^Quote list$/,/^$/p' | sed 1d)
header=$(echo "$quotes" | head -1)
for name in 股票代码 股票名称 最新 涨跌 涨幅 总手 换手率; do
    echo "$header" | grep -q "$name" || fail "quote list lacks $name: $header"
done
for sec in SH000001 SZ399001 SH600000 SZ000001; do
    echo "$quotes" | grep -q "^  $sec " || fail "quote list lacks $sec"
done
# SH600000's figures against its own fields: 涨跌 = 最新 - 昨收, 涨幅 = 涨跌 / 昨收 in percent.
fields=$("$cli" fields --appdir "$APP" SH600000) || fail "fields"
field() { echo "$fields" | sed -n "s/^$1=//p"; }
row=$(echo "$quotes" | grep "^  SH600000 ")
read -r _ _ last change pct volume _ turnover _ <<<"$row"
[ "$last" = "$(field 最新)" ] || fail "最新 $last, fields say $(field 最新)"
[ "$volume" = "$(field 总手)" ] || fail "总手 $volume"
[ "$turnover" = "$(field 换手率)" ] || fail "换手率 $turnover"
expected=$(awk -v p="$(field 昨收)" -v l="$last" 'BEGIN { printf "%+.2f %+.2f%%", l - p, (l - p) / p * 100 }')
[ "$change $pct" = "$expected" ] || fail "涨跌 涨幅 $change $pct, by hand $expected"
# An index has no turnover: its cell is empty, so the row has one figure fewer.
[ "$(echo "$quotes" | grep "^  SH000001 " | wc -w)" = 8 ] || fail "index row: $(echo "$quotes" | grep "^  SH000001 ")"

# The weekly bars: a CSV of 8 bars, the newest week ending on the day in progress.
csv=$(echo "$out" | sed -n '/^Weekly bars of SH600000, forward adjusted/,/^$/p' | sed '1d;/^$/d')
[ "$(echo "$csv" | head -1)" = "date,open,high,low,close,volume,amount" ] || fail "weekly header: $csv"
[ "$(echo "$csv" | sed 1d | wc -l)" = 8 ] || fail "not 8 weekly bars: $csv"
[ "$(echo "$csv" | sed 1d | cut -d, -f1 | sort -u | tr '\n' ' ')" = "$(echo "$csv" | sed 1d | cut -d, -f1 | tr '\n' ' ')" ] \
    || fail "weekly dates not increasing"
[ "$(echo "$csv" | tail -1 | cut -d, -f1)" = 2025-06-13 ] || fail "last week: $(echo "$csv" | tail -1)"
# The same as the series command prints.
[ "$csv" = "$("$cli" series --appdir "$APP" SH600000 week --last 8)" ] || fail "demo and series disagree"
# The last two weeks added up by hand from the forward-adjusted day bars of their days:
# first open, highest high, lowest low, last close, summed volume.
days=$("$cli" series --appdir "$APP" SH600000 day --last 30) || fail "day series"
week() {
    echo "$days" | awk -F, -v from="$1" -v to="$2" '
        NR > 1 && $1 >= from && $1 <= to {
            if (n++ == 0) { o = $2; h = $3; l = $4 }
            if ($3 + 0 > h + 0) h = $3
            if ($4 + 0 < l + 0) l = $4
            c = $5; v += $6; d = $1
        }
        END { printf "%s,%s,%s,%s,%s,%d", d, o, h, l, c, v }'
}
for range in "2025-06-09 2025-06-13" "2025-06-02 2025-06-06"; do
    expected=$(week $range)
    echo "$csv" | cut -d, -f1-6 | grep -qx "$expected" || fail "week $range: expected $expected in $csv"
done

# Daily MACD from the installed indicator library, against EMAs worked out by awk from
# every forward-adjusted close (EMA starts at the first close; Y = (2X + (N-1)Y') / (N+1)).
[ -f "$APP/base/common.fml" ] || fail "the indicator library was not installed"
macd=$(echo "$out" | sed -n '/^Daily MACD of SH600000 from the formula set/,$p' | sed 1d)
[ "$(echo "$macd" | head -1)" = "date,DIF,DEA,MACD" ] || fail "MACD header: $macd"
[ "$(echo "$macd" | sed 1d | wc -l)" = 5 ] || fail "not 5 MACD bars: $macd"
expected=$("$cli" series --appdir "$APP" SH600000 day | awk -F, '
    NR == 1 { next }
    { c = $5 + 0
      if (NR == 2) { s = c; l = c } else { s = (2 * c + 11 * s) / 13; l = (2 * c + 25 * l) / 27 }
      dif = s - l
      dea = NR == 2 ? dif : (2 * dif + 8 * dea) / 10
      row[NR] = sprintf("%s %.6f %.6f %.6f", $1, dif, dea, 2 * (dif - dea)) }
    END { for (i = NR - 4; i <= NR; ++i) print row[i] }')
paste -d' ' <(echo "$macd" | sed 1d | tr , ' ') <(echo "$expected") | awk '
    $1 != $5 { print "date " $1 " vs " $5; bad = 1 }
    { for (k = 2; k <= 4; ++k) { d = $k - $(k + 4); if (d < 0) d = -d; if (d > 0.0002) { print $0; bad = 1 } } }
    END { exit bad }' || fail "MACD differs from the hand computation"

# fields: all 83 catalogue fields; an unknown security is an error.
[ "$(echo "$fields" | wc -l)" = 83 ] || fail "fields printed $(echo "$fields" | wc -l) lines"
[ "$(echo "$fields" | head -1 | cut -d= -f1)" = 昨收 ] && [ "$(echo "$fields" | tail -1)" = "股票名称=$(field 股票名称)" ] \
    || fail "fields order"
[ -n "$(field 股票名称)" ] && [ "$(field 股票代码)" = 600000 ] && [ "$(field 编号)" = 1600000 ] || fail "identity fields"
"$cli" fields --appdir "$APP" SH688999 >/dev/null 2>&1; [ $? = 1 ] || fail "fields of an unknown security"

# The history files and the ex-rights list behind the series.
bars=$("$cli" bars --appdir "$APP" SH600000 day) || fail "bars"
[ "$(echo "$bars" | sed 1d | wc -l)" = 250 ] || fail "not 250 stored days"
[ "$(echo "$bars" | tail -1 | cut -d, -f1)" = 2025-06-12 ] || fail "stored days end $(echo "$bars" | tail -1)"
"$cli" bars --appdir "$APP" SH600000 min | sed -n 2p | grep -q '^2025-06-06 09:31,' || fail "minute file labels"
power=$("$cli" power --appdir "$APP" SH600000) || fail "power"
[ "$(echo "$power" | sed 1d | wc -l)" -ge 1 ] || fail "SH600000 has no ex-rights event"
exdate=$(echo "$power" | sed -n 2p | cut -d, -f1)

# series with each adjustment: the same days; forward and none agree from the last
# ex-date on, backward and none before the first; all differ before it.
none=$("$cli" series --appdir "$APP" SH600000 day --adjust none) || fail "series none"
fwd=$("$cli" series --appdir "$APP" SH600000 day --adjust forward) || fail "series forward"
back=$("$cli" series --appdir "$APP" SH600000 day --adjust backward) || fail "series backward"
[ "$fwd" = "$("$cli" series --appdir "$APP" SH600000 day)" ] || fail "forward is not the default"
[ "$(echo "$none" | cut -d, -f1)" = "$(echo "$fwd" | cut -d, -f1)" ] || fail "adjustments change the days"
[ "$(echo "$none" | tail -1)" = "$(echo "$fwd" | tail -1)" ] || fail "forward changed today's bar"
[ "$(echo "$none" | sed -n 2p)" = "$(echo "$back" | sed -n 2p)" ] || fail "backward changed the first day"
[ "$(echo "$none" | sed -n 2p)" != "$(echo "$fwd" | sed -n 2p)" ] || fail "forward left the first day before $exdate"
[ "$(echo "$none" | sed 1d | wc -l)" = 251 ] || fail "day series is not 250 days and today"
# Volumes are never adjusted.
[ "$(echo "$none" | cut -d, -f6)" = "$(echo "$back" | cut -d, -f6)" ] || fail "volumes adjusted"
"$cli" series --appdir "$APP" SH600000 week --adjust sideways >/dev/null 2>&1; [ $? = 2 ] || fail "bad --adjust"
"$cli" series --appdir "$APP" SH600000 fortnight >/dev/null 2>&1; [ $? = 2 ] || fail "bad period"
"$cli" series --appdir "$APP" SH688999 day >/dev/null 2>&1; [ $? = 1 ] || fail "series of an unknown security"
tsh=$("$cli" series --appdir "$APP" SH600000 TIME --days 2) || fail "time-sharing"
[ "$(echo "$tsh" | sed 1d | cut -d' ' -f1 | sort -u | wc -l)" = 2 ] || fail "time-sharing over two days"

# gen: bad options are usage errors.
"$cli" gen --securities 10 >/dev/null 2>&1; [ $? = 2 ] || fail "gen without --out"
"$cli" gen --out "$work/bad" --securities 1 >/dev/null 2>&1; [ $? = 2 ] || fail "gen --securities 1"
"$cli" gen --out "$work/bad" --today 2025-13-01 >/dev/null 2>&1; [ $? = 2 ] || fail "gen with a bad date"

# A directory whose market files are missing (a generation cut short) is generated again.
rm "$APP/data/sh/stkinfo.dat"
"$cli" demo --appdir "$APP" | grep -q "^Demo market: generated " || fail "no regeneration"

# A market without the demo's securities still shows what it has.
"$cli" gen --out "$work/small" --securities 2 >/dev/null || fail "gen small"
small=$("$cli" demo --appdir "$work/small") || fail "demo on a small market"
echo "$small" | sed -n '/^Quote list$/,/^$/p' | grep -q "^  SH000001 " || fail "small market: no index row"
echo "$small" | grep -q "SH600000 is not in this market" || fail "small market: $small"

# Bad input: extra arguments are a usage error; a directory that cannot be made fails.
"$cli" demo --appdir "$APP" extra >/dev/null 2>&1; [ $? = 2 ] || fail "extra argument accepted"
touch "$work/file"
err=$("$cli" demo --appdir "$work/file/app" 2>&1 >/dev/null); [ $? = 1 ] || fail "unwritable directory accepted"
echo "$err" | grep -q "cannot generate the demo market" || fail "no reason given: $err"
finish demo
