#!/bin/sh
# Runs a test program (under an emulator such as wine when given) while two
# native openssl s_server processes listen on loopback: one serving TLS 1.0
# (port in QV_TLS_PEER_PORT), one with OpenSSL's defaults, no cipher, version
# or security-level options (port in QV_TLS12_PEER_PORT), and one serving TLS
# 1.3 only over secp384r1 (a HelloRetryRequest for our hello) with the AES-256
# and ChaCha20 suites (port in QV_TLS13_PEER_PORT). Beside them, one s_server
# per server configuration a PBX may have (QV_PEER_<NAME>, each at OpenSSL's
# defaults but for what its name says): an ECDSA P-256 or P-384 key, an
# RSA-PSS key, ECDHE over P-256 only, ChaCha20-Poly1305 only, a client
# certificate required (trusting the certificates in QV_PEER_CLIENT_DIR).
# Without openssl the program runs alone and skips.
# usage: run_with_s_server.sh [emulator] program [args]
set -u
if ! command -v openssl >/dev/null 2>&1; then
  exec "$@"
fi
dir=$(mktemp -d /tmp/qv-s-server.XXXXXX)
pids=
trap 'kill $pids 2>/dev/null; rm -rf "$dir"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" \
  -subj /CN=pbx.example.com -days 2 >/dev/null 2>&1

# start_server NAME SALT OPTIONS...: prints the port it listens on; the
# certificate is $dir/$cert.pem with its key $dir/$cert.key ($cert: "cert").
cert=cert
start_server() {
  name=$1
  salt=$2
  shift 2
  key=$dir/$cert.key
  [ "$cert" = cert ] && key=$dir/key.pem
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(( 20000 + ($$ * 7 + attempt * 3571 + salt) % 30000 ))
    timeout 300 openssl s_server "$@" -accept "127.0.0.1:$port" \
      -cert "$dir/$cert.pem" -key "$key" -rev >"$dir/$name.out" 2>&1 </dev/null &
    echo $! >"$dir/$name.pid"
    for tick in $(seq 1 100); do
      grep -q ACCEPT "$dir/$name.out" 2>/dev/null && break
      kill -0 "$(cat "$dir/$name.pid")" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q ACCEPT "$dir/$name.out"; then
      echo "$port"
      return 0
    fi
    kill "$(cat "$dir/$name.pid")" 2>/dev/null
  done
  echo 0
}

port=$(start_server tls10 0 -tls1 -cipher 'AES128-SHA:AES256-SHA:@SECLEVEL=0' -naccept 3)
pids="$(cat "$dir/tls10.pid")"
port12=$(start_server tls12 1789 -naccept 4)
pids="$pids $(cat "$dir/tls12.pid")"
port13=$(start_server tls13 3907 -tls1_3 -groups P-384 \
  -ciphersuites TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384 -naccept 2)
pids="$pids $(cat "$dir/tls13.pid")"
# make_cert NAME KEY-OPTIONS...: a self-signed certificate NAME.pem, key NAME.key.
make_cert() {
  name=$1
  shift
  openssl req -x509 "$@" -nodes -keyout "$dir/$name.key" -out "$dir/$name.pem" \
    -subj "/CN=${subject:-pbx.example.com}" -days 2 >/dev/null 2>&1
}
make_cert ecdsa256 -newkey ec -pkeyopt ec_paramgen_curve:P-256
make_cert ecdsa384 -newkey ec -pkeyopt ec_paramgen_curve:P-384
make_cert rsapss -newkey rsa-pss -pkeyopt rsa_keygen_bits:2048
mkdir "$dir/clients"
subject=client
make_cert clients/rsa -newkey rsa:2048
make_cert clients/ecdsa256 -newkey ec -pkeyopt ec_paramgen_curve:P-256
cat "$dir"/clients/*.pem >"$dir/client-ca.pem"

# peer NAME SALT OPTIONS...: one more configuration, exported as QV_PEER_NAME.
peer() {
  name=$1
  shift
  p=$(start_server "$name" "$@")
  pids="$pids $(cat "$dir/$name.pid")"
  export "QV_PEER_$name=$p"
}
cert=ecdsa256; peer ECDSA256 5101
cert=ecdsa384; peer ECDSA384 5303
cert=rsapss; peer RSAPSS 5507
cert=cert; peer P256 5701 -groups P-256
peer CHACHA 5903 -cipher ECDHE-RSA-CHACHA20-POLY1305 -ciphersuites TLS_CHACHA20_POLY1305_SHA256
peer MTLS 6101 -Verify 1 -CAfile "$dir/client-ca.pem"
export QV_PEER_CLIENT_DIR="$dir/clients"

QV_TLS_PEER_PORT=$port QV_TLS12_PEER_PORT=$port12 QV_TLS13_PEER_PORT=$port13 "$@"
exit $?
