#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# the native core and companion (plain, then under ASan/UBSan), a short run
# of each fuzzer, and the Windows program's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)

echo "== style: the sources in the project's clang-format style"
scripts/format.sh

for preset in linux asan; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz: build and a short run of each target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
for fuzzer in build/fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  # From the seed corpus the build made (small seeds, each at most a few
  # tens of KiB, so a short run gets through many inputs): modules for the
  # module targets, version blocks for the decoder and the round trip,
  # resource scripts for the script readers.
  corpus=$(mktemp -d)
  case "$(basename "$fuzzer")" in
    fuzz_decoder | fuzz_info_round_trip) cp build/fuzz/fuzz/corpus/blocks/* "$corpus"/ 2>/dev/null || true ;;
    fuzz_rc_*) cp build/fuzz/fuzz/corpus/scripts/* "$corpus"/ 2>/dev/null || true ;;
    *) cp build/fuzz/fuzz/corpus/modules/* "$corpus"/ 2>/dev/null || true ;;
  esac
  "$fuzzer" -max_total_time="${QM_FUZZ_SECONDS:-20}" -timeout=10 -max_len=65536 -print_final_stats=0 "$corpus" \
    2>"$corpus.log" || {
    tail -n 40 "$corpus.log" >&2
    echo "fuzzer $(basename "$fuzzer") found a failure" >&2
    exit 1
  }
  echo "$(basename "$fuzzer"): $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$corpus.log" | tail -n1), no failure"
  rm -rf "$corpus" "$corpus.log"
done

echo "== windows: configure, build, test under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows

echo "== package: the Debian package and the Windows zip, built, installed and run"
scripts/package.sh
tests/package/check_package.sh
