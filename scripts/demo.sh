#!/usr/bin/env bash
# The main job: installs what is missing, builds the provider, tsphost and
# pbxsim, starts the PBX simulator over TLS on loopback, and lets tsphost
# place a call through the provider with a throw-away settings store at log
# level 5; then prints both sides of the exchange and the provider's log.
# Then, with callevents 1, tsphost monitor shows the call states an
# application sees: an own call (far end answers, hold, unhold, drop) and an
# incoming call with caller ID (offered, answered, dropped).
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
mon=""
cleanup() {
  [ -n "$mon" ] && kill "$mon" 2>/dev/null
  [ -n "$pbx" ] && kill "$pbx" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# start_pbx <option>...: the PBX simulator on an ephemeral loopback port, over
# TLS (OpenSSL, TLS 1.0, a self-signed certificate made at start-up) as the
# provider's default wants; its commands come from this function's standard
# input. Sets $port.
start_pbx() {
  "$build/tools/pbxsim/pbxsim" --tls "$@" <&0 >"$work/pbx.out" 2>"$work/pbx.err" &
  pbx=$!
  port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "pbxsim did not start"; cat "$work/pbx.err"; exit 1; }
}

# settings <extra line>...: the throw-away settings store for the PBX on $port.
export QUORVELONE_REGISTRY=$work/registry.reg
settings() {
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
    "$@" \
    '' >"$QUORVELONE_REGISTRY"
}

start_pbx --verbose </dev/null
settings "\"logfile\"=\"$work/quorvelone.log\""

echo "== tsphost dial (PBX simulator on 127.0.0.1:$port, TLS)"
"$build/tools/tsphost/tsphost" dial "$PWD/$build/provider/quorvelone.tsp" "+49 (30) 1234-5678" --hold 2
kill "$pbx" 2>/dev/null; wait "$pbx" 2>/dev/null || true; pbx=""
echo
echo "== PBX side"
cat "$work/pbx.err"
echo
echo "== provider log ($work/quorvelone.log)"
tr -d '\r' <"$work/quorvelone.log"

# An application's view with callevents 1: tsphost monitor takes commands
# from one FIFO, pbxsim (with its call model) from another; each step waits
# for the event it leads to.
mkfifo "$work/pbx.in" "$work/monitor.in"
exec 3<>"$work/pbx.in" 4<>"$work/monitor.in"
start_pbx --calls --answer-delay 1000 <&3
settings '"callevents"="1"' "\"logfile\"=\"$work/callevents.log\""
echo
echo "== tsphost monitor with callevents 1 (PBX simulator on 127.0.0.1:$port, TLS, far end answers after 1 s)"
"$build/tools/tsphost/tsphost" monitor "$PWD/$build/provider/quorvelone.tsp" <&4 | tee "$work/monitor.out" &
mon=$!
# wait_for <file> <extended regex> [count]: until count lines (default 1) of
# the file match; 15 s at most.
wait_for() {
  local seen
  for _ in $(seq 1 300); do
    seen=$(grep -cE -- "$2" "$1" 2>/dev/null || true)
    [ "${seen:-0}" -ge "${3:-1}" ] && return 0
    sleep 0.05
  done
  echo "!! demo: gave up waiting for \"$2\""
  exit 1
}
# step <monitor command> <regex> [count]: sends the command, waits for its event.
step() {
  echo "$1" >&4
  wait_for "$work/monitor.out" "$2" "${3:-1}"
}
wait_for "$work/monitor.out" '^-> TSPI_lineOpen\(0\) = 0'
wait_for "$work/callevents.log" 'MonitorStartResponse'
step 'dial +49 (30) 1234-5678' '^<- LINE_CALLSTATE call #1 CONNECTED'
step 'hold' '^<- LINE_CALLSTATE call #1 ONHOLD'
step 'unhold' '^<- LINE_CALLSTATE call #1 CONNECTED' 2
step 'drop' '^<- LINE_CALLSTATE call #1 IDLE'
wait_for "$work/monitor.out" '^-> TSPI_lineCloseCall\(call #1\)'
echo "== PBX simulator: incoming +4930123456 Erika Mustermann"
echo 'incoming +4930123456 Erika Mustermann' >&3
wait_for "$work/monitor.out" '^<- LINE_CALLSTATE call #2 OFFERING'
step 'answer' '^<- LINE_CALLSTATE call #2 CONNECTED'
step 'drop' '^<- LINE_CALLSTATE call #2 IDLE'
echo 'quit' >&4
wait "$mon" || true
mon=""
echo
echo "== provider log, call-control lines ($work/callevents.log)"
tr -d '\r' <"$work/callevents.log" | grep -E 'CTI|TSPI_line(Answer|Drop|Hold|Unhold)' || true
