#!/bin/sh
# Runs a Windows test executable under Wine with a prefix inside the build tree.
# The prefix is KV_WINEPREFIX when set, else "wineprefix" beside the executable's bin/ folder.
# A test that opens windows sets KV_NEEDS_DISPLAY=1 and runs under a virtual X server
# when no display is there.
set -e
exe="$1"
if [ -z "$KV_WINEPREFIX" ]; then
  KV_WINEPREFIX="$(cd "$(dirname "$exe")/.." && pwd)/wineprefix"
fi
export WINEPREFIX="$KV_WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
# wineboot writes system.reg long before the prefix is usable, so readiness is a marker
# written only after wineboot and its wineserver have finished.
ready="$WINEPREFIX/.kv-prefix-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$WINEPREFIX"
  # Tests start in parallel: only one of them creates the prefix, the others wait for it.
  (
    flock 9
    if [ ! -f "$ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
      touch "$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
if [ "$KV_NEEDS_DISPLAY" = "1" ] && [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" wine "$@"
fi
exec wine "$@"
