#!/usr/bin/env bash
# Builds both flavours (native with sanitizers, Windows with mingw-w64) and runs
# every test of both; the Windows tests run under Wine. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

jobs=$(nproc)
build() {
  local preset=$1
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$jobs" -- -k 0 | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  cmake --build --preset "$preset" -j "$jobs" >/dev/null
}

status=0
build linux || status=1
build windows || status=1
[ $status -eq 0 ] || { echo "build failed"; exit 1; }

echo "== tests: linux"
ctest --preset linux -j "$jobs" || status=1
echo "== tests: windows (under Wine)"
ctest --preset windows -j "$jobs" || status=1
exit $status
