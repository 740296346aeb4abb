#!/usr/bin/env bash
# Installs what is missing, builds quillmark.exe and starts it under Wine.
# Arguments pass through to the program, so
#   scripts/run.sh /v MODULE BLOCKFILE
# stamps MODULE with BLOCKFILE. Paths of existing files (and of files to be
# created in existing folders) are handed over in Wine's form.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake --preset windows -S "$root" >/dev/null
cmake --build "$root/build/windows" --target quillmark -j "$(nproc)"

prefix="$root/build/windows/wineprefix-run"
args=()
first=1
for arg in "$@"; do
  if [ $first -eq 0 ] && { [ -e "$arg" ] || [ -d "$(dirname -- "$arg")" ] && [[ "$arg" == */* ]]; }; then
    # Wine's drive Z: is the Linux root folder.
    full=$(realpath -m -- "$arg")
    args+=("Z:${full//\//\\}")
  else
    args+=("$arg")
  fi
  first=0
done
exec "$root/scripts/wine-run.sh" "$prefix" "$root/build/windows/bin/quillmark.exe" "${args[@]}"
