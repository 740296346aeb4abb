#!/usr/bin/env bash
# Makes the README's picture of the editor: starts the real quillmark.exe
# under Wine on a virtual display of its own, opens a module through the
# program's open dialog as a user would (a click on the folder button, the
# path typed, Enter) and writes a picture of the main window.
# Usage: scripts/screenshot.sh [MODULE] [PICTURE]
#   MODULE   the module to open (default: the freshly built quillmark.exe);
#            a copy in the Wine prefix's C:\Tools is opened, so the picture
#            shows no folder of this machine
#   PICTURE  where the PNG goes (default: docs/editor.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/windows"
module=$(realpath -- "${1:-$build/bin/quillmark.exe}")
picture=$(realpath -m -- "${2:-$root/docs/editor.png}")

for tool in Xvfb xdotool import wine; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ ! -x "$build/bin/quillmark.exe" ]; then
  cmake --preset windows -S "$root" >/dev/null
  cmake --build "$build" --target quillmark
fi
[ -f "$module" ] || { echo "screenshot: no module $module" >&2; exit 1; }

# A display number nobody uses.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
prefix="$build/wineprefix-screenshot"
program_pid=""
finish() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

"$root/scripts/wine-run.sh" "$prefix" "$build/bin/quillmark.exe" >/dev/null 2>&1 &
program_pid=$!

find_window() { # title, seconds
  local id=""
  for _ in $(seq $(($2 * 4))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.25
  done
  echo "screenshot: no window \"$1\" after $2 s" >&2
  return 1
}

main=$(find_window Quillmark 120)
mkdir -p "$prefix/drive_c/Tools"
shown="$prefix/drive_c/Tools/$(basename "$module")"
cp "$module" "$shown"
eval "$(xdotool getwindowgeometry --shell "$main")" # X Y WIDTH HEIGHT
# The frame is Wine's own (there is no window manager): equal borders left,
# right and below, the caption above. The folder button sits at (368, 8) in
# the 401 x 497 client area, 23 x 22 pixels.
border=$(((WIDTH - 401) / 2))
top=$((HEIGHT - 497 - border))
xdotool mousemove $((X + border + 379)) $((Y + top + 19)) click 1

find_window "Open File" 30 >/dev/null
sleep 1
xdotool type --delay 20 "C:\\Tools\\$(basename "$module")"
xdotool key Return
sleep 2
# The pointer away from the controls, so no hover look is caught.
xdotool mousemove 1 1
sleep 0.5

mkdir -p "$(dirname "$picture")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$picture"
echo "wrote $picture"
