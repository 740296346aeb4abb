#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix of its own and a display.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use. Without a display (CI, a plain shell)
# the program gets a virtual one from xvfb-run.
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEARCH=${WINEARCH:-win64}
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts for the Mono and Gecko add-ons: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

wine_bin=$(command -v wine || true)
[ -n "$wine_bin" ] || { echo "wine-run: wine is not installed (scripts/deps.sh installs it)" >&2; exit 127; }

with_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${QM_FORCE_XVFB:-}" ]; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two runs at once must not both initialise the prefix.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      # A crashing test must fail, not wait on the crash dialog for a click.
      with_display bash -c 'wineboot -i && wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f; wineserver -w' >/dev/null 2>&1 || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# The program, then the prefix's server and desktop process end with the
# display they were started on, so the next run starts clean.
with_display bash -c '"$0" "$@"; rc=$?; wineserver -k >/dev/null 2>&1; exit $rc' "$wine_bin" "$@"
