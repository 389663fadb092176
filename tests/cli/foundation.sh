#!/usr/bin/env bash
# tessaro-cli path, classify and initials: exact output formats and errors.
# Usage: bash foundation.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
home=$work
# Keep the user's own settings and environment out of the way.
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data
unset TESSARO_HOME

expect_exact /tmp/x/data/sh/day/600000.day "$cli" path --appdir /tmp/x history SH600000 day
expect_exact /tmp/x/data/sz/fiv/000001.fiv "$cli" path --appdir /tmp/x/ history SZ000001 fiv
expect_exact /tmp/x/data/sz/min/000001.min "$cli" path --appdir=/tmp/x history sz000001 3
expect_exact /tmp/x/data/sh/ "$cli" path --appdir /tmp/x market SH
expect_exact '/tmp/x/data/$$/stkinfo.dat' "$cli" path --appdir /tmp/x stkinfo '$$'
expect_exact /tmp/x/data/sz/day/ "$cli" path --appdir /tmp/x period SZ day
expect_exact /tmp/x/base/Power.pwr "$cli" path --appdir /tmp/x power
expect_exact /tmp/x/base/user.fml "$cli" path --appdir /tmp/x formula 0
expect_exact /tmp/x/base/common.fml "$cli" path --appdir /tmp/x formula 1
expect_exact /tmp/x/base/download.fml "$cli" path --appdir /tmp/x formula 2
expect_exact /tmp/x/data/sh/day/daydown.dat "$cli" path --appdir /tmp/x daydown
expect_exact /tmp/x/data/sh/fiv/min5down.dat "$cli" path --appdir /tmp/x min5down
expect_exact /tmp/x/data/sz/exdata/000002.exd "$cli" path --appdir /tmp/x exd SZ000002
expect_exact /tmp/x/data/sh/note/600000.drw "$cli" path --appdir /tmp/x drawing SH600000
expect_exact /tmp/x/block/blk.ini "$cli" path --appdir /tmp/x blkini
expect_exact /tmp/x/invest/main.inv "$cli" path --appdir /tmp/x inv main
# The application directory: option, then TESSARO_HOME, then XDG_DATA_HOME.
expect_exact "$home/data/tessaro/" "$cli" path appdir
expect_exact /srv/t/ env TESSARO_HOME=/srv/t "$cli" path appdir
expect_exact /opt/o/ env TESSARO_HOME=/srv/t "$cli" path --appdir /opt/o appdir

expect_status 1 "$cli" path --appdir /tmp/x history SH600000 week
expect_status 1 "$cli" path --appdir /tmp/x market XX
expect_status 1 "$cli" path --appdir /tmp/x formula 3
expect_status 1 "$cli" path --appdir /tmp/x history SH../../etc day
expect_status 1 "$cli" path --appdir /tmp/x nosuchkind
expect_status 2 "$cli" path --appdir /tmp/x history SH600000
expect_status 2 "$cli" path

expect_exact "class=6 decimals=3" "$cli" classify SH580001
expect_exact "class=2 decimals=2" "$cli" classify SH600000
expect_exact "class=1 decimals=2" "$cli" classify SH000001
expect_exact "class=2 decimals=2" "$cli" classify SZ000001
expect_exact "class=4 decimals=3" "$cli" classify SZ184688
expect_exact "class=1 decimals=2" "$cli" classify SH1A0001
expect_exact "class=1 decimals=2" "$cli" classify '$$999999'
expect_exact "class=0 decimals=2" "$cli" classify SH700000
expect_exact "$(printf 'SH900901 class=3 decimals=3\nSZ200002 class=3 decimals=2')" "$cli" classify SH900901 SZ200002
expect_status 1 "$cli" classify XX600000
expect_status 2 "$cli" classify

expect_exact SFZA "$cli" initials 深发展Ａ
expect_exact WKA "$cli" initials "万 科Ａ"
expect_exact PFYX "$cli" initials 浦发银行
expect_exact STXQ "$cli" initials "*ST鑫琪"
expect_exact "" "$cli" initials "***"
mkdir -p "$home/app/base"
printf '\xd0\xd0=XH\n' >"$home/app/base/duoyin.ini"  # 行 in GBK
expect_exact "PFY[XH]" "$cli" initials --appdir "$home/app" 浦发银行
expect_exact "PFY[XH]" "$cli" initials --duoyin "$home/app/base/duoyin.ini" 浦发银行
expect_status 1 "$cli" initials --duoyin "$home/missing.ini" 浦发银行
expect_status 2 "$cli" initials

finish foundation
