#!/usr/bin/env bash
# Long fuzz runs outside CI: scripts/fuzz.sh [SECONDS] [TARGET...]
# (default 1800 seconds, every target). Builds the fuzz preset (which makes
# the seed corpus), then runs the targets at once with a low priority, each
# in fork mode from its own corpus (build/fuzz/runs/<target>/corpus, the
# seeds that suit it added), going on after a finding. Prints per target the
# executions, the coverage, the corpus size and the findings (inputs that
# crashed, hung or ran out of memory, kept in build/fuzz/runs/<target>/findings).
# Exit 1 on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in build/fuzz/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] && targets+=("$(basename "$fuzzer")")
  done
fi

seeds=build/fuzz/fuzz/corpus
runs=build/fuzz/runs
for name in "${targets[@]}"; do
  case "$name" in
    fuzz_decoder | fuzz_info_round_trip) kind=blocks ;;
    fuzz_rc_*) kind=scripts ;;
    *) kind=modules ;;
  esac
  work="$runs/$name"
  mkdir -p "$work/corpus" "$work/findings"
  cp -n "$seeds/$kind"/* "$work/corpus/" 2>/dev/null || true
  (
    nice -n 19 "build/fuzz/fuzz/$name" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
      -max_total_time="$seconds" -timeout=10 -max_len=65536 -artifact_prefix="$work/findings/" \
      "$work/corpus" >"$work/log" 2>&1
    echo $? >"$work/rc"
  ) &
done
wait

found=0
for name in "${targets[@]}"; do
  work="$runs/$name"
  last=$(grep -E '^#[0-9]+: cov:' "$work/log" | tail -n1 || true)
  findings=$(find "$work/findings" -type f | wc -l)
  echo "$name: ${last:-no progress line} ($seconds s); $findings findings"
  if [ "$findings" -ne 0 ] || [ "$(cat "$work/rc")" -ne 0 ]; then
    found=1
    find "$work/findings" -type f
  fi
done
exit "$found"
