#!/usr/bin/env bash
# tsphost pbxcert against pbxsim --tls serving the test chain: the chain is
# printed and the stored certpin/verifycert are judged. Natively, or with
# tsphost.exe under wine (settings through `wine reg`).
# usage: tsphost_pbxcert.sh <tsphost> <pbxsim> [wine]
set -u
tsphost=$1
pbxsim=$2
wine=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$pbxsim" ]; then
  echo "SKIP: no native pbxsim at $pbxsim"
  exit 77
fi
command -v openssl >/dev/null 2>&1 || { echo "SKIP: no openssl"; exit 77; }
work=$(mktemp -d /tmp/qv-pbxcert.XXXXXX)
pbx_pid=""
cleanup() {
  [ -n "$pbx_pid" ] && kill "$pbx_pid" 2>/dev/null
  [ -n "$wine" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
sh "$here/../tls/chains/make_chains.sh" "$work/chains" >/dev/null 2>&1 || { echo "cannot make chains"; exit 1; }
"$pbxsim" --tls --cert "$work/chains/server_chain.pem" --key "$work/chains/leaf.key" </dev/null >"$work/pbx.out" 2>&1 &
pbx_pid=$!
for _ in $(seq 100); do
  port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "pbxsim did not start"; cat "$work/pbx.out"; exit 1; }
fingerprint=$(sed -n 's/^pbxsim certificate sha256 //p' "$work/pbx.out")
[ "$fingerprint" = "$(cat "$work/chains/leaf.fingerprint")" ] || { echo "FAIL: pbxsim fingerprint $fingerprint"; exit 1; }

if [ -n "$wine" ]; then
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
fi
# settings name=value ...: replaces the provider's stored values.
settings() {
  if [ -n "$wine" ]; then
    wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /f >/dev/null 2>&1
    for pair in "$@"; do
      wine reg add 'HKLM\SOFTWARE\quorvelone\tapi' /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1
    done
  else
    export QUORVELONE_REGISTRY=$work/registry.reg
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n'
      for pair in "$@"; do printf '"%s"="%s"\r\n' "${pair%%=*}" "${pair#*=}"; done
      printf '\r\n'
    } >"$QUORVELONE_REGISTRY"
  fi
}
failures=0
# expect text...: runs pbxcert and checks that every text is in its output.
expect() {
  local out
  if [ -n "$wine" ]; then
    out=$(wine "$tsphost" pbxcert 2>&1 | tr -d '\r')
  else
    out=$("$tsphost" pbxcert 2>&1)
  fi
  for text in "$@"; do
    if ! grep -qF -- "$text" <<<"$out"; then
      echo "FAIL: missing \"$text\" in:"
      echo "$out"
      failures=$((failures + 1))
      return
    fi
  done
}
base=(address=127.0.0.1 "port=$port" domain=office encrypt=1)
cafile=$work/chains/root.pem

settings "${base[@]}" "certpin=$fingerprint" verifycert=1 "cafile=$cafile"
expect "certificate 1 (the PBX's own)" "subject:  O=Quorvel Test, CN=pbx.example.com" \
  "issuer:   O=Quorvel Test, CN=Quorvel Test Intermediate" \
  "SAN:      DNS:pbx.example.com, DNS:alt.example.org, IP:127.0.0.1, IP:::1" "key:      RSA, 2048 bits" \
  "signed:   SHA-384 with RSA" "sha256:   $fingerprint" "certpin:    accepted" "verification accepted" \
  "verdict:    accepted"

settings "${base[@]}" "certpin=$(printf 'ab%.0s' $(seq 32))"
expect "certpin:    refused (alert 42): Certificate of O=Quorvel Test, CN=pbx.example.com with SHA-256 fingerprint $fingerprint matches no certpin" \
  "verdict:    refused (alert 42)"

settings "${base[@]}" verifycert=1
expect "verifycert: 1" "verification refused (alert 48)" "verdict:    refused (alert 48)"

settings "${base[@]}"
expect "certpin:    not set" "verifycert: 0" "verdict:    accepted (no check configured)"

# The newer key types, served with OpenSSL's defaults to tlsversion 1.2.
# serve name openssl-req-key-options...: a self-signed certificate and pbxsim on it.
serve() {
  local name=$1
  shift
  openssl req -x509 "$@" -nodes -days 30 -subj "/CN=$name.example.com" -keyout "$work/$name.key" \
    -out "$work/$name.crt" >/dev/null 2>&1 || { echo "FAIL: openssl cannot make the $name certificate"; exit 1; }
  "$pbxsim" --tls-modern --cert "$work/$name.crt" --key "$work/$name.key" </dev/null >"$work/$name.out" 2>&1 &
  extra_pids="$extra_pids $!"
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/$name.out" 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "pbxsim did not start for $name"; cat "$work/$name.out"; exit 1; }
}
extra_pids=""
trap 'kill $extra_pids 2>/dev/null; cleanup' EXIT
serve p384 -newkey ec -pkeyopt ec_paramgen_curve:P-384 -sha384
settings address=127.0.0.1 "port=$port" domain=office encrypt=1 tlsversion=1.2
expect "subject:  CN=p384.example.com" "key:      EC P-384 (secp384r1)" \
  "signed:   ECDSA with SHA-384 (1.2.840.10045.4.3.3)" "verdict:    accepted (no check configured)"
serve p256 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -sha256
settings address=127.0.0.1 "port=$port" domain=office encrypt=1 tlsversion=auto
expect "key:      EC P-256 (secp256r1)" "signed:   ECDSA with SHA-256 (1.2.840.10045.4.3.2)"
serve pss -newkey rsa-pss -pkeyopt rsa_keygen_bits:2048 -sha256 -sigopt rsa_pss_saltlen:32
settings address=127.0.0.1 "port=$port" domain=office encrypt=1 tlsversion=1.2
expect "subject:  CN=pss.example.com" "key:      RSA-PSS, 2048 bits" "signed:   RSASSA-PSS with SHA-256"

[ "$failures" -eq 0 ] && echo "pbxcert: all checks passed"
exit "$failures"
