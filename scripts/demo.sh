#!/usr/bin/env bash
# The main job: installs what is missing, builds the provider, tsphost and
# pbxsim, starts the PBX simulator over TLS on loopback, and lets tsphost
# place a call through the provider with a throw-away settings store at log
# level 5; then prints both sides of the exchange and the provider's log.
# BUILD_DIR=<folder> builds there instead of the native preset's folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

if [ -n "${BUILD_DIR:-}" ]; then
  build=$BUILD_DIR
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
else
  build=build/native
  cmake --preset native >/dev/null
fi
cmake --build "$build" --target quorvelone tsphost pbxsim

work=$(mktemp -d /tmp/quorvelone-demo.XXXXXX)
pbx=""
cleanup() { [ -n "$pbx" ] && kill "$pbx" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# The PBX simulator on an ephemeral loopback port, over TLS (OpenSSL, TLS 1.0,
# a self-signed certificate made at start-up) as the provider's default wants.
"$build/tools/pbxsim/pbxsim" --tls --verbose </dev/null >"$work/pbx.out" 2>"$work/pbx.err" &
pbx=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "pbxsim did not start"; cat "$work/pbx.err"; exit 1; }

export QUORVELONE_REGISTRY=$work/registry.reg
printf '%s\r\n' \
  'Windows Registry Editor Version 5.00' \
  '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\quorvelone\tapi]' \
  '"username"="201"' \
  '"password"="secret"' \
  '"domain"="office"' \
  '"address"="127.0.0.1"' \
  "\"port\"=\"$port\"" \
  '"encrypt"="1"' \
  '"loglevel"="5"' \
  "\"logfile\"=\"$work/quorvelone.log\"" \
  '' >"$QUORVELONE_REGISTRY"

echo "== tsphost dial (PBX simulator on 127.0.0.1:$port, TLS)"
"$build/tools/tsphost/tsphost" dial "$PWD/$build/provider/quorvelone.tsp" "+49 (30) 1234-5678" --hold 2
kill "$pbx" 2>/dev/null; wait "$pbx" 2>/dev/null || true; pbx=""
echo
echo "== PBX side"
cat "$work/pbx.err"
echo
echo "== provider log ($work/quorvelone.log)"
tr -d '\r' <"$work/quorvelone.log"
