#!/usr/bin/env bash
# Runs a Windows test program under wine, headless, in a throw-away prefix
# unless the caller already chose one (scripts/test.sh shares one per run).
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$(mktemp -d /tmp/qv-wine.XXXXXX)
  trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine "$@"
