#!/usr/bin/env bash
# Makes the TLS certificates of the https tests in folder DIR, valid for two
# days, with the openssl command line:
#   ca.pem                        a test CA that only the tests trust
#   server.pem, server.key        from the CA, for 127.0.0.1 and localhost
#   wrong-name.pem, wrong-name.key  from the CA, for another name only
#   self-signed.pem, self-signed.key  for 127.0.0.1, signed by itself
# The CA's private key is removed once the certificates are signed.
# Usage: make_test_certificates.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"

new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
leaf_extensions() {
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=serverAuth" "subjectAltName=$1"
}

new_key ca.key
openssl req -new -x509 -key ca.key -out ca.pem -days 2 -subj "/CN=Kel test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null

# from_ca NAME SUBJECT_ALT_NAMES
from_ca() {
  new_key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr" 2>/dev/null
  leaf_extensions "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}
from_ca server "IP:127.0.0.1,DNS:localhost"
from_ca wrong-name "DNS:wrong-name.invalid"
rm -f ca.key ca.srl

new_key self-signed.key
openssl req -new -x509 -key self-signed.key -out self-signed.pem -days 2 -subj "/CN=127.0.0.1" \
  -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
