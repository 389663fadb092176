# tessaro-cli connect and refresh against the scripted quote server on loopback.
source "$(dirname "$0")/lib.bash"
peer=${TESSARO_TEST_PEER:-$(dirname "$cli")/../../tests/tessaro-test-peer}
if [ ! -x "$peer" ]; then
    echo "SKIP: the scripted quote server (tessaro-test-peer) is not built"
    exit 0
fi

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# start_peer ARGS...: starts a server and sets port.
start_peer() {
    local out="$work/peer.$RANDOM"
    "$peer" "$@" >"$out" &
    pids+=($!)
    for _ in $(seq 100); do
        port=$(head -n1 "$out" 2>/dev/null)
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    fail "the scripted server did not start"
    port=1
}

export XDG_CONFIG_HOME="$work/config"
start_peer --securities 120
expect "chain and quotes" 0 "正在连接，请稍候..." "正在获取服务器列表..." "正在获取股票代码表..." "正在获取板块列表..." "connected" \
    "2024-12-10 09:31:00,SH600000,10.50,1200,1260000" "2024-12-10 09:31:00,SZ000002,10.50,1200,1260000" \
    -- connect --appdir "$work/app" --server "127.0.0.1:$port" --watch SH600000,SZ000002 --seconds 1
[ -f "$work/app/base/srvlist.txt" ] || fail "the server list was not written"
# The status texts come in order, and connected after the last of them.
out=$("$cli" connect --appdir "$work/app" --server "127.0.0.1:$port" 2>&1)
want=$'正在连接，请稍候...\n正在获取服务器列表...\n正在获取股票代码表...\n正在获取板块列表...\nconnected'
[ "$out" = "$want" ] || fail "status order: got
$out"
expect "refresh" 0 "100%" "refreshed 120 securities" -- refresh --appdir "$work/app" --server "127.0.0.1:$port"

start_peer --refuse
expect "refused login" 4 "account locked" -- connect --appdir "$work/app" --server "127.0.0.1:$port"

start_peer --one-byte
expect "one-byte writes" 0 "connected" -- connect --appdir "$work/app" --server "127.0.0.1:$port"

expect "nobody listening" 3 "无法连接,请检测是否已经连接Internet!" -- connect --appdir "$work/app" --server 127.0.0.1:1
expect "proxy nobody listens on" 3 "无法连接,请检测是否已经连接Internet!" -- \
    connect --appdir "$work/app" --server "127.0.0.1:$port" --proxy socks5://127.0.0.1:1
expect "bad proxy" 2 "usage:" -- connect --appdir "$work/app" --server "127.0.0.1:$port" --proxy ftp://x:1
expect "missing server" 2 "usage:" -- connect --appdir "$work/app"

finish connect
