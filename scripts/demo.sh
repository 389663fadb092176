#!/usr/bin/env bash
# Sets up a fresh machine, builds the programs and shows the live demo market:
#   1. tessaro-cli demo prints what the core does on the demo market, generating the
#      market into the application directory on the first run (--appdir DIR, else
#      TESSARO_HOME, else the stored path, else $XDG_DATA_HOME/tessaro/, by default
#      ~/.local/share/tessaro/); an existing market there is never overwritten;
#   2. tessaro-quoted serves the demo market on a free loopback port, trading it live
#      (from a copy generated afresh for each run: the client writes its own market files
#      back at exit, and those must not change what the server trades next time);
#   3. tessaro opens logged in to it;
#   4. closing the window stops the server.
# Without a display (no DISPLAY or WAYLAND_DISPLAY) tessaro runs offscreen, saves
# pictures of its windows (--screenshot) and prints their paths and what its status
# bar shows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Let ccache share objects between clones in different folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_DEMO_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tessaro-cli tessaro-quoted tessaro
programs="$build/src/programs"

# The core's summary (and the market, on the first run).
"$programs/tessaro-cli" demo "$@"
appdir=$("$programs/tessaro-cli" path "$@" appdir)

# The quote server on a free loopback port. During trading hours in China it trades
# from the present time; outside them from 10:00, so that the market moves.
hhmm=$(TZ=Asia/Shanghai date +%H%M)
start=()
if [ "$hhmm" -lt 0930 ] || { [ "$hhmm" -ge 1130 ] && [ "$hhmm" -lt 1300 ]; } || [ "$hhmm" -ge 1500 ]; then
  start=(--start 10:00)
fi
runtime=$(mktemp -d "${TMPDIR:-/tmp}/tessaro-demo.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    # A server that does not end within five seconds is killed.
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
"$programs/tessaro-cli" gen --out "$runtime/market" >/dev/null
: >"$runtime/server.out"
"$programs/tessaro-quoted" --appdir "$runtime/market" --listen 127.0.0.1:0 "${start[@]}" \
  >"$runtime/server.out" 2>"$runtime/server.log" </dev/null &
server_pid=$!
address=
for _ in $(seq 300); do
  address=$(sed -n 's/^listening //p' "$runtime/server.out" || true)
  [ -n "$address" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "demo: tessaro-quoted did not start:" >&2
  cat "$runtime/server.log" >&2
  exit 1
fi
port=${address##*:}

# The server list offers the demo server by name (a list of the user's own is kept);
# the server hands the same list out at every login.
# "Tessaro普及版,本地演示主站,127.0.0.1,PORT" in GBK.
printf 'Tessaro\xc6\xd5\xbc\xb0\xb0\xe6,\xb1\xbe\xb5\xd8\xd1\xdd\xca\xbe\xd6\xf7\xd5\xbe,127.0.0.1,%s\r\n' "$port" \
  >"$runtime/market/base/srvlist.txt"
srvlist="$appdir/base/srvlist.txt"
if [ ! -s "$srvlist" ] || ! LC_ALL=C grep -aqv $'\xb1\xbe\xb5\xd8\xd1\xdd\xca\xbe' "$srvlist"; then
  cp "$runtime/market/base/srvlist.txt" "$srvlist"
fi
# A ticker line for the status bar, unless there is one.
ticker="$appdir/base/scrollmessage.txt"
if [ ! -e "$ticker" ]; then
  # "欢迎使用Tessaro普及版 —— 演示行情由本机的 tessaro-quoted 提供，交易时间 09:30-11:30 13:00-15:00" in GBK.
  printf '\xbb\xb6\xd3\xad\xca\xb9\xd3\xc3Tessaro\xc6\xd5\xbc\xb0\xb0\xe6 \xa1\xaa\xa1\xaa \xd1\xdd\xca\xbe\xd0\xd0\xc7\xe9\xd3\xc9\xb1\xbe\xbb\xfa\xb5\xc4 tessaro-quoted \xcc\xe1\xb9\xa9\xa3\xac\xbd\xbb\xd2\xd7\xca\xb1\xbc\xe4 09:30-11:30 13:00-15:00\r\n' >"$ticker"
fi

echo
echo "Quote server: tessaro-quoted on 127.0.0.1:$port, serving the demo market"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shots=${TESSARO_DEMO_SCREENSHOTS:-$PWD/$build/demo-screenshots}
  echo "No display: tessaro runs offscreen and saves its windows as pictures in $shots"
  QT_QPA_PLATFORM=offscreen "$programs/tessaro" --appdir "$appdir" --server "127.0.0.1:$port" \
    --auto-login --screenshot "$shots"
else
  echo "Opening tessaro; closing its window stops the server."
  "$programs/tessaro" --appdir "$appdir" --server "127.0.0.1:$port" --auto-login
fi
