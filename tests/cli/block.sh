#!/bin/bash
# tessaro-cli block and block-index over a generated market; the indexes are checked
# against an independent computation from the files (block_index_oracle.py).
# usage: bash block.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
here=$(dirname "$0")
dir="$work/m"
"$cli" gen --out "$dir" --securities 300 --days 120 >/dev/null || fail "gen"

# The demo's blocks: rule blocks, 30 industries with index codes, 10 concepts, 自选股1.
list=$("$cli" block list --appdir "$dir") || fail "list"
[ "$(head -1 <<<"$list")" = "name,setting,category,index,members" ] || fail "list header: $(head -1 <<<"$list")"
grep -qx '沪市A股,1,,,[0-9]*' <<<"$list" || fail "rule block line"
[ "$(grep -c ',0,行业,999[1-8][0-9][0-9],' <<<"$list")" = 30 ] || fail "30 industries with indexes"
[ "$(grep -c ',0,概念,,' <<<"$list")" = 10 ] || fail "10 concepts"
grep -q '^自选股1,2,,,[1-9]' <<<"$list" || fail "自选股1 with members"
show=$("$cli" block show --appdir "$dir" 银行) || fail "show"
[ "$(head -1 <<<"$show")" = "security,name" ] || fail "show header"
grep -qE '^S[HZ][0-9]{6},.+' <<<"$show" || fail "show member line: $show"

# Management: refusals print the message and exit 1.
subcommand=block
expect "exists" 1 "该板块已存在,无法新建!" -- create --appdir "$dir" 自选股3
expect "bad name" 1 "板块文件命名错误,无法新建!" -- create --appdir "$dir" ../evil
[ -e "$dir/evil.blk" ] && fail "a block file left the block directory"
# A management command writes blocks only: the market files keep their bytes and times.
markets() { for f in "$dir"/data/*/stkinfo.dat; do echo "$f $(stat -c '%i %Y.%y' "$f") $(sha256sum <"$f")"; done; }
before=$(markets)
[ -n "$before" ] || fail "no market files"
expect "create" 0 -- create --appdir "$dir" 我的行业 --setting 0 --category 行业
expect "index" 0 "999130" -- index-create --appdir "$dir" 我的行业
expect "add" 0 -- add --appdir "$dir" 我的行业 SH600000 SZ000001
[ "$(markets)" = "$before" ] || fail "block commands rewrote the market files"
expect "add bad" 2 -- add --appdir "$dir" 我的行业
expect "rename taken" 1 "板块 银行 已存在,无法命名!" -- rename --appdir "$dir" 我的行业 银行
expect "rename" 0 -- rename --appdir "$dir" 我的行业 新行业
[ -e "$dir/block/我的行业.blk" ] && fail "old file left after rename"
expect "remove" 0 -- remove --appdir "$dir" 新行业 SZ000001
[ "$("$cli" block show --appdir "$dir" 新行业 | tail -n +2 | cut -d, -f1)" = SH600000 ] || fail "members after remove"
expect "index delete" 0 -- index-delete --appdir "$dir" 新行业
expect "index again" 0 "999130" -- index-create --appdir "$dir" 新行业
expect "delete" 0 -- delete --appdir "$dir" 新行业
"$cli" block list --appdir "$dir" | grep -q '^新行业,' && fail "deleted block still listed"
expect "rule block" 1 "rule block" -- add --appdir "$dir" 沪市A股 SH600000
subcommand=""

# The index run prints its progress and the count; the indexes agree with the oracle.
out=$("$cli" block-index --appdir "$dir") || fail "block-index: $out"
[ "$(head -1 <<<"$out")" = "正在初始化计算,请稍后..." ] || fail "first progress text"
grep -qE '^计算[0-9]{6} .+ \.\.\.$' <<<"$out" || fail "member progress text"
grep -qx '刷新999100 银行 ...' <<<"$out" || fail "index progress text"
[ "$(tail -1 <<<"$out")" = "indexes 31" ] || fail "index count: $(tail -1 <<<"$out")"
python3 "$here/block_index_oracle.py" "$dir" >/dev/null || fail "indexes differ from the independent computation: $(python3 "$here/block_index_oracle.py" "$dir")"
bars=$("$cli" bars --appdir "$dir" '$$999100' day) || fail "bars of the index"
[ "$(wc -l <<<"$bars")" -eq "$(($("$cli" bars --appdir "$dir" SH000001 day | wc -l)))" ] || fail "index bars per calendar day"

finish block
