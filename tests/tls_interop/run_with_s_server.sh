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
# Where the script can have a network namespace of its own (only lo up), it
# also starts gnutls-serv, which listens on every interface, at its defaults,
# with an ECDSA P-256 key, TLS 1.3 only over secp384r1 and with a client
# certificate required (QV_PEER_GNUTLS*), and Python's ssl module at its
# default server settings with an RSA and an ECDSA P-384 key
# (QV_PEER_PYTHON*); these echo what they read unchanged.
# Without openssl the program runs alone and skips.
# usage: run_with_s_server.sh [emulator] program [args]
set -u
if ! command -v openssl >/dev/null 2>&1; then
  exec "$@"
fi
if [ -z "${QV_PRIVATE_NET:-}" ] && unshare -rn true 2>/dev/null; then
  exec unshare -rn sh -c 'ip link set lo up && QV_PRIVATE_NET=1 exec sh "$0" "$@"' "$0" "$@"
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

# listening PORT: whether something listens on PORT in this namespace, for
# up to ten seconds.
listening() {
  for tick in $(seq 1 100); do
    ss -ltnH "( sport = :$1 )" 2>/dev/null | grep -q . && return 0
    sleep 0.1
  done
  return 1
}
# other_peer NAME SALT COMMAND...: starts COMMAND with its port appended and
# exports it as QV_PEER_NAME once it listens.
other_peer() {
  name=$1
  salt=$2
  shift 2
  for attempt in 1 2 3 4 5 6 7 8; do
    p=$(( 20000 + ($$ * 7 + attempt * 3571 + salt) % 30000 ))
    ss -ltnH "( sport = :$p )" | grep -q . && continue
    timeout 300 "$@" "$p" >"$dir/$name.out" 2>&1 </dev/null &
    pid=$!
    if listening "$p"; then
      pids="$pids $pid"
      export "QV_PEER_$name=$p"
      return 0
    fi
    kill "$pid" 2>/dev/null
  done
}
if [ -n "${QV_PRIVATE_NET:-}" ] && command -v gnutls-serv >/dev/null 2>&1; then
  gnutls() {
    cert=$1
    shift
    key=$dir/$cert.key
    [ "$cert" = cert ] && key=$dir/key.pem
    name=$1
    salt=$2
    shift 2
    other_peer "$name" "$salt" gnutls-serv --echo --x509certfile "$dir/$cert.pem" --x509keyfile "$key" "$@" -p
  }
  gnutls cert GNUTLS 6301
  gnutls ecdsa256 GNUTLS_ECDSA256 6503
  gnutls cert GNUTLS_TLS13 6701 --priority NORMAL:-VERS-ALL:+VERS-TLS1.3:-GROUP-ALL:+GROUP-SECP384R1
  gnutls cert GNUTLS_MTLS 6907 --require-client-cert --verify-client-cert --x509cafile "$dir/client-ca.pem"
fi
if [ -n "${QV_PRIVATE_NET:-}" ] && command -v python3 >/dev/null 2>&1; then
  cat >"$dir/server.py" <<'EOF'
import socket, ssl, sys
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.create_server(("127.0.0.1", int(sys.argv[3])))
while True:
    connection, _ = listener.accept()
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            tls.sendall(tls.recv(4096))
    except (OSError, ssl.SSLError) as error:
        print(error, flush=True)
EOF
  other_peer PYTHON 7103 python3 "$dir/server.py" "$dir/cert.pem" "$dir/key.pem"
  other_peer PYTHON_ECDSA384 7307 python3 "$dir/server.py" "$dir/ecdsa384.pem" "$dir/ecdsa384.key"
fi

QV_TLS_PEER_PORT=$port QV_TLS12_PEER_PORT=$port12 QV_TLS13_PEER_PORT=$port13 "$@"
exit $?
