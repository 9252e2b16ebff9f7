#!/bin/sh
# The CTest fixture gives a running simulator, its port file and a CA that verifies it
# through KV_TEST_CA_FILE; the host trust store (what Wine reads) trusts it in the windows
# build only.
#   fixture_smoke.sh host|file
set -eu
trust="${1:?usage: fixture_smoke.sh host|file}"
: "${KV_CLOUDSIM_PORT_FILE:?not set}" "${KV_TEST_CA_FILE:?not set}" "${KV_CLOUDSIM_FIXTURE_FILE:?not set}"
port="$(cat "$KV_CLOUDSIM_PORT_FILE")"
base="https://localhost:$port"
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$KV_CLOUDSIM_FIXTURE_FILE" ] || fail "no fixture file $KV_CLOUDSIM_FIXTURE_FILE"
out="$(curl -sS --cacert "$KV_TEST_CA_FILE" -X POST "$base/_sim/reset")"
[ "$out" = '{"ok":true}' ] || fail "reset answered: $out"

# Against the host store alone: the certificate chains to a CA there only when the fixture
# put it there.
set +e
code="$(curl -sS --cacert /etc/ssl/certs/ca-certificates.crt -o /dev/null -w '%{http_code}' \
  -X POST -H 'Request-Id: smoke' --data '{"data":"x"}' \
  "$base/desktoplogon/accounts/AC1000000001/resources/4242/config" 2>/dev/null)"
set -e
if [ "$trust" = host ]; then
  [ "$code" = 400 ] || fail "an unopenable body gave $code, not 400"
else
  [ "$code" = 000 ] || fail "the host store trusts the native test CA (answer $code)"
  curl -sS --cacert "$KV_TEST_CA_FILE" -o /dev/null -X POST -H 'Request-Id: smoke' --data '{"data":"x"}' \
    "$base/desktoplogon/accounts/AC1000000001/resources/4242/config"
fi

out="$(curl -sS --cacert "$KV_TEST_CA_FILE" "$base/_sim/requests")"
case "$out" in
  *'["Request-Id","smoke"]'*'"opened":null'*) ;;
  *) fail "requests did not record the call: $out" ;;
esac
echo "cloudsim fixture smoke: ok on port $port"
