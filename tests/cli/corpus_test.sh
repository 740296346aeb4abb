#!/usr/bin/env bash
# Stamps a spread sample of the real modules on the machine that nobody here
# built, Wine's own (both bitnesses) and the mingw-w64 runtime libraries,
# with the native quillmark-cli, and judges each stamp as scripts/corpus.sh
# does. Every one of them must read and be stamped soundly: a refusal is a
# regression too. Where windres is installed, each one's show --format rc
# must compile back to the same version information. Skipped (77) only when
# Wine's modules are not installed.
# Usage: corpus_test.sh SOURCE-DIR QUILLMARK-CLI CORPUS-CHECK WORK-DIR [SAMPLE]
set -euo pipefail
source_dir=$1 cli=$2 checker=$3 work=$4 sample=${5:-600}

folders=()
for d in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows; do
  [ -d "$d" ] && folders+=("$d")
done
[ ${#folders[@]} -gt 0 ] || { echo "Wine's modules are not installed (scripts/deps.sh installs them)"; exit 77; }
for d in /usr/lib/gcc/i686-w64-mingw32 /usr/lib/gcc/x86_64-w64-mingw32; do
  [ -d "$d" ] && folders+=("$d")
done

# The judge is not blind: a module beside its own unstamped copy fails.
module=$(find "${folders[0]}" -name kernel32.dll -print -quit)
if [ -n "$module" ] && "$checker" "$module" "$module" 1.2.3.4 Comments=corpus >/dev/null; then
  echo "corpus_check passed a module that was never stamped"
  exit 1
fi

# Nor is its judge of scripts: one whose file version was changed fails.
if [ -n "$module" ] && command -v i686-w64-mingw32-windres >/dev/null; then
  scratch=$(mktemp -d)
  "$cli" show --format rc "$module" | sed 's/^FILEVERSION .*/FILEVERSION 0,0,0,1/' >"$scratch/v.rc"
  i686-w64-mingw32-windres -O res "$scratch/v.rc" -o "$scratch/v.res"
  if "$checker" --script-same "$module" "$scratch/v.res" >/dev/null; then
    echo "corpus_check passed a script that lost the file version"
    rm -rf "$scratch"
    exit 1
  fi
  rm -rf "$scratch"
fi

QM_CLI=$cli QM_CORPUS_CHECK=$checker QM_CORPUS_OUT=$work \
  "$source_dir/scripts/corpus.sh" --no-fetch --sample "$sample" "${folders[@]}" || true
results=$work/results.tsv
[ -s "$results" ] || { echo "no module was checked"; exit 1; }
bad=$(awk -F'\t' '$4 != "ok"' "$results")
if [ -n "$bad" ]; then
  echo "not stamped soundly:"
  echo "$bad"
  exit 1
fi
scripts_bad=$(awk -F'\t' '$8 ~ /^failed/ { print $8 "  [" $6 "]" }' "$results")
if [ -n "$scripts_bad" ]; then
  echo "show --format rc does not compile back to the same information:"
  echo "$scripts_bad"
  exit 1
fi
echo "$(wc -l <"$results") modules read, stamped and checked;" \
  "$(awk -F'\t' '$8 == "same"' "$results" | wc -l) of $(awk -F'\t' '$8 != "none"' "$results" | wc -l)" \
  "scripts from show --format rc compiled back to the same information"
