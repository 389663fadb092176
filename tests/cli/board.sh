#!/bin/bash
# tessaro-cli board and wizard over a generated market: the page as CSV, sorted by a
# column as an independent sort of its printed values orders it, and the wizard's matches.
# usage: bash board.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
dir="$work/m"
"$cli" gen --out "$dir" --securities 60 --days 5 >/dev/null || fail "gen"

out=$("$cli" board --appdir "$dir" --columns 最新,涨幅,总手,foo) || fail "board"
[ "$(head -1 <<<"$out")" = "编号,股票代码,股票名称,最新,涨幅,总手,foo" ] || fail "header: $(head -1 <<<"$out")"
members=$("$cli" block show --appdir "$dir" 沪市A股 | tail -n +2 | wc -l)
[ "$(tail -n +2 <<<"$out" | wc -l)" = "$members" ] || fail "rows: one per member of 沪市A股"
# An unknown column shows 昨收; 编号 counts the rows.
full=$("$cli" board --appdir "$dir" --columns 昨收,foo --rows 3) || fail "board foo"
awk -F, 'NR>1 && $4 != $5 { bad=1 } END { exit bad }' <<<"$full" || fail "foo is not 昨收: $full"
[ "$(cut -d, -f1 <<<"$full" | tail -n +2 | tr '\n' ' ')" = "1 2 3 " ] || fail "编号: $full"

# --sort: descending by the number shown (empty cells last), --asc ascending; stable by block order.
sorted=$("$cli" board --appdir "$dir" --page 沪深A股 --sort 涨幅 --columns 涨幅) || fail "sort"
want=$(tail -n +2 <<<"$sorted" | python3 -c '
import sys
rows=[l.rstrip("\n").split(",") for l in sys.stdin]
key=lambda r: float(r[3].rstrip("%")) if r[3] else None
print("\n".join(r[3] for r in sorted([r for r in rows if key(r) is not None], key=key, reverse=True) + [r for r in rows if key(r) is None]))')
[ "$(tail -n +2 <<<"$sorted" | cut -d, -f4)" = "$want" ] || fail "sort order"
asc=$("$cli" board --appdir "$dir" --page 沪深A股 --sort 最新 --asc --columns 最新 --rows 2 | tail -n +2 | cut -d, -f4)
python3 -c 'import sys; a=[float(x) for x in sys.argv[1].split()]; sys.exit(a != sorted(a))' "$asc" || fail "asc: $asc"

subcommand=board
expect "unknown page" 1 "no block named 无此板块" -- --appdir "$dir" --page 无此板块
expect "unknown field" 1 "unknown field" -- --appdir "$dir" --sort 无此字段
expect "no number sort" 1 "编号" -- --appdir "$dir" --sort 编号
expect "bad rows" 2 "usage" -- --appdir "$dir" --rows x

subcommand=wizard
w=$("$cli" wizard --appdir "$dir" 6) || fail "wizard"
[ "$(head -3 <<<"$w" | tr '\n' ' ')" = "1,6,日线 1,60,沪深A股涨幅 1,601,沪深权证涨幅 " ] || fail "wizard 6: $w"
grep -qE '^4,S[HZ][0-9]*6,' <<<"$w" || fail "securities ending with 6"
[ "$("$cli" wizard --appdir "$dir" 81 | head -1)" = "1,81,沪A股综合" ] || fail "wizard 81"
[ -z "$("$cli" wizard --appdir "$dir" zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz)" ] || fail "long text"
expect "usage" 2 "usage" -- --appdir "$dir"
finish board
