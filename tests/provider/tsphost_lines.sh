#!/bin/sh
# tsphost lines against the provider with a list of lines in a throw-away
# settings store: every entry a line, in order, with its own identifiers.
# With a third argument "wine": tsphost.exe under wine in a throw-away prefix
# (settings through `wine reg`).
# usage: tsphost_lines.sh <tsphost> <provider> [wine]
set -e
tsphost=$1
provider=$2
wine=${3:-}
dir=$(mktemp -d /tmp/qv-lines.XXXXXX)
cleanup() {
  [ -n "$wine" ] && wineserver -k >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT
set -- username=201 domain=office address=127.0.0.1 port=1 encrypt=0 \
  guid=6ba7b810-9dad-11d1-80b4-00c04fd430c8 "lines=202=Reception; 300-301, abc"
if [ -n "$wine" ]; then
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  for pair in "$@"; do
    wine reg add 'HKLM\SOFTWARE\quorvelone\tapi' /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1
  done
  wine "$tsphost" lines "$provider" 2>&1 | tr -d '\r' > "$dir/out.txt"
else
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n' > "$dir/r.reg"
  for pair in "$@"; do printf '"%s"="%s"\r\n' "${pair%%=*}" "${pair#*=}" >> "$dir/r.reg"; done
  printf '\r\n' >> "$dir/r.reg"
  QUORVELONE_REGISTRY="$dir/r.reg" "$tsphost" lines "$provider" > "$dir/out.txt"
fi
cat "$dir/out.txt"
grep -q 'lines 3, phones 1' "$dir/out.txt"
grep -Eq '^0 +Reception \(202\) +202 +0x00000139 b256c444-6821-5192-9a8d-4257a45b8610' "$dir/out.txt"
grep -Eq '^1 +300 +300 +0x0000019B 903a38b2-f5eb-5744-b857-fd335991d5eb' "$dir/out.txt"
grep -Eq '^2 +301 +301 +0x0000019C 2a2629a4-41a8-5f8a-9f44-63d4993626b3' "$dir/out.txt"
