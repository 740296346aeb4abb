#!/bin/bash
# SIGKILL at random moments while quillmark-cli stamps a 64 MiB module:
# afterwards the module is always either the old one or the new one, byte
# for byte, and nothing else is left in its folder.
#
#   kill_test.sh QUILLMARK_CLI MODULE [ROUNDS]     (ROUNDS also from QM_KILL_ROUNDS)
#
# Exit 0 when every round held, 1 when one did not, 77 when MODULE is missing.
set -u
cli=$1
seed_module=$2
rounds=${3:-${QM_KILL_ROUNDS:-6}}
[ -f "$seed_module" ] || { echo "no test module $seed_module (mingw missing?)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stamped" "$work/reference"
module=$work/stamped/big.exe
{ cat "$seed_module"; head -c $((64 * 1024 * 1024)) /dev/urandom; } >"$module"
for v in 1 2; do
  printf '{"fileVersion": "%s.0.0.0", "language": "0409", "codePage": "1252"}' "$v" >"$work/fields$v.json"
  "$cli" build "$work/fields$v.json" "$work/block$v.res" || exit 1
done

old_kept=0
new_taken=0
for ((round = 1; round <= rounds; round++)); do
  block=$work/block$((round % 2 + 1)).res
  old=$(sha256sum <"$module")
  # What an undisturbed run makes of the same module.
  cp "$module" "$work/reference/big.exe"
  "$cli" inject "$work/reference/big.exe" "$block" || exit 1
  new=$(sha256sum <"$work/reference/big.exe")
  rm "$work/reference/big.exe"

  "$cli" inject "$module" "$block" &
  pid=$!
  delay=$((RANDOM % 1000))
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null

  now=$(sha256sum <"$module")
  if [ "$now" = "$old" ]; then
    old_kept=$((old_kept + 1))
  elif [ "$now" = "$new" ]; then
    new_taken=$((new_taken + 1))
  else
    echo "round $round: the module is neither the old nor the new one"
    exit 1
  fi
  left=$(ls -A "$work/stamped")
  if [ "$left" != "big.exe" ]; then
    echo "round $round: left beside the module:"
    ls -la "$work/stamped"
    exit 1
  fi
done
echo "$rounds rounds: the old module $old_kept times, the new one $new_taken times, nothing left behind"
