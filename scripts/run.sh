#!/usr/bin/env bash
# Builds Tarvel and starts the console on the built-in simulated line, with a demo
# application folder (./demo-home, kept between runs).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
No display found. Tarvel is a desktop program; start it from a graphical session, or:
  - over SSH: ssh -X host, then run this again
  - on a headless machine: xvfb-run -a ./scripts/run.sh   (xvfb is installed by this script)
  - for a picture only: ./scripts/screenshot.sh
MSG
  exit 1
fi

BUILD=${TARVEL_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only the console: the tests and benchmarks are test.sh's business.
cmake --build "$BUILD" -j"$(nproc)" --target tarvel

exec "$BUILD/app/tarvel" --simulate --home "${TARVEL_HOME:-$PWD/demo-home}" "$@"
