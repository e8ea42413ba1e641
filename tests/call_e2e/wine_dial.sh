#!/usr/bin/env bash
# tsphost.exe from the Windows build, under wine, places calls through
# quorvelone.tsp against the native pbxsim on 127.0.0.1.
# usage: wine_dial.sh <tsphost.exe> <quorvelone.tsp> [native pbxsim]
set -u
tsphost=$1
provider=$2
pbxsim=${QV_PBXSIM:-${3:-}}
if [ -z "$pbxsim" ] || [ ! -x "$pbxsim" ]; then
  echo "SKIP: no native pbxsim (build the native tree or set QV_PBXSIM)"
  exit 77
fi
work=$(mktemp -d /tmp/qv-wine-dial.XXXXXX)
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  own_prefix=1
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
pbx_pid=""
cleanup() {
  [ -n "$pbx_pid" ] && kill "$pbx_pid" 2>/dev/null
  [ -n "${own_prefix:-}" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Starts pbxsim with the given options; sets $port and $pbx_pid.
start_pbx() {
  [ -n "$pbx_pid" ] && kill "$pbx_pid" 2>/dev/null && wait "$pbx_pid" 2>/dev/null
  rm -f "$work/pbx.out" "$work/frames.jsonl"
  "$pbxsim" --record "$work/frames.jsonl" "$@" </dev/null >"$work/pbx.out" 2>"$work/pbx.err" &
  pbx_pid=$!
  for _ in $(seq 50); do
    port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "pbxsim did not start"
  exit 1
}

set_setting() {
  wine reg add 'HKLM\SOFTWARE\quorvelone\tapi' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

provider_w=$(winepath -w "$provider" 2>/dev/null)
log_w=$(winepath -w "$work/provider.log" 2>/dev/null)

configure() {
  set_setting username 201
  set_setting password secret
  set_setting domain office
  set_setting address 127.0.0.1
  set_setting port "$port"
  set_setting encrypt 0
  set_setting autooriginate 0
  set_setting loglevel 5
  set_setting logfile "$log_w"
}

dial() {
  wine "$tsphost" dial "$provider_w" "$@" >"$work/dial.out" 2>&1
  local rc=$?
  tr -d '\r' <"$work/dial.out" >"$work/dial.txt"
  return $rc
}

# 1. The call from end to end.
start_pbx
configure
if ! dial "+49 (30) 1234-5678" --hold 1; then fail "dial exited non-zero"; fi
grep -q "completion of TSPI_lineMakeCall: 0$" "$work/dial.txt" || fail "no successful completion"
grep -q "^call complete$" "$work/dial.txt" || fail "call not complete"
grep -q '"root":"StartApplicationSession"' "$work/frames.jsonl" || fail "no login"
grep -q '"root":"MonitorStart"' "$work/frames.jsonl" || fail "no MonitorStart"
grep '"root":"MakeCall"' "$work/frames.jsonl" | grep -q 'calledDirectoryNumber>493012345678<' ||
  fail "MakeCall without the filtered number"
grep '"root":"ClearConnection"' "$work/frames.jsonl" | grep -q '<callID>1001</callID>\\r\\n<deviceID>201</deviceID>' ||
  fail "ClearConnection without the PBX's identifiers"
grep -q '"problem":"[^"]' "$work/frames.jsonl" && fail "pbxsim saw a malformed frame"
grep -q 'CSTA Rx: .*MakeCallResponse' "$work/dial.txt" || fail "no CSTA exchange in the output"

# 1b. A server of the standard profile (invokeid ascii): four-digit invoke
# ids, the namespaces it names; login, monitor, the call placed and cleared.
start_pbx --invoke-id ascii
configure
set_setting invokeid ascii
if ! dial 5550100 --hold 1; then fail "ascii: dial exited non-zero"; fi
grep -q "completion of TSPI_lineMakeCall: 0$" "$work/dial.txt" || fail "ascii: no successful completion"
grep -q '"root":"MonitorStart"' "$work/frames.jsonl" || fail "ascii: no MonitorStart"
grep '"root":"MakeCall"' "$work/frames.jsonl" | grep -q 'csta/ed5' || fail "ascii: MakeCall not in edition 5"
grep '"root":"ClearConnection"' "$work/frames.jsonl" | grep -q '<callID>1001</callID>' ||
  fail "ascii: ClearConnection without the PBX's call id"
grep -q '"problem":"[^"]' "$work/frames.jsonl" && fail "ascii: pbxsim saw a frame out of profile"
wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /v invokeid /f >/dev/null 2>&1

# 2. The PBX refuses the call: the completion says so.
start_pbx --makecall-error
configure
if dial 5550100; then fail "a refused call exited zero"; fi
grep -q "completion of TSPI_lineMakeCall: 0x80000048 (LINEERR_OPERATIONFAILED)" "$work/dial.txt" ||
  fail "refused call not completed with LINEERR_OPERATIONFAILED"

# 3. No PBX at all: the call fails at once and the provider still shuts down promptly.
kill "$pbx_pid" 2>/dev/null
wait "$pbx_pid" 2>/dev/null
pbx_pid=""
start=$(date +%s)
dial 5550100
elapsed=$(($(date +%s) - start))
grep -q "completion of TSPI_lineMakeCall: 0x80000048" "$work/dial.txt" || fail "call without PBX not failed"
grep -q "TSPI_providerShutdown = 0" "$work/dial.txt" || fail "no shutdown"
[ "$elapsed" -lt 20 ] || fail "dial without a PBX took ${elapsed}s"

# 4. The PBX certificate check: the pinned fingerprint logs in, another one
# fails the handshake with a line naming the fingerprint seen; a chain that
# leads to the root of cafile is verified.
if command -v openssl >/dev/null 2>&1 &&
  sh "$(dirname "$0")/../tls/chains/make_chains.sh" "$work/chains" >/dev/null 2>&1; then
  start_pbx --tls
  fingerprint=$(sed -n 's/^pbxsim certificate sha256 //p' "$work/pbx.out")
  configure
  set_setting encrypt 1
  set_setting certpin "$fingerprint"
  dial 5550100 || fail "dial with the right certpin exited non-zero"
  grep -q "completion of TSPI_lineMakeCall: 0$" "$work/dial.txt" || fail "no call with the right certpin"
  start_pbx --tls
  fingerprint=$(sed -n 's/^pbxsim certificate sha256 //p' "$work/pbx.out")
  configure
  set_setting encrypt 1
  rm -f "$work/provider.log"
  set_setting certpin "$(printf 'ab%.0s' $(seq 32))"
  if dial 5550100; then fail "a call with a wrong certpin exited zero"; fi
  grep -q "]:1 CSTA: Certificate of CN=pbxsim with SHA-256 fingerprint $fingerprint matches no certpin" \
    "$work/provider.log" || fail "no log line naming the fingerprint for a wrong certpin"
  grep -q '"root":"StartApplicationSession"' "$work/frames.jsonl" && fail "login despite a wrong certpin"

  start_pbx --tls --cert "$work/chains/server_chain.pem" --key "$work/chains/leaf.key"
  configure
  rm -f "$work/provider.log"
  wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /v certpin /f >/dev/null 2>&1
  set_setting encrypt 1
  set_setting verifycert 1
  set_setting cafile "$(winepath -w "$work/chains/root.pem" 2>/dev/null)"
  dial 5550100 || fail "dial with a verified chain exited non-zero"
  grep -q "completion of TSPI_lineMakeCall: 0$" "$work/dial.txt" || {
    fail "no call with a verified chain"
    grep "Certificate" "$work/provider.log"
  }
  wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /v verifycert /f >/dev/null 2>&1
  wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /v cafile /f >/dev/null 2>&1
else
  echo "certificate scenarios skipped: no openssl"
fi

# 5-9. A PBX that is dead or out of step: the call fails (or is abandoned)
# promptly, the log names what was detected, and shutdown is not held up.
ms_now() { echo $(($(date +%s%N) / 1000000)); }
fault() {
  local name=$1 expect=$2 limit_ms=$3
  shift 3
  rm -f "$work/provider.log"
  local start
  start=$(ms_now)
  dial 5550100 "$@"
  local elapsed=$(($(ms_now) - start))
  grep -q "TSPI_providerShutdown = 0" "$work/dial.txt" || fail "$name: no shutdown"
  echo "$name: ${elapsed} ms"
  [ "$elapsed" -lt "$limit_ms" ] || fail "$name: took ${elapsed} ms"
  if [ -n "$expect" ]; then
    tr -d '\r' <"$work/provider.log" | grep -q "$expect" || fail "$name: no \"$expect\" in the log"
  fi
}
start_pbx --garbage
configure
fault "garbage" "CSTA Rx: frame does not start with two zero bytes, dropping the connection" 10000 --timeout 10
grep -q "completion of TSPI_lineMakeCall: 0x80000048" "$work/dial.txt" || fail "garbage: call not failed"
start_pbx --tls --alert-silent
configure
set_setting encrypt 1
fault "fatal TLS alert" "TLS alert from the PBX, dropping the connection" 10000 --timeout 10
grep -q "completion of TSPI_lineMakeCall: 0x80000048" "$work/dial.txt" || fail "alert: call not failed"
start_pbx --no-read
configure
fault "not reading" "" 8000 --timeout 2 --settle 0
start_pbx --silent
configure
fault "silent" "" 8000 --timeout 2 --settle 0
# A name rather than an address: the lookup runs on a thread of its own.
start_pbx
configure
set_setting address localhost
fault "name lookup" "" 8000 --timeout 5
# Where localhost means ::1 first, nothing listens there: any completion will do.
grep -q "completion of TSPI_lineMakeCall" "$work/dial.txt" || fail "name lookup: no completion"
set_setting address ""
fault "no address" "No PBX address configured, not connecting" 8000 --timeout 2
grep -q "completion of TSPI_lineMakeCall: 0x80000048" "$work/dial.txt" || fail "no address: call not failed"
grep -q "Connection establishment" "$work/provider.log" && fail "no address: a connection was attempted"

if [ "$failures" -ne 0 ]; then
  echo "---- last tsphost output"
  cat "$work/dial.txt"
  exit 1
fi
echo "wine dial: all scenarios passed"
