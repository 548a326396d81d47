#!/usr/bin/env bash
# Builds Tarvel and starts it on a demo application folder.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

BUILD=${TARVEL_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

HOME_DIR=${TARVEL_HOME:-$PWD/demo-home}
"$BUILD/app/tarvel-cli" --home "$HOME_DIR" home
echo
find "$HOME_DIR" | sort | sed "s|^$HOME_DIR|demo-home|"
