#!/usr/bin/env bash
# What a user installs, checked as a user meets it: the Debian package
# unpacked into a scratch root (its quillmark-cli reports the project's
# version and stamps a module; the manual pages and completions are where
# the shells look), and the Windows zip's programs under Wine (each reports
# the version; the 64-bit companion stamps a module).
#
#   tests/package/check_package.sh   (after scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=build/packages/quillmark_${version}_amd64.deb
zip=build/packages/quillmark-$version-windows.zip
module=build/linux/tests/cli/fixtures/tiny32.exe
[ -f "$module" ] || { echo "check_package: $module is missing (the linux preset's tests build it)" >&2; exit 1; }
grep -q "^## $version " <<<"$(head -n 12 CHANGELOG.md)" || { echo "check_package: CHANGELOG.md's top entry is not $version" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
stamps() { # PROGRAM... MODULE: sets a version, then reads it back
  local module=${*: -1}
  "${@:1:$#-1}" set "$module" --file-version 7.6.5.4 >/dev/null 2>&1 || return 1
  grep -q '"fileVersion": *"7.6.5.4"' <<<"$("${@:1:$#-1}" show --json "$module" 2>/dev/null | tr -d '\r')"
}

dpkg -x "$deb" "$work/root"
cli=$work/root/usr/bin/quillmark-cli
[ "$("$cli" --version)" = "quillmark-cli $version" ] || fail "the installed quillmark-cli does not report $version"
cp "$module" "$work/native.exe"
stamps "$cli" "$work/native.exe" || fail "the installed quillmark-cli does not stamp"
for file in usr/share/man/man1/quillmark-cli.1.gz usr/share/man/man1/quillmark.1.gz \
  usr/share/bash-completion/completions/quillmark-cli usr/share/zsh/vendor-completions/_quillmark-cli \
  usr/share/fish/vendor_completions.d/quillmark-cli.fish usr/share/doc/quillmark/copyright \
  usr/share/doc/quillmark/changelog.gz usr/share/doc/quillmark/docs/guide.md usr/share/quillmark/quillmark.exe \
  usr/bin/quillmark; do
  [ -s "$work/root/$file" ] || fail "the package lacks /$file"
done
grep -q "Quillmark $version" <<<"$(zcat "$work/root/usr/share/man/man1/quillmark-cli.1.gz")" || fail "the manual page is not of $version"
grep -qx "$version" <<<"$(dpkg-deb -f "$deb" Version)" || fail "the package's version is not $version"
grep -qw wine <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the package does not recommend wine"
if grep -qw wine <<<"$(dpkg-deb -f "$deb" Depends)"; then fail "the package depends on wine"; fi
# zlib is Debian's shared library, so the package must say it needs it.
grep -qw zlib1g <<<"$(dpkg-deb -f "$deb" Depends)" || fail "the package does not depend on zlib1g"

mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$OLDPWD/$zip")
dir=$work/zip/quillmark-$version-windows
prefix=$PWD/build/windows/wineprefix-package
for exe in quillmark-cli.exe x64/quillmark-cli.exe; do
  out=$(scripts/wine-run.sh "$prefix" "$dir/$exe" --version 2>/dev/null | tr -d '\r')
  [ "$out" = "quillmark-cli $version" ] || fail "$exe from the zip reports '$out'"
done
cp "$module" "$work/windows.exe"
# By a relative name: the Windows program takes Windows paths.
(cd "$work" && stamps "$OLDPWD/scripts/wine-run.sh" "$prefix" "$dir/x64/quillmark-cli.exe" windows.exe) ||
  fail "the zip's 64-bit quillmark-cli.exe does not stamp under Wine"
[ -f "$dir/quillmark.exe" ] || fail "the zip lacks quillmark.exe"
for exe in quillmark.exe quillmark-cli.exe x64/quillmark-cli.exe; do
  # Static programs: nothing but the system's own DLLs.
  # Read whole first: grep -q would leave objdump writing into a closed pipe.
  imports=$(objdump -p "$dir/$exe" | grep -i "DLL Name" || true)
  grep -qi "KERNEL32" <<<"$imports" || fail "cannot read the imports of $exe"
  if grep -qiE 'libstdc|libgcc|libwinpthread|zlib|libjpeg' <<<"$imports"; then
    fail "$exe needs a DLL that does not come with Windows"
  fi
done

[ $failures -eq 0 ] && echo "check_package: the package and the zip install and work ($version)"
exit $((failures > 0))
