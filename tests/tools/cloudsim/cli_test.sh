#!/bin/sh
# The cloudsim command line: refuses bad arguments, writes its port file once it
# listens, and stops cleanly on SIGTERM.
#   cli_test.sh <cloudsim> <testca.sh> <fixture json> <work dir>
set -eu
exe="$1"; testca="$2"; fixture="$3"; dir="$4"
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$dir"
mkdir -p "$dir"
sh "$testca" "$dir"

expect_exit() {
  want="$1"; shift
  set +e
  "$exe" "$@" >"$dir/out" 2>&1
  got=$?
  set -e
  [ "$got" = "$want" ] || fail "cloudsim $* exited $got, not $want: $(cat "$dir/out")"
}
expect_exit 2
expect_exit 2 --port 0 --cert "$dir/server.pem"
expect_exit 2 --port 70000 --cert "$dir/server.pem" --key "$dir/server.key"
expect_exit 2 --port 0 --cert "$dir/server.pem" --key "$dir/server.key" --bogus x
expect_exit 2 --port 0 --cert "$dir/missing.pem" --key "$dir/server.key"
echo '{"accounts":[{"accountId":"A"}]}' >"$dir/bad.json"
expect_exit 2 --port 0 --cert "$dir/server.pem" --key "$dir/server.key" --fixture "$dir/bad.json"

"$exe" --port 0 --cert "$dir/server.pem" --key "$dir/server.key" --fixture "$fixture" \
  --port-file "$dir/port" >"$dir/log" 2>&1 &
pid=$!
i=0
while [ ! -s "$dir/port" ]; do
  [ $i -lt 100 ] || { kill -KILL $pid; fail "no port file: $(cat "$dir/log")"; }
  sleep 0.1
  i=$((i + 1))
done
port="$(cat "$dir/port")"
out="$(curl -sS --cacert "$dir/ca.pem" "https://localhost:$port/_sim/requests")"
[ "$out" = "[]" ] || { kill -KILL $pid; fail "requests answered: $out"; }

# A client that waits for "100 Continue" before its body is invited at once.
curl -sS -v --cacert "$dir/ca.pem" -H "Expect: 100-continue" --data-binary @"$fixture" \
  "https://localhost:$port/desktoplogon/accounts/AC1000000001/resources/4242/config" >"$dir/continue" 2>&1 || true
grep -q "HTTP/1.1 100 Continue" "$dir/continue" || { kill -KILL $pid; fail "no 100 Continue: $(cat "$dir/continue")"; }
grep -q "HTTP/1.1 400" "$dir/continue" || { kill -KILL $pid; fail "no final answer: $(cat "$dir/continue")"; }

# A second simulator on the same port cannot start.
expect_exit 2 --port "$port" --cert "$dir/server.pem" --key "$dir/server.key"

kill -TERM $pid
set +e
wait $pid
code=$?
set -e
[ "$code" = 0 ] || fail "exit code $code after SIGTERM"
grep -q "cloudsim listening on 127.0.0.1:$port" "$dir/log" || fail "no listening line"
echo "cloudsim command line: ok"
