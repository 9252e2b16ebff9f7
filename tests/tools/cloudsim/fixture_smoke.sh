#!/bin/sh
# The CTest fixture gives a running simulator, its port file and a CA that verifies it,
# both through KV_TEST_CA_FILE and through the host trust store (what Wine reads).
set -eu
: "${KV_CLOUDSIM_PORT_FILE:?not set}" "${KV_TEST_CA_FILE:?not set}" "${KV_CLOUDSIM_FIXTURE_FILE:?not set}"
port="$(cat "$KV_CLOUDSIM_PORT_FILE")"
base="https://localhost:$port"
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$KV_CLOUDSIM_FIXTURE_FILE" ] || fail "no fixture file $KV_CLOUDSIM_FIXTURE_FILE"
out="$(curl -sS --cacert "$KV_TEST_CA_FILE" -X POST "$base/_sim/reset")"
[ "$out" = '{"ok":true}' ] || fail "reset answered: $out"

# Verified against the host store alone: the certificate chains to the CA the fixture added.
code="$(curl -sS --cacert /etc/ssl/certs/ca-certificates.crt -o /dev/null -w '%{http_code}' \
  -X POST -H 'Request-Id: smoke' --data '{"data":"x"}' \
  "$base/desktoplogon/accounts/AC1000000001/resources/4242/config")"
[ "$code" = 400 ] || fail "an unopenable body gave $code, not 400"

out="$(curl -sS --cacert "$KV_TEST_CA_FILE" "$base/_sim/requests")"
case "$out" in
  *'["Request-Id","smoke"]'*'"opened":null'*) ;;
  *) fail "requests did not record the call: $out" ;;
esac
echo "cloudsim fixture smoke: ok on port $port"
