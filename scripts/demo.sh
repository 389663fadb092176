#!/usr/bin/env bash
# Sets up a fresh machine, builds the programs and runs tessaro-cli on its
# built-in demo data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Let ccache share objects between clones in different folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_DEMO_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tessaro-cli
exec "$build/src/programs/tessaro-cli" demo "$@"
