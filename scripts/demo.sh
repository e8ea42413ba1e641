#!/usr/bin/env bash
# The main job: installs what is missing, builds the provider and tsphost,
# and lets tsphost drive the provider through its lifecycle with a throw-away
# settings store at log level 5, then prints the provider's log.
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
cmake --build "$build" --target quorvelone tsphost

work=$(mktemp -d /tmp/quorvelone-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
export QUORVELONE_REGISTRY=$work/registry.reg
# No PBX is listening on this port: the provider logs the failed connection
# and keeps its line present, as it does in the field.
printf '%s\r\n' \
  'Windows Registry Editor Version 5.00' \
  '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\quorvelone\tapi]' \
  '"username"="40"' \
  '"domain"="pbx.example.com"' \
  '"address"="127.0.0.1"' \
  '"port"="1"' \
  '"encrypt"="0"' \
  '"loglevel"="5"' \
  "\"logfile\"=\"$work/quorvelone.log\"" \
  '' >"$QUORVELONE_REGISTRY"

echo "== tsphost lifecycle"
"$build/tools/tsphost/tsphost" lifecycle "$PWD/$build/provider/quorvelone.tsp"
echo
echo "== provider log ($work/quorvelone.log)"
tr -d '\r' <"$work/quorvelone.log"
