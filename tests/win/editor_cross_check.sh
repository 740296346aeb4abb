#!/usr/bin/env bash
# The editor's saves, made through its real dialogs under Wine, against the
# native companion: the block file equals what quillmark-cli build writes
# for the same values, the module equals a copy of the original stamped by
# quillmark-cli, and quillmark-cli show reads the edited values back.
# Usage: editor_cross_check.sh NATIVE_CLI WINE_RUN WINEPREFIX WINDOWS_BIN
set -euo pipefail
cli=$1 wine_run=$2 prefix=$3 bin=$4

if [ ! -x "$cli" ]; then
  echo "editor cross-check skipped: no native quillmark-cli at $cli (build the linux preset first)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wine's drive Z: is the Linux root folder.
(cd "$bin" && QM_EDITOR_OUT="Z:${work//\//\\}" "$wine_run" "$prefix" ./quillmark_win_tests.exe \
  --gtest_brief=1 --gtest_filter='EditorEndToEnd.*')

"$cli" build "$work/fields.json" "$work/expected.res"
cmp "$work/expected.res" "$work/ver.res" || { echo "FAIL: the editor's block file differs from quillmark-cli build" >&2; exit 1; }
echo "same bytes: the editor's block file and quillmark-cli build"

cp "$work/original.exe" "$work/stamped.exe"
"$cli" stamp "$work/stamped.exe" "$work/fields.json"
cmp "$work/stamped.exe" "$work/app.exe" || { echo "FAIL: the editor's module differs from quillmark-cli stamp" >&2; exit 1; }
echo "same bytes: the editor's module and quillmark-cli stamp"

"$cli" show --json "$work/app.exe" >"$work/show.json"
for expected in '"fileVersion": "1.2.3.5"' '"productVersion": "42.6.7.8"' '"fileFlags": 33' '"nightly"' '"Comments"'; do
  grep -qF "$expected" "$work/show.json" || { echo "FAIL: quillmark-cli show lacks $expected" >&2; cat "$work/show.json" >&2; exit 1; }
done
if grep -qF '"Sample module"' "$work/show.json"; then
  echo "FAIL: the removed row is still in the module" >&2
  exit 1
fi
echo "quillmark-cli show reads the edited values"
