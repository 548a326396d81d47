#!/usr/bin/env bash
# Builds everything with sanitizers and runs every test. Exit code: that of CTest.
#   --tsan  instead: a ThreadSanitizer build of the tests that run threads of ours (the sweep,
#           the publisher, the service and its port workers, the line shared between threads),
#           only those binaries. The window tests' command runner hands work over through Qt's
#           event queue, which ThreadSanitizer cannot see into without a Qt built for it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
./scripts/check_layers.sh
./scripts/check_format.sh
export QT_QPA_PLATFORM=offscreen

if [ "${1:-}" = "--tsan" ]; then
  BUILD=${TARVEL_TSAN_BUILD:-build-tsan}
  THREADED=(watch_tests publish_tests service_tests link_tests)
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_TSAN=ON >/dev/null
  cmake --build "$BUILD" -j"$(nproc)" --target "${THREADED[@]}"
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}
  # Of the link's tests, those that share a line between threads or hand a port over.
  declare -A only=([link_tests]='Faults.*:OpenPort.*')
  status=0
  for t in "${THREADED[@]}"; do
    echo "== $t (ThreadSanitizer)"
    "$BUILD/tests/$t" --gtest_filter="${only[$t]:-*}" || status=1
  done
  exit "$status"
fi

BUILD=${TARVEL_TEST_BUILD:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# Qt and fontconfig keep caches for the life of the process; those are not our leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"
