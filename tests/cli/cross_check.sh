#!/usr/bin/env bash
# quillmark.exe /v (under Wine) and the native quillmark-cli inject must store
# the same bytes: copies of the same modules, stamped with the same block
# file, must come out identical.
# Usage: cross_check.sh NATIVE_CLI WINE_RUN WINEPREFIX WINDOWS_BIN FIELDS_JSON
set -euo pipefail
cli=$1 wine_run=$2 prefix=$3 bin=$4 fields=$5

if [ ! -x "$cli" ]; then
  echo "cross-check skipped: no native quillmark-cli at $cli (build the linux preset first)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" build "$fields" "$work/block.res"
printf 'neither a block nor a resource file' >"$work/raw.bin"

check() { # module block [--raw]
  local module=$1 block=$2 raw=${3:-}
  local name
  name=$(basename "$module" .exe)
  cp "$module" "$work/$name-cli.exe"
  cp "$module" "$work/$name-v.exe"
  "$cli" inject $raw "$work/$name-cli.exe" "$work/$block"
  (cd "$work" && "$wine_run" "$prefix" "$bin/quillmark.exe" /v "$name-v.exe" "$block")
  if cmp -s "$module" "$work/$name-v.exe"; then
    echo "FAIL: quillmark.exe /v left $name unchanged with $block" >&2
    exit 1
  fi
  if ! cmp "$work/$name-cli.exe" "$work/$name-v.exe"; then
    echo "FAIL: quillmark-cli inject and quillmark.exe /v differ on $name with $block" >&2
    exit 1
  fi
  echo "same bytes: $name with $block"
  rm -f "$work/$name-cli.exe" "$work/$name-v.exe"
}

check "$bin/quillmark.exe" block.res
check "$bin/quillmark-cli.exe" block.res
check "$bin/quillmark.exe" raw.bin --raw
