#!/usr/bin/env bash
# Fails when a C++ file of ours is not as .clang-format lays it out. Without clang-format
# (scripts/deps.sh installs it) it says so and passes: the build must not hang on a formatter.
set -uo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "format: clang-format not installed, not checked"
  exit 0
fi
if git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror 2>/tmp/format.$$; then
  echo "format: ok"
  rm -f /tmp/format.$$
  exit 0
fi
grep -E '^[^ ].*: (error|warning):' /tmp/format.$$ | cut -d: -f1 | sort -u | sed 's/^/  not formatted: /' | head -n 30
echo "format: run clang-format -i on the files above"
rm -f /tmp/format.$$
exit 1
