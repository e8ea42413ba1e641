#!/bin/sh
# Runs a test program (under an emulator such as wine when given) while a
# native openssl s_server serves TLS 1.0 on loopback; the program finds the
# port in QV_TLS_PEER_PORT. Without openssl the program runs alone and skips.
# usage: run_with_s_server.sh [emulator] program [args]
set -u
if ! command -v openssl >/dev/null 2>&1; then
  exec "$@"
fi
dir=$(mktemp -d /tmp/qv-s-server.XXXXXX)
trap 'kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" \
  -subj /CN=pbx.example.com -days 2 >/dev/null 2>&1
pid=
for attempt in 1 2 3 4 5 6 7 8; do
  port=$(( 20000 + ($$ * 7 + attempt * 3571) % 30000 ))
  timeout 300 openssl s_server -tls1 -cipher 'AES128-SHA:AES256-SHA:@SECLEVEL=0' -accept "127.0.0.1:$port" \
    -cert "$dir/cert.pem" -key "$dir/key.pem" -rev -naccept 3 >"$dir/out" 2>&1 </dev/null &
  pid=$!
  for tick in $(seq 1 100); do
    grep -q ACCEPT "$dir/out" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q ACCEPT "$dir/out" && break
  kill "$pid" 2>/dev/null
done
QV_TLS_PEER_PORT=$port "$@"
exit $?
