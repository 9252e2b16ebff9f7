#!/bin/sh
# CTest fixture of the cloud simulator (see cmake/CloudSim.cmake):
#   fixture.sh setup   <dir> <cloudsim executable> <fixture json> <store name|->
#   fixture.sh cleanup <dir> <store name|->
#   fixture.sh stop    <dir>
#   fixture.sh resume  <dir> <cloudsim executable> <fixture json>
# setup makes a test CA in <dir>, trusts it in the host store for the run when a store name
# is given (WinHTTP under Wine reads that store; native tests hand the CA file to libcurl and
# pass "-", so the host never trusts their CA), starts the simulator and waits for its port
# file. cleanup stops the simulator by its PID file and takes the CA out of the store again.
# stop and resume end the simulator and start it again on the same port with the same
# certificate (the demo's network outage); resume starts from the fixture's state.
set -eu

store_dir=/usr/local/share/ca-certificates
lock=/tmp/kv-cloudsim-ca-store.lock
here="$(cd "$(dirname "$0")" && pwd)"

# Several builds may run fixtures at once; update-ca-certificates rewrites one bundle.
update_store() {
  flock "$lock" update-ca-certificates >/dev/null 2>&1
}

# Stops the simulator named by <dir>/pid, but only if that process is the one started
# for this directory (a recycled PID must never be killed).
stop_simulator() {
  dir="$1"
  [ -f "$dir/pid" ] || return 0
  pid="$(cat "$dir/pid" 2>/dev/null || true)"
  rm -f "$dir/pid"
  case "$pid" in ''|*[!0-9]*) return 0 ;; esac
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "--port-file $dir/port"; then
    kill -TERM "$pid" 2>/dev/null || true
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
      sleep 0.1
      i=$((i + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "cloudsim fixture: simulator $pid did not stop on SIGTERM; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
}

# Starts the simulator on <port> (0: a free one) and waits for its port file.
start_simulator() {
  dir="$1"; exe="$2"; fixture="$3"; port="$4"
  rm -f "$dir/port" "$dir/port.tmp"
  nohup "$exe" --port "$port" --cert "$dir/server.pem" --key "$dir/server.key" \
    --fixture "$fixture" --port-file "$dir/port" >>"$dir/cloudsim.log" 2>&1 </dev/null &
  echo $! >"$dir/pid"
  i=0
  while [ ! -s "$dir/port" ]; do
    if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null || [ $i -ge 100 ]; then
      echo "cloudsim fixture: the simulator did not start; its log:" >&2
      cat "$dir/cloudsim.log" >&2 || true
      stop_simulator "$dir"
      exit 1
    fi
    sleep 0.1
    i=$((i + 1))
  done
}

case "${1:-}" in
  setup)
    [ $# -eq 5 ] || { echo "usage: $0 setup <dir> <exe> <fixture> <store name>" >&2; exit 2; }
    dir="$2"; exe="$3"; fixture="$4"; name="$5"
    mkdir -p "$dir"
    stop_simulator "$dir"
    if [ ! -x "$exe" ]; then
      echo "cloudsim fixture: no simulator at $exe (build the linux flavour first, or set KV_CLOUDSIM_EXECUTABLE)" >&2
      exit 1
    fi
    "$here/testca.sh" "$dir"
    if [ "$name" = - ]; then
      echo "cloudsim fixture: test CA trusted through $dir/ca.pem only"
    elif cp "$dir/ca.pem" "$store_dir/$name.crt" 2>/dev/null && update_store; then
      echo "cloudsim fixture: test CA trusted as $store_dir/$name.crt"
    else
      echo "cloudsim fixture: warning: cannot add the test CA to the host store; WinHTTP under Wine will not trust the simulator" >&2
    fi
    : >"$dir/cloudsim.log"
    start_simulator "$dir" "$exe" "$fixture" 0
    echo "cloudsim fixture: simulator $(cat "$dir/pid") listening on port $(cat "$dir/port")"
    ;;
  cleanup)
    [ $# -eq 3 ] || { echo "usage: $0 cleanup <dir> <store name>" >&2; exit 2; }
    dir="$2"; name="$3"
    stop_simulator "$dir"
    rm -f "$dir/port" "$dir/port.tmp"
    if [ "$name" != - ] && [ -f "$store_dir/$name.crt" ]; then
      rm -f "$store_dir/$name.crt"
      # update-ca-certificates rebuilds the bundle without it but leaves its links behind.
      flock "$lock" find /etc/ssl/certs -maxdepth 1 -type l \
        \( -lname "$store_dir/$name.crt" -o -lname "$name.pem" \) -exec rm -f {} + 2>/dev/null || true
      update_store || echo "cloudsim fixture: warning: update-ca-certificates failed" >&2
    fi
    echo "cloudsim fixture: stopped; no test CA left in the host store"
    ;;
  stop)
    [ $# -eq 2 ] || { echo "usage: $0 stop <dir>" >&2; exit 2; }
    stop_simulator "$2"
    ;;
  resume)
    [ $# -eq 4 ] || { echo "usage: $0 resume <dir> <exe> <fixture>" >&2; exit 2; }
    [ -s "$2/port" ] || { echo "cloudsim fixture: no port to resume on in $2" >&2; exit 1; }
    start_simulator "$2" "$3" "$4" "$(cat "$2/port")"
    ;;
  *)
    echo "usage: $0 setup|cleanup ..." >&2
    exit 2
    ;;
esac
