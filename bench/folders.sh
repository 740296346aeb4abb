#!/usr/bin/env bash
# quillmark-cli over a tree of modules against the same work done one module
# per run: `set --recursive` and `show --recursive` over a tree of small
# modules (copies of one mingw-built module in nested folders, with files
# that are not modules between them) beside a shell loop that runs the
# single-module command once per module; then the peak memory of
# `set --recursive` over a tree ten times larger, to show that it does not
# grow with the number of files.
#
# Usage: bench/folders.sh [MODULES] [RUNS]   (default 1000 modules, 5 runs)
#   QM_CLI=path  time that program instead of the bench preset's build
# The raw hyperfine exports stay in build/bench-folders.
set -euo pipefail
cd "$(dirname "$0")/.."
modules=${1:-1000}
runs=${2:-5}

scripts/deps.sh
cli=${QM_CLI:-}
if [ -z "$cli" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j "$(nproc)" --target quillmark-cli >/dev/null
  cli=$PWD/build/bench/src/cli/quillmark-cli
fi

work=$PWD/build/bench-folders
rm -rf "$work"
mkdir -p "$work"
data=$PWD/tests/cli/data
cd "$work"
i686-w64-mingw32-windres "$data/tiny.rc" -O coff -o tiny.res.o
i686-w64-mingw32-gcc -s -o tiny32.exe "$data/tiny.c" tiny.res.o

# COUNT modules in folders of ten under folders of ten ..., one text file and
# one "MZ" file that is no module beside every ten modules.
make_tree() {
  local root=$1 count=$2 i dir
  for ((i = 0; i < count; i++)); do
    dir=$root/$((i / 100))/$((i / 10 % 10))
    if ((i % 10 == 0)); then
      mkdir -p "$dir"
      echo "notes" >"$dir/readme.txt"
      printf 'MZ not a module' >"$dir/stub.exe"
    fi
    cp tiny32.exe "$dir/m$i.exe"
  done
}
make_tree tree "$modules"
find tree -name 'm*.exe' | sort >modules.txt

loop() { # the single-module command once per module
  # shellcheck disable=SC2016 # $m is the loop's own, expanded when it runs
  printf 'while read -r m; do %q %s "$m" %s || exit 1; done <modules.txt' "$cli" "$1" "$2"
}
hyperfine --warmup 1 --runs "$runs" --export-markdown set.md \
  -n "set --recursive ($modules modules)" "$cli set --recursive tree --file-version 1.2.3.4" \
  -n "$modules runs of set" "$(loop set '--file-version 1.2.3.4')"
hyperfine --warmup 1 --runs "$runs" --export-markdown show.md \
  -n "show --recursive ($modules modules)" "$cli show --recursive tree >/dev/null" \
  -n "$modules runs of show" "$(loop show '>/dev/null')"

# Peak memory (maximum resident set size) as the tree grows tenfold.
for count in "$modules" $((modules * 10)); do
  rm -rf big && make_tree big "$count"
  for command in "set --recursive big --file-version 1.2.3.4" "show --recursive --report json big"; do
    # shellcheck disable=SC2086 # the command's words
    /usr/bin/time -v "$cli" $command >/dev/null 2>time.txt
    echo "$count modules, ${command%% *}: peak $(awk -F': ' '/Maximum resident/ {print $2}' time.txt) KiB"
  done
done
