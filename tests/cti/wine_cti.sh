#!/usr/bin/env bash
# cti_wine_tests.exe from the Windows build, under wine, against the native
# pbxsim with its call model. The test appends pbxsim commands to a file
# that tail feeds to pbxsim's standard input.
# usage: wine_cti.sh <cti_wine_tests.exe> [native pbxsim [more pbxsim options]]
set -u
test_exe=$1
pbxsim=${QV_PBXSIM:-${2:-}}
shift $(($# < 2 ? $# : 2))
if [ -z "$pbxsim" ] || [ ! -x "$pbxsim" ]; then
  echo "SKIP: no native pbxsim (build the native tree or set QV_PBXSIM)"
  exit 77
fi
work=$(mktemp -d /tmp/qv-wine-cti.XXXXXX)
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  own_prefix=1
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
: >"$work/commands"
(
  tail -n +1 -s 0.1 -f "$work/commands" &
  echo $! >"$work/tail.pid"
  wait
) | "$pbxsim" --calls "$@" --record "$work/frames.jsonl" >"$work/pbx.out" 2>"$work/pbx.err" &
pbx_pid=$!
cleanup() {
  kill "$pbx_pid" 2>/dev/null
  [ -s "$work/tail.pid" ] && kill "$(cat "$work/tail.pid")" 2>/dev/null
  [ -n "${own_prefix:-}" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/^pbxsim listening on .*:\([0-9]*\)$/\1/p' "$work/pbx.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "pbxsim did not start"; exit 1; }
QV_PBX_PORT=$port QV_PBX_COMMANDS=$(winepath -w "$work/commands" 2>/dev/null) \
  QV_PBX_RECORD=$(winepath -w "$work/frames.jsonl" 2>/dev/null) wine "$test_exe" --gtest_brief=1
rc=$?
if grep -q '"problem":"[^"]' "$work/frames.jsonl"; then
  echo "FAIL: pbxsim saw a malformed frame"
  rc=1
fi
exit $rc
