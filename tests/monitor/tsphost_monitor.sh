#!/usr/bin/env bash
# tsphost monitor with commands on its standard input against pbxsim --calls:
# an own call (dial, far end answers, hold, unhold, drop), an incoming one
# with caller ID (offered, answered, dropped), a redirected and a transferred
# one print the states, modes, identities and named completions an
# application sees; with callevents 0 only completions. Each
# step waits for the output it expects. Natively, or with tsphost.exe under
# wine (settings through `wine reg`).
# usage: tsphost_monitor.sh <tsphost> <quorvelone.tsp> <pbxsim> [wine]
set -u
tsphost=$1
provider=$2
pbxsim=$3
wine=${4:-}
if [ ! -x "$pbxsim" ]; then
  echo "SKIP: no native pbxsim at $pbxsim"
  exit 77
fi
work=$(mktemp -d /tmp/qv-monitor.XXXXXX)
pbx_pid=""
mon_pid=""
tails=()
cleanup() {
  [ -n "$mon_pid" ] && kill "$mon_pid" 2>/dev/null
  [ -n "$pbx_pid" ] && kill "$pbx_pid" 2>/dev/null
  for t in "${tails[@]}"; do kill "$t" 2>/dev/null; done
  [ -n "$wine" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
if [ -n "$wine" ]; then
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
fi
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Commands go to a file that tail feeds to the program's standard input.
# feed <file> <pidfile>: the command stream of one program.
feed() {
  : >"$1"
  (
    tail -n +1 -s 0.05 -f "$1" &
    echo $! >"$2"
    wait
  )
}

# wait_for <file> <extended regex> [count]: until the output holds count lines
# matching (default 1); false after 30 s.
wait_for() {
  local n=${3:-1}
  for _ in $(seq 600); do
    [ "$(tr -d '\r' 2>/dev/null <"$1" | grep -cE -- "$2")" -ge "$n" ] && return 0
    if [ -n "$mon_pid" ] && ! kill -0 "$mon_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  fail "no \"$2\" (x$n) in $(basename "$1")"
  return 1
}

# start <callevents>: pbxsim --calls and tsphost monitor connected to it.
start() {
  rm -f "$work"/*.out "$work"/*.in
  feed "$work/pbx.in" "$work/pbx.tail" | "$pbxsim" --calls --answer-delay 300 >"$work/pbx.out" 2>&1 &
  pbx_pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "pbxsim did not start"; exit 1; }
  local settings=(username=201 password=secret domain=office address=127.0.0.1 "port=$port" encrypt=0
    "callevents=$1" loglevel=5)
  if [ -n "$wine" ]; then
    wine reg delete 'HKLM\SOFTWARE\quorvelone\tapi' /f >/dev/null 2>&1
    for pair in "${settings[@]}" "logfile=$(winepath -w "$work/provider.log" 2>/dev/null)"; do
      wine reg add 'HKLM\SOFTWARE\quorvelone\tapi' /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1
    done
    feed "$work/mon.in" "$work/mon.tail" |
      wine "$tsphost" monitor "$(winepath -w "$provider" 2>/dev/null)" >"$work/mon.out" 2>&1 &
  else
    export QUORVELONE_REGISTRY=$work/registry.reg
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n'
      for pair in "${settings[@]}" "logfile=$work/provider.log"; do
        printf '"%s"="%s"\r\n' "${pair%%=*}" "${pair#*=}"
      done
      printf '\r\n'
    } >"$QUORVELONE_REGISTRY"
    feed "$work/mon.in" "$work/mon.tail" | "$tsphost" monitor "$provider" >"$work/mon.out" 2>&1 &
  fi
  mon_pid=$!
  wait_for "$work/mon.out" '^-> TSPI_lineOpen\(0\) = 0' || return 1
  # Calls from the PBX's side need the provider's device monitor in place.
  for _ in $(seq 600); do
    grep -q 'MonitorStartResponse' "$work/provider.log" 2>/dev/null && break
    sleep 0.05
  done
}
monitor() { echo "$*" >>"$work/mon.in"; }
pbx() { echo "$*" >>"$work/pbx.in"; }
# finish: quits the monitor and waits for it; leaves its output in mon.txt.
finish() {
  monitor quit
  for _ in $(seq 600); do kill -0 "$mon_pid" 2>/dev/null || break; sleep 0.05; done
  kill "$mon_pid" 2>/dev/null
  mon_pid=""
  for t in "$work/mon.tail" "$work/pbx.tail"; do [ -s "$t" ] && kill "$(cat "$t")" 2>/dev/null; done
  kill "$pbx_pid" 2>/dev/null
  wait "$pbx_pid" 2>/dev/null
  pbx_pid=""
  tr -d '\r' <"$work/mon.out" >"$work/mon.txt"
  grep -q '^-> TSPI_providerShutdown = 0$' "$work/mon.txt" || fail "no clean shutdown"
  # Under the sanitizer presets their reports land in the outputs.
  if grep -q 'Sanitizer' "$work/mon.txt" "$work/pbx.out"; then
    fail "sanitizer report"
    grep -h -A30 'Sanitizer' "$work/mon.txt" "$work/pbx.out"
  fi
}
# states <call>: that call's LINE_CALLSTATE lines, one state (mode) each.
states() { sed -n "s/^<- LINE_CALLSTATE call #$1 //p" "$work/mon.txt" | tr '\n' ','; }

out=$work/mon.out
# 1. callevents 1: an own call, then an incoming one.
start 1
monitor dial "+49 (30) 1234-5678"
wait_for "$out" '^<- LINE_CALLSTATE call #1 CONNECTED \(ACTIVE\)$'
monitor hold
wait_for "$out" '^<- LINE_CALLSTATE call #1 ONHOLD$'
monitor unhold
wait_for "$out" '^<- LINE_CALLSTATE call #1 CONNECTED \(ACTIVE\)$' 2
monitor drop
wait_for "$out" '^<- LINE_CALLSTATE call #1 IDLE$'
pbx incoming +4930123456 Erika Mustermann
wait_for "$out" '^<- LINE_CALLSTATE call #2 OFFERING \(ACTIVE\)$'
monitor answer
wait_for "$out" '^<- LINE_CALLSTATE call #2 CONNECTED \(ACTIVE\)$'
monitor drop
wait_for "$out" '^<- LINE_CALLSTATE call #2 IDLE$'
# Redirected while offered; an own call handed on with a blind transfer.
pbx incoming 5550199
wait_for "$out" '^<- LINE_CALLSTATE call #3 OFFERING \(ACTIVE\)$'
monitor redirect '#3' 2002
wait_for "$out" '^<- LINE_CALLSTATE call #3 IDLE$'
monitor dial 5550100
wait_for "$out" '^<- LINE_CALLSTATE call #4 CONNECTED \(ACTIVE\)$'
monitor transfer 2003
wait_for "$out" '^<- LINE_CALLSTATE call #4 IDLE$'
finish
[ "$(states 1)" = "DIALING,PROCEEDING,RINGBACK,CONNECTED (ACTIVE),ONHOLD,CONNECTED (ACTIVE),IDLE," ] ||
  fail "own call's states: $(states 1)"
[ "$(states 2)" = "OFFERING (ACTIVE),CONNECTED (ACTIVE),IDLE," ] || fail "incoming call's states: $(states 2)"
[ "$(states 3)" = "OFFERING (ACTIVE),DISCONNECTED (FORWARDED),IDLE," ] || fail "redirected call's states: $(states 3)"
grep -q '^-> TSPI_lineMakeCall(call #1, "+49 (30) 1234-5678") request [0-9]* = [0-9]* (completion follows)$' \
  "$work/mon.txt" || fail "no MakeCall request line"
for done in 'TSPI_lineMakeCall(call #1, "+49 (30) 1234-5678")' 'TSPI_lineHold(call #1)' 'TSPI_lineUnhold(call #1)' \
  'TSPI_lineDrop(call #1)' 'TSPI_lineAnswer(call #2)' 'TSPI_lineDrop(call #2)' \
  'TSPI_lineRedirect(call #3, "2002")' 'TSPI_lineBlindTransfer(call #4, "2003")'; do
  grep -qF "$done: 0" "$work/mon.txt" || fail "no successful completion of $done"
done
grep -q '^     called    ADDRESS "493012345678"$' "$work/mon.txt" || fail "own call without its called ID"
# The incoming call is announced with its caller's number and name.
sed -n '/^<- LINE_NEWCALL call #2$/,/^<- LINE_CALLSTATE/p' "$work/mon.txt" >"$work/newcall.txt"
grep -q '^     origin EXTERNAL' "$work/newcall.txt" || fail "incoming call not EXTERNAL"
grep -q '^     caller    NAME|ADDRESS "+4930123456" (Erika Mustermann)$' "$work/newcall.txt" ||
  fail "incoming call without caller ID and name"
grep -q '^     called    ADDRESS "201"$' "$work/newcall.txt" || fail "incoming call without called ID"
grep -q '^<- LINE_CALLINFO call #2 CONNECTEDID$' "$work/mon.txt" || fail "no CONNECTEDID for the answered call"
grep -q '^!!' "$work/mon.txt" && fail "monitor complained"
# A request line comes before the events its call causes.
awk '/^-> TSPI_lineHold/ {r = NR} /LINE_CALLSTATE call #1 ONHOLD/ {e = NR} END {exit !(r && e && r < e)}' \
  "$work/mon.txt" || fail "ONHOLD printed before the hold request"
[ "$failures" -eq 0 ] || { echo "---- monitor output (callevents 1)"; cat "$work/mon.txt"; }

# 2. callevents 0: the line reports no calls, only completions.
before=$failures
start 0
monitor dial 5550100
wait_for "$out" '^<- completion of request [0-9]* TSPI_lineMakeCall\(call #1, "5550100"\): 0$'
monitor drop
wait_for "$out" '^-> TSPI_lineDrop\(call #1\) request'
finish
grep -qE '^<- (LINE_|line message)' "$work/mon.txt" && fail "line events with callevents 0"
[ "$failures" -eq "$before" ] || { echo "---- monitor output (callevents 0)"; cat "$work/mon.txt"; }

[ "$failures" -eq 0 ] && echo "tsphost monitor: all checks passed"
exit "$failures"
