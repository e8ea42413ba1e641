#!/usr/bin/env bash
# A fuzzing campaign on one target: builds the fuzz preset, runs the target
# for the given seconds on one core over a scratch corpus seeded from
# fuzz/corpus/<its corpus>, merges what was new back into fuzz/corpus, and
# appends the totals to bench/results/fuzz-campaigns.tsv.
#
#   scripts/fuzz.sh <target> <seconds> [extra libFuzzer flags]
#   scripts/fuzz.sh --list
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

cmake --preset fuzz >/dev/null
# The corpus folder each target was registered with, from CTest's own view.
corpus_of() {
  ctest --test-dir build/fuzz --show-only=json-v1 2>/dev/null | python3 -c '
import json, sys
name = sys.argv[1]
for t in json.load(sys.stdin)["tests"]:
    if t["name"] == name:
        print(t["command"][-1]); break
' "$1"
}

if [ "${1:-}" = "--list" ]; then
  ctest --test-dir build/fuzz -N -L fuzz | sed -n 's/^ *Test *#[0-9]*: //p'
  exit 0
fi
target=${1:?usage: scripts/fuzz.sh <target> <seconds> [libFuzzer flags]}
seconds=${2:?usage: scripts/fuzz.sh <target> <seconds> [libFuzzer flags]}
shift 2

cmake --build --preset fuzz --target "$target" >/dev/null
corpus=$(corpus_of "$target")
[ -n "$corpus" ] || { echo "unknown fuzz target: $target" >&2; exit 2; }
mkdir -p "$corpus"
binary=$(find build/fuzz -type f -name "$target" -perm -u+x | head -n 1)
work=$(mktemp -d "/tmp/qv-fuzz-$target.XXXXXX")
log="$work/fuzz.log"
trap 'rm -rf "$work"' EXIT

echo "== $target for $seconds s (corpus $corpus)"
status=0
"$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$root/fuzz/" "$@" "$work" "$corpus" 2>"$log" || status=$?
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
tail -n 20 "$log"

# Keep only inputs that add coverage.
before=$(find "$corpus" -type f | wc -l)
"$binary" -merge=1 -rss_limit_mb=2048 -timeout=10 "$corpus" "$work" >/dev/null 2>&1 || true
after=$(find "$corpus" -type f | wc -l)

findings=$([ $status -eq 0 ] && echo none || echo "exit $status, see fuzz/crash-* fuzz/timeout-* fuzz/leak-*")
mkdir -p bench/results
printf '%s\t%s\t%s s\t%s executions\t%s exec/s\tcorpus %s -> %s\t%s\n' \
  "$(date -u +%Y-%m-%dT%H:%MZ)" "$target" "$seconds" "${execs:-?}" "${rate:-?}" "$before" "$after" \
  "$findings" | tee -a bench/results/fuzz-campaigns.tsv
exit $status
