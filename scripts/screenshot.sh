#!/usr/bin/env bash
# Saves a PNG of the console on the simulated line after its first reading, without a display,
# as it opens on a 1366x768 screen.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
BUILD=${TARVEL_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target tarvel
OUT=${1:-docs/console.png}
mkdir -p "$(dirname "$OUT")"
HOME_DIR=$(mktemp -d)
source scripts/laptop_screen.sh
trap 'rm -rf "$HOME_DIR" ${TARVEL_SCREEN_FILE:-}' EXIT
"$BUILD/app/tarvel" --simulate --home "$HOME_DIR" --screenshot "$OUT"
