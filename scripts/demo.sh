#!/usr/bin/env bash
# Sets up a fresh machine, builds the programs and runs tessaro-cli on its
# built-in demo data.
#
# The demo market is generated on the first run into the application directory
# (--appdir DIR, else TESSARO_HOME, else the stored path, else
# $XDG_DATA_HOME/tessaro/, by default ~/.local/share/tessaro/) and read from there
# on later runs; an existing market there is never overwritten.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Let ccache share objects between clones in different folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_DEMO_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tessaro-cli
exec "$build/src/programs/tessaro-cli" demo "$@"
