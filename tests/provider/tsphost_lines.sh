#!/bin/sh
# tsphost lines against the provider with a list of lines in a throw-away
# settings store: every entry a line, in order, with its own identifiers.
set -e
tsphost=$1
provider=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n' > "$dir/r.reg"
printf '"username"="201"\r\n"domain"="office"\r\n"address"="127.0.0.1"\r\n"port"="1"\r\n"encrypt"="0"\r\n' >> "$dir/r.reg"
printf '"guid"="6ba7b810-9dad-11d1-80b4-00c04fd430c8"\r\n"lines"="202=Reception; 300-301, abc"\r\n\r\n' >> "$dir/r.reg"
QUORVELONE_REGISTRY="$dir/r.reg" "$tsphost" lines "$provider" > "$dir/out.txt"
cat "$dir/out.txt"
grep -q 'lines 3, phones 1' "$dir/out.txt"
grep -Eq '^0 +Reception \(202\) +202 +0x00000139 ' "$dir/out.txt"
grep -Eq '^1 +300 +300 +0x0000019B ' "$dir/out.txt"
grep -Eq '^2 +301 +301 +0x0000019C ' "$dir/out.txt"
