#!/bin/sh
# Makes the certificates of the agency stand-in's tests in DIR: an authority
# (ca.pem), the server's certificate for 127.0.0.1 signed by it, the
# issuer's client certificate as PKCS#12 (client.p12, password in
# client.pass, mode 600), the same key in an expired certificate
# (expired.p12), and a second authority that signed nothing (other-ca.pem).
set -eu
dir=$1
cd "$dir"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Stand-in authority"
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.pem -days 30 -subj "/CN=Other authority"
quiet openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1"
printf 'subjectAltName=IP:127.0.0.1\n' > server.ext
quiet openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 30 -extfile server.ext
quiet openssl req -newkey rsa:2048 -nodes -keyout client.key -out client.csr -subj "/CN=12345678Z Jordi Vilaro/serialNumber=IDCES-12345678Z"
quiet openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out client.pem -days 30
printf 'clau de prova\n' > client.pass
chmod 600 client.pass
quiet openssl pkcs12 -export -in client.pem -inkey client.key -out client.p12 -passout pass:"clau de prova"
# An expired certificate: signed by the authority with dates in the past.
mkdir -p ca-db
: > ca-db/index.txt
echo 1000 > ca-db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
default_md = sha256
policy = any
[any]
commonName = supplied
CNF
quiet openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in client.csr -out expired.pem \
  -startdate 20200101000000Z -enddate 20210101000000Z -notext
quiet openssl pkcs12 -export -in expired.pem -inkey client.key -out expired.p12 -passout pass:"clau de prova"
