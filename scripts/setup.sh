#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Tessaro.
# Idempotent and quiet when everything is present. Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang libclang-rt-14-dev            # libFuzzer targets
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libdeflate-dev
  libasio-dev                         # the quote server's event loop (standalone Asio)
  python3                             # independent oracles of some tests
  qt6-base-dev qt6-base-dev-tools     # Qt programs (zuvoplayer, tessaro)
  fonts-wqy-microhei                  # CJK font for the offscreen GUI tests
  xvfb xdotool                        # the boss key grabbed on a real X server (tests)
  dante-server microsocks tinyproxy   # real proxies for the quote client's tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
