#!/usr/bin/env bash
# Whole-process speed and memory of quillmark-cli as a user meets them, side
# by side with the floor: stamping a 64 MiB module against a durable copy of
# the same file over an existing copy (a stamp replaces a file of that size,
# so both pay for freeing the old one) and against an atomic durable replace
# done by hand (copy to a temporary name, flush it, rename it over, flush the
# folder: what a stamp promises), the same for a 15 KiB module, and reading
# a 64 MiB module against a 15 KiB one.
#
# Usage: bench/compare.sh [RUNS]      (default 10 runs per command)
#   QM_CLI=path  time that program instead of the bench preset's build
# Prints a Markdown table; the raw hyperfine exports stay in build/bench-compare.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
root=$PWD

scripts/deps.sh
extra=()
command -v hyperfine >/dev/null || extra+=(hyperfine)
[ -x /usr/bin/time ] || extra+=(time)
if [ ${#extra[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${extra[@]}" >/dev/null 2>&1
fi

cli=${QM_CLI:+$(realpath "$QM_CLI")}
if [ -z "$cli" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j "$(nproc)" --target quillmark-cli >/dev/null
  cli=$PWD/build/bench/src/cli/quillmark-cli
fi

work=$PWD/build/bench-compare
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Fixtures, built with the same mingw toolchain as the program: a module whose
# 64 MiB lie in a data section (the resource section stays the last one, so a
# stamp grows it in place), one whose 64 MiB are a resource (the resource
# section is rebuilt around it), and a small one.
# shellcheck source=bench/fixtures.sh
. "$root/bench/fixtures.sh"
bench_fixture_modules
head -c $((64 << 20)) /dev/urandom >payload.bin
printf '%s\n' '2 RCDATA "payload.bin"' >big_resource.rc
cat version.rc >>big_resource.rc
i686-w64-mingw32-windres -i big_resource.rc -o big_resource.o
i686-w64-mingw32-gcc -O1 -s small.c big_resource.o -o big_resource.exe

cat >fields.json <<'EOF'
{ "fileVersion": "2.4.0.117", "productVersion": "2.4.0.0", "language": "0409", "codePage": "1200",
  "strings": [["CompanyName", "Bench"], ["FileVersion", "2.4.0.117"]] }
EOF
"$cli" build fields.json block.res

size_of() { stat -c %s "$1"; }
human() { awk -v b="$1" 'BEGIN { if (b >= 1048576) printf "%.1f MiB", b / 1048576; else printf "%.0f KiB", b / 1024 }'; }

# Median of a hyperfine JSON export, in milliseconds, per command index.
median_ms() { python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print("%.1f" % (r[int(sys.argv[2])]["median"]*1000))' "$1" "$2"; }
peak_kib() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'; }

rows=()
for fixture in big_data big_resource small; do
  module=$fixture.exe
  hyperfine -N --style none --warmup 2 --runs "$runs" --export-json "$fixture.json" \
    --prepare "cp $module work.exe" "$cli inject work.exe block.res" \
    --prepare "cp $module copy.exe" "sh -c 'cp $module copy.exe && sync copy.exe'" \
    --prepare "cp $module copy.exe" "sh -c 'cp $module .copy.tmp && sync .copy.tmp && mv .copy.tmp copy.exe && sync .'" \
    >/dev/null
  stamp=$(median_ms "$fixture.json" 0)
  copy=$(median_ms "$fixture.json" 1)
  replace=$(median_ms "$fixture.json" 2)
  cp "$module" work.exe
  mem=$(peak_kib "$cli" inject work.exe block.res)
  mib=$(awk -v k="$mem" 'BEGIN { printf "%.1f", k / 1024 }')
  cp "$module" copy.exe
  copymem=$(peak_kib cp "$module" copy2.exe)
  ratio=$(awk -v a="$stamp" -v b="$copy" 'BEGIN { printf "%.2f", a / b }')
  goal="at most 1.2x and 32 MiB: $(awk -v r="$ratio" -v k="$mem" 'BEGIN { print (r <= 1.2 && k <= 32 * 1024) ? "met" : "NOT met" }')"
  # A small module's stamp is mostly the process's start: no goal there.
  [ "$fixture" != small ] || goal="none"
  rows+=("| \`inject\`, $(human "$(size_of "$module")") module ($fixture) | $stamp ms, $mib MiB peak | durable copy over the old file (\`cp\` + \`sync\`): $copy ms, $(awk -v k="$copymem" 'BEGIN { printf "%.1f", k / 1024 }') MiB peak | ${ratio}x | $goal |")
  ratio=$(awk -v a="$stamp" -v b="$replace" 'BEGIN { printf "%.2f", a / b }')
  goal="at most 1.1x: $(awk -v r="$ratio" 'BEGIN { print (r <= 1.1) ? "met" : "NOT met" }')"
  [ "$fixture" != small ] || goal="none"
  rows+=("| \`inject\`, $(human "$(size_of "$module")") module ($fixture) | $stamp ms | atomic durable replace (\`cp\` to a temporary name, \`sync\` it, \`mv\` over, \`sync\` the folder): $replace ms | ${ratio}x | $goal |")
done

hyperfine -N --style none --warmup 3 --runs "$((runs * 3))" --export-json show.json \
  "$cli show --json big_data.exe" "$cli show --json small.exe" >/dev/null
big=$(median_ms show.json 0)
small=$(median_ms show.json 1)
bigmem=$(peak_kib "$cli" show --json big_data.exe)
smallmem=$(peak_kib "$cli" show --json small.exe)
ratio=$(awk -v a="$big" -v b="$small" 'BEGIN { printf "%.2f", a / b }')
goal=$(awk -v r="$ratio" -v a="$bigmem" -v b="$smallmem" 'BEGIN { print (r <= 1.5 && a <= b * 1.1) ? "met" : "NOT met" }')
rows+=("| \`show --json\`, $(human "$(size_of big_data.exe)") module | $big ms, $(awk -v k="$bigmem" 'BEGIN { printf "%.1f", k / 1024 }') MiB peak | the same on a $(human "$(size_of small.exe)") module: $small ms, $(awk -v k="$smallmem" 'BEGIN { printf "%.1f", k / 1024 }') MiB peak | ${ratio}x | at most 1.5x, memory flat: $goal |")

echo "| what | quillmark-cli | floor | ratio | goal |"
echo "|------|---------------|-------|-------|------|"
printf '%s\n' "${rows[@]}"
echo
echo "($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end, $runs runs per stamp (median), module copied fresh before each stamp outside the timing, warm cache)"
