#!/usr/bin/env bash
# quillmark-cli.exe (under Wine) and the native quillmark-cli must make the
# same module of the same set and apply: copies of the same modules, changed
# with the same arguments, must come out identical, and the Windows build's
# exit codes must be the native one's.
# Usage: set_cross_check.sh NATIVE_CLI WINE_RUN WINEPREFIX WINDOWS_BIN
set -euo pipefail
cli=$1 wine_run=$2 prefix=$3 bin=$4
# Wine decodes the Unix command line and file names by the locale: make it
# UTF-8, whatever the caller's.
export LC_ALL=C.UTF-8

cli=$(realpath "$cli" 2>/dev/null || echo "$cli")
if [ ! -x "$cli" ]; then
  echo "set cross-check skipped: no native quillmark-cli at $cli (build the linux preset first)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$bin/quillmark-cli.exe" "$work/"

same() { # name original command args... (MODULE stands for the module's path)
  local name=$1 original=$2
  shift 2
  cp "$original" "$work/$name-cli.exe"
  cp "$original" "$work/$name-wine.exe"
  local native=() windows=() code_cli=0 code_wine=0
  for arg in "$@"; do
    native+=("${arg//MODULE/$name-cli.exe}")
    windows+=("${arg//MODULE/$name-wine.exe}")
  done
  (cd "$work" && "$cli" "${native[@]}" 2>/dev/null) || code_cli=$?
  (cd "$work" && "$wine_run" "$prefix" quillmark-cli.exe "${windows[@]}" 2>/dev/null) || code_wine=$?
  if [ "$code_cli" != "$code_wine" ]; then
    echo "FAIL: $* on $name: exit code $code_cli natively, $code_wine under Wine" >&2
    exit 1
  fi
  if ! cmp "$work/$name-cli.exe" "$work/$name-wine.exe"; then
    echo "FAIL: $* on $name: the two modules differ" >&2
    exit 1
  fi
  if [ "$code_cli" = 0 ] && cmp -s "$original" "$work/$name-cli.exe"; then
    echo "FAIL: $* on $name succeeded and changed nothing" >&2
    exit 1
  fi
  echo "same bytes and exit code $code_cli: $name after $1"
}

# The editor holds a version resource; the console program holds none, so
# set and apply give it a new one.
same program "$bin/quillmark.exe" set MODULE --file-version 5.6.7.8 --string "Comments=set under Wine" \
  --flag prerelease --file-type DLL
same console "$bin/quillmark-cli.exe" set MODULE --language 0x0C0A --string ProductName=Quill
"$cli" show --json "$bin/quillmark.exe" >"$work/info.json"
same applied "$bin/quillmark-cli.exe" apply MODULE info.json --language 0407
same refused "$bin/quillmark.exe" set MODULE --flag fast
# Non-ASCII text and a non-ASCII module name reach the Windows build whole:
# its arguments are read as UTF-16, not through the 8-bit code page.
same "Grüße-✓" "$bin/quillmark.exe" set MODULE --string "Comments=Grüße ✓ 日本語" --string "Ünïcode=Ω"

if ! "$cli" show "$work/Grüße-✓-wine.exe" | grep -qF "Comments = Grüße ✓ 日本語"; then
  echo "FAIL: the Windows build did not store the non-ASCII text as given" >&2
  exit 1
fi
