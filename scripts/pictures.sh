#!/usr/bin/env bash
# Makes every picture in docs/, without a display, as the windows open on a 1366x768 screen with
# a desktop panel:
#   console.png  the console on the simulated line after its first reading
#   trend.png    the console's live trend of the simulated kiln while monitoring is on
#   editor.png   the profile editor on a five-segment profile
#   chart.png    the profile editor on the demo profile, its chart with the log that run recorded
#   load-report.png  the first page of a load report
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
BUILD=${TARVEL_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target tarvel tarvel-cli
mkdir -p docs
HOME_DIR=$(mktemp -d)
source scripts/laptop_screen.sh
trap 'rm -rf "$HOME_DIR" ${TARVEL_SCREEN_FILE:-}' EXIT

TARVEL_BUILD=$BUILD ./scripts/screenshot.sh docs/console.png
TARVEL_BUILD=$BUILD ./scripts/editor_screenshot.sh docs/editor.png

# At 1200x the 630-minute demo program passes in about half a minute; a reading every 300 ms
# (one takes about 250 ms on the paced line) gives the trend a point every few minutes of it.
"$BUILD/app/tarvel" --simulate --home "$HOME_DIR" --speed 1200 --monitor 300 --readings 130 \
  --screenshot docs/trend.png

LOG=$(find "$HOME_DIR/LogFiles/Channel-01" -name '*.log' | head -n 1)
[ -n "$LOG" ] || { echo "no log was recorded" >&2; exit 1; }
"$BUILD/app/tarvel" --home "$HOME_DIR" --editor "$HOME_DIR/Profiles/Demo drying.txt" --log "$LOG" \
  --screenshot docs/chart.png

# load-report.png: the first page of the report of a 24-hour anneal of a zone of two controllers,
# as load_bench records it, signed.
cmake --build "$BUILD" -j"$(nproc)" --target load_bench
"$BUILD/bench/load_bench" --home "$HOME_DIR/loads" --hours 24 --controllers 2 >/dev/null
LOAD=$("$BUILD/app/tarvel-cli" --home "$HOME_DIR/loads" load list | cut -d' ' -f1)
"$BUILD/app/tarvel-cli" --home "$HOME_DIR/loads" load sign "$LOAD" --name "Bob Jones" --meaning approved
"$BUILD/app/tarvel-cli" --home "$HOME_DIR/loads" load report "$LOAD" --pdf "$HOME_DIR/load.pdf"
pdftoppm -r 80 -png -f 1 -l 1 -singlefile "$HOME_DIR/load.pdf" docs/load-report
