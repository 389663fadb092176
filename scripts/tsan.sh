#!/usr/bin/env bash
# Builds the thread and process tests (suites named ...Concurrency..., ...Race... or
# FileLock...) with ThreadSanitizer into one program, tests_threads, and runs them.
# Called by scripts/test.sh; runs on its own as well.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_TSAN_BUILD:-build/tsan}
# Qt, benchmarks and the command line are not needed here.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_TSAN=ON -DTESSARO_BENCH=OFF \
  -DTESSARO_QT=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tests_threads
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
"$build/tests/tests_threads" --gtest_filter='*Concurrency*:*Race*:FileLock*' --gtest_brief=1
