#!/bin/sh
# CTest fixture of the virtual X display that every Wine test of one build tree shares
# (see cmake/KvTesting.cmake and docs/toolkit.md):
#   xvfb-fixture.sh setup   <dir> <wine prefix>
#   xvfb-fixture.sh cleanup <dir> <wine prefix>
# setup starts Xvfb on a display that the X server itself finds free (-displayfd), so build
# trees that run ctest at the same time never pick the same one, and writes its number to
# <dir>/display, which cmake/wine-run.sh reads. A watchdog stops that Xvfb when the ctest that
# ran setup has gone (an interrupted run leaves no X server behind). cleanup waits for the
# prefix's wineserver to end (nothing of Wine may still use the display), then stops both.
#
# A prefix's desktop belongs to whichever process started its wineserver, so setup also waits
# for a wineserver left from an earlier run: it may hold the display of that run.
set -eu

wait_wineserver() {
  # -w waits for the running wineserver of the prefix and starts none.
  if [ -d "$2" ] && command -v wineserver >/dev/null 2>&1; then
    WINEPREFIX="$2" timeout 60 wineserver -w >/dev/null 2>&1 || true
  fi
}

# Stops the process named by <dir>/<file>, but only when it is the one this directory started:
# its working directory is <dir> (a recycled PID must never be killed).
stop_pid() {
  dir="$1"; file="$2"
  [ -f "$dir/$file" ] || return 0
  pid="$(cat "$dir/$file" 2>/dev/null || true)"
  rm -f "$dir/$file"
  case "$pid" in ''|*[!0-9]*) return 0 ;; esac
  [ "$(readlink "/proc/$pid/cwd" 2>/dev/null || true)" = "$dir" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
  stop_pid "$1" watchdog.pid
  stop_pid "$1" xvfb.pid
  rm -f "$1/display" "$1/display.tmp"
}

case "${1:-}" in
  setup)
    [ $# -eq 3 ] || { echo "usage: $0 setup <dir> <wine prefix>" >&2; exit 2; }
    mkdir -p "$2"
    dir="$(cd "$2" && pwd -P)"; prefix="$3"
    stop_all "$dir"
    wait_wineserver "$dir" "$prefix"
    owner=$PPID
    cd "$dir"
    : >display.tmp
    # Descriptor 3 receives the display number once the server listens.
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset \
      3>display.tmp >xvfb.log 2>&1 </dev/null &
    echo $! >xvfb.pid
    xpid=$!
    i=0
    while ! grep -q '^[0-9][0-9]*$' display.tmp 2>/dev/null; do
      if ! kill -0 "$xpid" 2>/dev/null || [ $i -ge 200 ]; then
        echo "display fixture: Xvfb did not start; its log:" >&2
        cat xvfb.log >&2 || true
        stop_all "$dir"
        exit 1
      fi
      sleep 0.05
      i=$((i + 1))
    done
    tr -d '\n' <display.tmp >display.new && mv display.new display && rm -f display.tmp
    # The watchdog keeps no descriptor of ctest's open, or ctest would wait for it.
    nohup sh -c 'while kill -0 "$1" 2>/dev/null && kill -0 "$2" 2>/dev/null; do sleep 2; done
                 kill -TERM "$2" 2>/dev/null; rm -f display' kv-xvfb-watchdog "$owner" "$xpid" \
      >/dev/null 2>&1 </dev/null &
    echo $! >watchdog.pid
    echo "display fixture: Xvfb $xpid on :$(cat display) for $prefix"
    ;;
  cleanup)
    [ $# -eq 3 ] || { echo "usage: $0 cleanup <dir> <wine prefix>" >&2; exit 2; }
    [ -d "$2" ] || exit 0
    dir="$(cd "$2" && pwd -P)"; prefix="$3"
    wait_wineserver "$dir" "$prefix"
    stop_all "$dir"
    echo "display fixture: stopped"
    ;;
  *)
    echo "usage: $0 setup|cleanup <dir> <wine prefix>" >&2
    exit 2
    ;;
esac
