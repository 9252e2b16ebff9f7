#!/bin/sh
# Makes a throw-away test CA and a "localhost" server certificate signed by it:
#   <dir>/ca.pem ca.key server.pem server.key
# For tests only: the keys are unprotected and the CA lives as long as the test run.
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 <dir>" >&2
  exit 2
fi
dir="$1"
mkdir -p "$dir"
cd "$dir"
umask 077
rm -f ca.pem ca.key ca.srl server.pem server.key server.csr server.ext

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
  -keyout ca.key -out ca.pem \
  -subj "/CN=Korvath cloudsim test CA $(date -u +%Y%m%d%H%M%S) $$" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1

openssl req -newkey rsa:2048 -nodes -sha256 \
  -keyout server.key -out server.csr -subj "/CN=localhost" >/dev/null 2>&1

cat > server.ext <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -days 2 -sha256 -extfile server.ext -out server.pem >/dev/null 2>&1
rm -f server.csr server.ext ca.srl
# The CA certificate is public; it is copied into trust stores.
chmod 644 ca.pem server.pem
