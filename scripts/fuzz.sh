#!/usr/bin/env bash
# Long fuzz runs outside CI: scripts/fuzz.sh [SECONDS] (default 1800).
# Builds the fuzz preset (which makes the seed corpus), then runs every
# target at once, each from its own copy of the seeds that suit it, with a
# low priority, and prints per target the executions, the coverage, the
# corpus size and the findings (inputs that crashed, hung or ran out of
# memory, kept in build/fuzz/runs/<target>/findings). Exit 1 on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

seeds=build/fuzz/fuzz/corpus
runs=build/fuzz/runs
mkdir -p "$runs"
for fuzzer in build/fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  case "$name" in
    fuzz_decoder) kind=blocks ;;
    *) kind=modules ;;
  esac
  work="$runs/$name"
  mkdir -p "$work/corpus" "$work/findings"
  cp -n "$seeds/$kind"/* "$work/corpus/" 2>/dev/null || true
  (
    nice -n 19 "$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$work/findings/" "$work/corpus" >"$work/log" 2>&1
    echo $? >"$work/rc"
  ) &
done
wait

found=0
for work in "$runs"/fuzz_*; do
  name=$(basename "$work")
  runs_done=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*' "$work/log" | tail -n1 || echo "cov: ?")
  findings=$(find "$work/findings" -type f | wc -l)
  echo "$name: $runs_done executions in ${seconds} s, $cov, $findings findings"
  if [ "$findings" -ne 0 ] || [ "$(cat "$work/rc")" -ne 0 ]; then
    found=1
    find "$work/findings" -type f
    grep -m1 -B2 -A20 'ERROR\|broken promise\|deadly signal' "$work/log" >&2 || true
  fi
done
exit "$found"
