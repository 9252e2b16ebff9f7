#!/bin/sh
# Runs a Windows test executable under Wine with a prefix inside the build tree.
# The prefix is KV_WINEPREFIX when set, else "wineprefix" beside the executable's bin/ folder.
# Display: under ctest every test of the build gets the X display of the build's display
# fixture (KV_DISPLAY_FILE names the file holding its number, see cmake/xvfb-fixture.sh), so
# all processes of the prefix share one display for the whole run. Run by hand, a test uses
# $DISPLAY, or else a private xvfb-run for that one process.
# KV_WINE_DESKTOP=<width>x<height> runs the program inside a Wine virtual desktop of that
# size (a screen of another size on the same display); its exit code is then lost, so such
# a test is judged by its output.
set -e
exe="$1"
if [ -z "$KV_WINEPREFIX" ]; then
  KV_WINEPREFIX="$(cd "$(dirname "$exe")/.." && pwd)/wineprefix"
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
  # One desktop name per size: processes in it share it like a screen.
  exe="$2"; shift 2
  set -- wine explorer "/desktop=kv$KV_WINE_DESKTOP,$KV_WINE_DESKTOP" "$exe" "$@"
fi
if [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
fi
exec "$@"
