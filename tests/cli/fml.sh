#!/bin/bash
# tessaro-cli fml: list, dump, export and import of formula files, and damaged files.
# usage: bash fml.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"

# The demo market installs the standard library as base/common.fml.
"$cli" gen --out "$work/app" --securities 2 --days 5 --five-minute-days 0 --one-minute-days 0 >/dev/null 2>&1 ||
    fail "gen failed"
common="$work/app/base/common.fml"
[ -f "$common" ] || fail "gen wrote no base/common.fml"

expect list 0 "29 formula(s)" "MACD" "type 4 技术指标" "group 趋势型" "params SHORT=12[2,200], LONG=26[2,200], MID=9[2,200]" \
    "BOLL" "type 3" "MACD金叉" "type 0 条件选股" "MA交易" "type 1 交易系统" -- fml list "$common"
expect dump 0 "name MACD type 4" "DIF:EMA(CLOSE,SHORT)-EMA(CLOSE,LONG);" "outputs: 3" "2 MACD style 3" \
    "EMA" "STORE" -- fml dump "$common" macd
expect dump-missing 1 "no formula named NOPE" -- fml dump "$common" NOPE

# Export two formulas, import them into a fresh application directory as user formulas.
expect export 0 "exported 2 formula(s)" "MACD (common)" "KDJ (common)" -- fml export --appdir "$work/app" MACD kdj -o "$work/two.fml"
expect export-builtin 1 "no formula named TENDV" -- fml export --appdir "$work/app" TENDV -o "$work/x.fml"
expect import 0 "imported 2 formula(s): 2 new, 0 replaced, 0 refused" -- fml import "$work/two.fml" --appdir "$work/fresh"
expect list-user 0 "2 formula(s)" "MACD" "KDJ" -- fml list "$work/fresh/base/user.fml"
# A second import replaces them in the file they came from.
expect reimport 0 "2 replaced" -- fml import "$work/two.fml" --appdir "$work/fresh"
expect list-user-again 0 "2 formula(s)" -- fml list "$work/fresh/base/user.fml"
[ -f "$work/fresh/base/backup/user.fml" ] || fail "the replaced user.fml was not backed up"

# Damaged and foreign files: a clear error or skipped records, never a crash.
printf 'not a formula file' >"$work/junk.fml"
expect junk 1 "is no formula file" -- fml list "$work/junk.fml"
expect missing 1 "cannot read" -- fml list "$work/none.fml"
size=$(stat -c %s "$work/two.fml")
head -c $((size - 10)) "$work/two.fml" >"$work/cut.fml"
expect cut 0 "1 formula(s)" "1 damaged record(s) skipped" -- fml list "$work/cut.fml"
expect import-junk 1 "is no formula file" -- fml import "$work/junk.fml" --appdir "$work/fresh"

# Bad command lines.
expect usage-none 2 "usage:" -- fml
expect usage-import 2 "usage:" -- fml import "$work/two.fml"
expect usage-export 2 "usage:" -- fml export --appdir "$work/app" MACD
expect usage-sub 2 "usage:" -- fml frobnicate x

finish fml
