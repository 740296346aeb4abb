#!/usr/bin/env bash
# quillmark.exe /v under Wine leaves a module's owner, group and mode as they
# were: the new module takes the old one's from the host, never the access
# rules Wine makes up from the mode (which came back wider: 600 as 770).
# Usage: module_mode_check.sh WINE_RUN WINEPREFIX WINDOWS_BIN
set -euo pipefail
wine_run=$1 prefix=$2 bin=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# The injection stores any bytes; these differ from every module's own.
printf 'quillmark mode check block' >"$work/b.res"

failed=0
check() { # mode [owner:group]
  local mode=$1 owner=${2:-}
  cp "$bin/editor_sample.exe" "$work/m.exe"
  chmod "$mode" "$work/m.exe"
  [ -z "$owner" ] || chown "$owner" "$work/m.exe"
  local before
  before=$(stat -c '%a %U:%G' "$work/m.exe")
  (cd "$work" && "$wine_run" "$prefix" "$bin/quillmark.exe" /v m.exe b.res)
  local after
  after=$(stat -c '%a %U:%G' "$work/m.exe")
  if cmp -s "$bin/editor_sample.exe" "$work/m.exe"; then
    echo "FAIL: mode $mode ${owner}: the module was not stamped" >&2
    failed=1
  elif [ "$before" != "$after" ]; then
    echo "FAIL: mode $mode ${owner}: $before became $after" >&2
    failed=1
  else
    echo "kept: $after"
  fi
  rm -f "$work/m.exe"
}

check 600
check 644
check 755
check 640
check 2755
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  # Root stamping another user's module: it stays theirs, and writable by them.
  check 644 "nobody:$(id -gn nobody)"
  check 600 "nobody:$(id -gn nobody)"
else
  echo "not root: another user's module is not tried"
fi
exit $failed
