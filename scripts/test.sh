#!/usr/bin/env bash
# Builds everything with sanitizers and runs every test. Exit code: that of CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
./scripts/check_layers.sh

BUILD=${TARVEL_TEST_BUILD:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep caches for the life of the process; those are not our leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"
