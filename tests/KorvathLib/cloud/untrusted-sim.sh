#!/bin/sh
# CTest fixture: a cloud simulator with a certificate from a throw-away CA that is trusted
# nowhere (not added to any store), for the tests that a client refuses it.
#   untrusted-sim.sh setup   <dir> <cloudsim executable> <cloudsim source dir>
#   untrusted-sim.sh cleanup <dir>
set -eu

stop_simulator() {
  dir="$1"
  [ -f "$dir/pid" ] || return 0
  pid="$(cat "$dir/pid" 2>/dev/null || true)"
  rm -f "$dir/pid"
  case "$pid" in ''|*[!0-9]*) return 0 ;; esac
  # Only the process started for this directory, never a recycled PID.
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "--port-file $dir/port"; then
    kill -TERM "$pid" 2>/dev/null || true
  fi
}

case "${1:-}" in
  setup)
    [ $# -eq 4 ] || { echo "usage: $0 setup <dir> <exe> <cloudsim source dir>" >&2; exit 2; }
    dir="$2"; exe="$3"; src="$4"
    mkdir -p "$dir"
    stop_simulator "$dir"
    [ -x "$exe" ] || { echo "untrusted-sim: no simulator at $exe" >&2; exit 1; }
    sh "$src/testca.sh" "$dir"
    rm -f "$dir/port"
    nohup "$exe" --port 0 --cert "$dir/server.pem" --key "$dir/server.key" \
      --fixture "$src/fixtures/default.json" --port-file "$dir/port" >"$dir/cloudsim.log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    i=0
    while [ ! -s "$dir/port" ]; do
      if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null || [ $i -ge 100 ]; then
        cat "$dir/cloudsim.log" >&2 || true
        stop_simulator "$dir"
        exit 1
      fi
      sleep 0.1
      i=$((i + 1))
    done
    echo "untrusted-sim: listening on port $(cat "$dir/port")"
    ;;
  cleanup)
    [ $# -eq 2 ] || { echo "usage: $0 cleanup <dir>" >&2; exit 2; }
    stop_simulator "$2"
    rm -f "$2/port"
    ;;
  *)
    echo "usage: $0 setup|cleanup ..." >&2
    exit 2
    ;;
esac
