#!/bin/sh
# Runs a test program (under an emulator such as wine when given) with fresh
# certificate chains from make_chains.sh in $QV_CHAIN_DIR. Without openssl
# the program runs alone and its chain tests skip.
# usage: run_with_chains.sh [emulator] program [args]
set -u
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v openssl >/dev/null 2>&1; then
  exec "$@"
fi
dir=$(mktemp -d /tmp/qv-chains.XXXXXX)
trap 'rm -rf "$dir"' EXIT
if ! sh "$here/make_chains.sh" "$dir" >"$dir.log" 2>&1; then
  cat "$dir.log"
  rm -f "$dir.log"
  exit 1
fi
rm -f "$dir.log"
QV_CHAIN_DIR=$dir "$@"
exit $?
