#!/usr/bin/env bash
# Checks that the sources under src/ keep the project's style (.clang-format
# at the root): lists every file that differs and fails. With --fix, formats
# them in place instead.
#
#   scripts/format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format.sh: clang-format is missing (scripts/deps.sh installs it)" >&2; exit 1; }

mapfile -t files < <(git ls-files 'src/*.c' 'src/*.cpp' 'src/*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not in the project style (scripts/format.sh --fix formats them):\n' >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files in the project style"
