#!/usr/bin/env bash
# Saves a PNG of the profile editor showing a five-segment profile, without a display, as it opens
# on a 1366x768 screen. The profile is written as durations and end temperatures only; `profile
# fill` computes the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
BUILD=${TARVEL_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target tarvel tarvel-cli
OUT=${1:-docs/editor.png}
mkdir -p "$(dirname "$OUT")"
HOME_DIR=$(mktemp -d)
source scripts/laptop_screen.sh
trap 'rm -rf "$HOME_DIR" ${TARVEL_SCREEN_FILE:-}' EXIT
cat >"$HOME_DIR/sparse.csv" <<'CSV'
Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,Notify t,T
,,60,,,250,,10,C=2 J1=on,t=30
,,120,,,250,,10,,
,,50,,,400,,15,,
,,30,,,400,,15,J1=off,
,,60,,,100,,20,,T=450
,,,e,,,,,,
CSV
CLI=("$BUILD/app/tarvel-cli" --home "$HOME_DIR")
"${CLI[@]}" profile fill --sensor K --temp F --time M "$HOME_DIR/sparse.csv" "$HOME_DIR/full.csv" >/dev/null
"${CLI[@]}" profile build --sensor K --temp F --time M "$HOME_DIR/full.csv" "$HOME_DIR/Profiles/drying.txt" >/dev/null
"$BUILD/app/tarvel" --home "$HOME_DIR" --editor \
  "$HOME_DIR/Profiles/drying.txt" --screenshot "$OUT"
