#!/bin/bash
# tessaro-cli screen over a generated market: the hits agree with an independent
# computation from the day files (screen_oracle.py), at the last bar and inside a
# historical window, and they are written into a block.
# usage: bash screen.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
here=$(dirname "$0")
dir="$work/m"
"$cli" gen --out "$dir" --securities 300 --days 200 >/dev/null || fail "gen"
formula='CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10)'

# compare NAME ORACLE_OUTPUT CLI_OUTPUT: the hits agree, near ties left out.
compare() {
    local ties want got
    ties=$(sed -n 's/^? //p' <<<"$2")
    want=$(grep -v '^?' <<<"$2")
    got=$(grep -v '^screened ' <<<"$3" | cut -d, -f1 | grep -vxF -f <(echo "${ties:-none}") | sort)
    [ "$want" = "$got" ] || fail "$1: hits differ from the independent computation
  oracle: $(tr '\n' ' ' <<<"$want")
  cli:    $(tr '\n' ' ' <<<"$got")"
}

# A first start screens 沪深A股: every A share once, hits in range order.
out=$("$cli" screen --appdir "$dir" "$formula" 2>"$work/err") || fail "screen: $(cat "$work/err")"
[ -s "$work/err" ] && fail "progress written to a stderr that is no terminal: $(cat "$work/err")"
shares=$(($("$cli" block show --appdir "$dir" 沪深A股 | wc -l) - 1))
grep -qxE "screened $shares hits [0-9]+ in [0-9]+ ms" <<<"$(tail -1 <<<"$out")" || fail "summary: $(tail -1 <<<"$out")"
hits=$(grep -vc '^screened ' <<<"$out")
grep -qx "screened $shares hits $hits in [0-9]* ms" <<<"$(tail -1 <<<"$out")" || fail "hit count in the summary"
grep -v '^screened ' <<<"$out" | grep -qvE '^S[HZ][0-9]{6},.+$' && fail "hit line format: $out"
compare "last bar" "$(python3 "$here/screen_oracle.py" "$dir")" "$out"

# The same range named twice, and one thread against every core: the same lines.
again=$("$cli" screen --appdir "$dir" "$formula" --range '沪深A股,沪深A股,' --threads 1)
[ "$(grep -v '^screened' <<<"$again")" = "$(grep -v '^screened' <<<"$out")" ] || fail "range twice / one thread"
grep -q "^screened $shares " <<<"$again" || fail "a block named twice is screened once"

# The historical window.
window=$("$cli" screen --appdir "$dir" "$formula" --from 2025-03-01 --to 2025-06-13) || fail "window"
compare "window" "$(python3 "$here/screen_oracle.py" "$dir" 2025-03-01 2025-06-13)" "$window"
[ "$(grep -vc '^screened' <<<"$window")" -gt "$hits" ] || fail "a window of months finds more than the last bar"

# Into a block: created, then replaced; the block holds the hits in order.
"$cli" screen --appdir "$dir" "$formula" --into 选股结果 >/dev/null 2>"$work/err" || fail "into"
grep -qx "选股完成(共选中${hits}只)!" "$work/err" || fail "message: $(cat "$work/err")"
[ "$("$cli" block show --appdir "$dir" 选股结果 | tail -n +2)" = "$(grep -v '^screened' <<<"$out")" ] || fail "block members"
"$cli" block list --appdir "$dir" | grep -q '^选股结果,3,' || fail "a screening-result block"
"$cli" screen --appdir "$dir" 'C<0' --into 选股结果 >/dev/null 2>&1 || fail "into again"
[ "$("$cli" block show --appdir "$dir" 选股结果 | wc -l)" = 1 ] || fail "members replaced"

# Stored formulas, parameters and lines; bad input.
expect_status 0 "$cli" screen --appdir "$dir" --formula MACD --param SHORT=10 --line DIF --range 沪市A股
subcommand=screen
expect "unknown block" 1 "no block named 无此板块" -- --appdir "$dir" C --range 无此板块
expect "unknown formula" 1 "no formula named NOPE" -- --appdir "$dir" --formula NOPE
expect "unknown param" 1 "no parameter X" -- --appdir "$dir" --formula MACD --param X=1
expect "unknown line" 1 "no line ZZ" -- --appdir "$dir" --formula MACD --line ZZ
expect "bad period" 2 -- --appdir "$dir" C --period fortnight
expect "half window" 1 "--from and --to go together" -- --appdir "$dir" C --from 2025-01-01
expect "bad date" 1 "bad date" -- --appdir "$dir" C --from 2025-13-01 --to 2025-12-01
expect "compile error" 1 -- --appdir "$dir" 'MA(C,'
expect "two formulas" 2 -- --appdir "$dir" --formula MACD C
expect "rule block" 1 "rule block" -- --appdir "$dir" C --into 沪市A股
subcommand=""

finish screen
