#!/usr/bin/env bash
# Installs the Debian packages Tarvel needs, only those that are missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev fonts-dejavu-core
  libmodbus-dev libsqlite3-dev libsqlitecpp-dev
  nlohmann-json3-dev libssl-dev poppler-utils
  # The line service: its HTTP API (cpp-httplib and what its build flags pull in) and sd_notify.
  libcpp-httplib-dev zlib1g-dev libbrotli-dev libsystemd-dev curl
  libmosquitto-dev mosquitto mosquitto-clients
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth ccache
  dpkg-dev file desktop-file-utils appstream man-db groff-base librsvg2-bin
  # A Modbus slave we did not write, on a virtual null-modem pair: the independent slave tests.
  socat python3 python3-pymodbus python3-serial python3-serial-asyncio
  # The web view in a real browser (tests/web/browser_test.py) and its HTTPS certificate.
  chromium chromium-driver python3-selenium openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root or install sudo: need ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
