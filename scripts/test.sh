#!/usr/bin/env bash
# Sets up a fresh machine, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors there), runs every test, then
# runs the thread and process tests again under ThreadSanitizer (scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Let ccache share objects between clones in different folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_TEST_BUILD:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_SANITIZE=ON -DTESSARO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j "$(nproc)" --timeout 600)
bash scripts/tsan.sh
