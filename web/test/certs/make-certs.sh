#!/usr/bin/env bash
# Makes the TLS test server's certificates (test use only; 127.0.0.1 alone):
#   test-root.pem           an authority the Wine test prefix trusts (its key
#                           is thrown away: it signs nothing else)
#   server.pem, server.key  issued by it
#   untrusted.pem, .key     the same names, issued by an authority nobody
#                           trusts (thrown away at once): refused by a client
# Both name the host as DNS:127.0.0.1 (Wine's request object matches only DNS
# names) and IP:127.0.0.1 (libcurl matches an address only against that).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
days=7300
san="subjectAltName=DNS:127.0.0.1,IP:127.0.0.1"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -out test-root.pem \
  -days "$days" -subj "/CN=Reminder Test Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"

openssl req -newkey rsa:2048 -nodes -keyout server.key -out "$work/server.csr" -subj "/CN=127.0.0.1"
printf '%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$san" >"$work/ext"
openssl x509 -req -in "$work/server.csr" -CA test-root.pem -CAkey "$work/root.key" \
  -CAcreateserial -out server.pem -days "$days" -extfile "$work/ext"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/other.key" -out "$work/other.pem" \
  -days "$days" -subj "/CN=Unknown Test Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
openssl req -newkey rsa:2048 -nodes -keyout untrusted.key -out "$work/untrusted.csr" \
  -subj "/CN=127.0.0.1"
openssl x509 -req -in "$work/untrusted.csr" -CA "$work/other.pem" -CAkey "$work/other.key" \
  -CAcreateserial -out untrusted.pem -days "$days" -extfile "$work/ext"
rm -f test-root.srl "$work"/*.srl
