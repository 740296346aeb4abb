#!/usr/bin/env bash
# The editor's start as a user meets it: the time from starting
# `wine quillmark.exe` to its main window being visible, beside the floor, a
# bare one-window program (bench/bare_window.c) that loads the same system
# libraries through the same manifest. Runs alternate between the two on one
# virtual display with one running Wine server, so both meet the same warm
# caches; the medians are printed.
# Usage: bench/startup.sh [RUNS] [PROGRAM...]
#   RUNS     runs of each (10 by default; at least 10 are advised)
#   PROGRAM  the quillmark.exe builds to time, in the same alternation (to
#            compare two builds); by default the one the windows preset built
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
build="$root/build/windows"
shift || true
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$build/bin/quillmark.exe")
for tool in Xvfb xdotool wine i686-w64-mingw32-gcc i686-w64-mingw32-windres i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "startup: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ ! -x "${programs[0]}" ] && [ "${programs[0]}" = "$build/bin/quillmark.exe" ]; then
  cmake --preset windows -S "$root" >/dev/null
  cmake --build "$build" --target quillmark
fi

work=$(mktemp -d)
display=95
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
export DISPLAY=":$display" WINEPREFIX="$build/wineprefix-bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
finish() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# The floor, with the editor's manifest.
printf '1 24 "%s"\n' "$root/src/resources/quillmark.manifest" >"$work/bare.rc"
i686-w64-mingw32-windres "$work/bare.rc" -O coff -o "$work/bare.res.o"
i686-w64-mingw32-gcc -O2 -mwindows -o "$work/bare.exe" "$root/bench/bare_window.c" "$work/bare.res.o" \
  -lcomctl32 -lgdi32 -lversion -ladvapi32
# The floor is only one if it loads what the editor loads before its window
# shows: the libraries each imports (those loaded on first use are not).
imports() { i686-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort -u; }
# Each build under the same name, so each window is found by one caption.
for i in "${!programs[@]}"; do
  mkdir -p "$work/p$i"
  cp "${programs[$i]}" "$work/p$i/quillmark.exe"
  if [ "$(imports "$work/bare.exe")" != "$(imports "$work/p$i/quillmark.exe")" ]; then
    echo "startup: ${programs[$i]} imports other libraries than the floor:" >&2
    diff <(imports "$work/bare.exe") <(imports "$work/p$i/quillmark.exe") >&2 || true
  fi
done

[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
wineserver -p >/dev/null 2>&1 # stays up between the runs

# Milliseconds from the start of PROGRAM to a visible window titled TITLE.
time_to_window() { # program title
  local start end id pid
  # The last run's window may linger a moment after its program was ended;
  # found again, it would end this run's clock at once.
  for _ in $(seq 100); do
    [ -z "$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null)" ] && break
    sleep 0.05
  done
  start=$(date +%s%N)
  wine "$1" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 6000); do
    id=$(xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
  done
  end=$(date +%s%N)
  [ -n "$id" ] || { echo "startup: no window \"$2\"" >&2; kill "$pid"; exit 1; }
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
quartile() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 3) / 4)] }'; } # the lower one
# Each run beside the floor's run of the same round, which met about the same
# load: on a busy machine the middle of these ratios moves less than the
# ratio of the medians.
paired_ratios() { paste "$1" "$2" | awk '{ printf "%.3f\n", $2 / $1 }'; }

time_to_window "$work/bare.exe" Bare >/dev/null # first runs fill the caches
: >"$work/bare.ms"
for i in "${!programs[@]}"; do
  time_to_window "$work/p$i/quillmark.exe" Quillmark >/dev/null
  : >"$work/p$i.ms"
done
for _ in $(seq "$runs"); do
  time_to_window "$work/bare.exe" Bare >>"$work/bare.ms"
  for i in "${!programs[@]}"; do
    time_to_window "$work/p$i/quillmark.exe" Quillmark >>"$work/p$i.ms"
  done
done
bare=$(median <"$work/bare.ms")
echo "runs: $runs each, alternating"
echo "bare window: median $bare ms   ($(tr '\n' ' ' <"$work/bare.ms"))"
for i in "${!programs[@]}"; do
  editor=$(median <"$work/p$i.ms")
  echo "${programs[$i]}: median $editor ms   ($(tr '\n' ' ' <"$work/p$i.ms"))"
  awk -v e="$editor" -v b="$bare" 'BEGIN { printf "  %.2fx the floor, %d ms above it\n", e / b, e - b }'
  echo "  lower quartile $(quartile <"$work/p$i.ms") ms (floor $(quartile <"$work/bare.ms") ms);" \
    "paired ratio median $(paired_ratios "$work/bare.ms" "$work/p$i.ms" | median)"
done
