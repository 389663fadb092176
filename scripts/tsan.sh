#!/usr/bin/env bash
# Builds the test programs with ThreadSanitizer and runs the tests that exercise
# threads or processes: suites named ...Concurrency, ...Race or FileLock*.
# Called by scripts/test.sh; runs on its own as well.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
build=${TESSARO_TSAN_BUILD:-build/tsan}
# The thread tests live in the core test programs; Qt, benchmarks and the command
# line are not needed here.
programs=$(sed -n 's/^set(TESSARO_CORE_MODULES \(.*\))$/\1/p' CMakeLists.txt)
targets=()
for m in $programs; do targets+=("tests_$m"); done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_TSAN=ON -DTESSARO_BENCH=OFF \
  -DTESSARO_QT=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
filter='*Concurrency*:*Race*:FileLock*'
status=0
for t in "${targets[@]}"; do
  echo "tsan: $t"
  "$build/tests/$t" --gtest_filter="$filter" --gtest_brief=1 || status=1
done
exit $status
