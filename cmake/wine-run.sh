#!/bin/sh
# Runs a Windows test executable under Wine with a prefix inside the build tree.
# The prefix is KV_WINEPREFIX when set, else "wineprefix" beside the executable's bin/ folder.
# Display: under ctest every test of the build gets the X display of the build's display
# fixture (KV_DISPLAY_FILE names the file holding its number, see cmake/xvfb-fixture.sh), so
# all processes of the prefix share one display for the whole run. Run by hand, a test uses
# $DISPLAY, or else a private xvfb-run for that one process.
# KV_WINE_DESKTOP=<width>x<height> runs the program on a screen of that size: a prefix of its
# own ("<prefix>-<size>") on a private X server of that size, whose wineserver is waited for
# before the script ends, so the next program of that prefix starts on its own new server.
# (A Wine virtual desktop inside the shared prefix outlives its program and changes the
# screen that the prefix's next programs see.) Tests that use it must not run at once.
set -e
exe="$1"
if [ -z "$KV_WINEPREFIX" ]; then
  KV_WINEPREFIX="$(cd "$(dirname "$exe")/.." && pwd)/wineprefix"
fi
if [ -n "$KV_WINE_DESKTOP" ]; then
  KV_WINEPREFIX="$KV_WINEPREFIX-$KV_WINE_DESKTOP"
  KV_DISPLAY_FILE=""
  unset DISPLAY
fi
export WINEPREFIX="$KV_WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "$KV_DISPLAY_FILE" ]; then
  if [ ! -s "$KV_DISPLAY_FILE" ]; then
    echo "wine-run: no display in $KV_DISPLAY_FILE (the display fixture did not run)" >&2
    exit 1
  fi
  DISPLAY=":$(cat "$KV_DISPLAY_FILE")"
  export DISPLAY
fi
# wineboot writes system.reg long before the prefix is usable, so readiness is a marker
# written only after wineboot, the prefix's settings and its wineserver have finished (a
# new marker name makes existing prefixes take new settings).
ready="$WINEPREFIX/.kv-prefix-ready-2"
if [ ! -f "$ready" ]; then
  mkdir -p "$WINEPREFIX"
  # Tests start in parallel: only one of them creates the prefix, the others wait for it.
  (
    flock 9
    if [ ! -f "$ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      # No window manager runs on the virtual display: windows that Wine believes managed
      # wait two seconds for one whenever they are hidden or destroyed.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      wineserver -w || true
      touch "$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
set -- wine "$@"
if [ -n "$KV_WINE_DESKTOP" ]; then
  rc=0
  xvfb-run -a -s "-screen 0 ${KV_WINE_DESKTOP}x24" "$@" || rc=$?
  wineserver -w || true
  exit $rc
fi
if [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
fi
exec "$@"
