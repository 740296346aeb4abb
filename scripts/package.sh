#!/usr/bin/env bash
# Builds what a user installs: the Debian package
#   build/packages/quillmark_<version>_amd64.deb
# (quillmark-cli, its manual page and completions, the editor with its Wine
# launcher) and the Windows zip
#   build/packages/quillmark-<version>-windows.zip
# (quillmark.exe, and quillmark-cli.exe for 32- and 64-bit Windows, all
# static), and the npm package build/packages/quillmark-<version>.tgz (the
# WebAssembly core). Installs what is missing first. Checks the package with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=$PWD/build/packages
mkdir -p "$out"

echo "== windows: quillmark.exe and the 32-bit quillmark-cli.exe"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target quillmark quillmark-cli
echo "== windows64: the 64-bit quillmark-cli.exe"
cmake --preset windows64 >/dev/null
cmake --build --preset windows64 -j "$jobs" --target quillmark-cli

echo "== package: the native release build and the Debian package"
# Debian's hardening flags (stack protector, fortified functions, full RELRO
# with immediate binding), as its own packages are built with. Given on every
# configure, since the environment reaches CMake only on the first.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake --preset package -DQM_WINDOWS_BIN="$PWD/build/windows/bin" \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build --preset package -j "$jobs"
(cd build/package && cpack -G DEB >/dev/null)
deb=$out/quillmark_${version}_amd64.deb
[ -f "$deb" ] || { echo "package.sh: cpack left no $deb" >&2; exit 1; }
echo "$deb"

echo "== the Windows zip"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/quillmark-$version-windows
mkdir -p "$dir/x64"
cp build/windows/bin/quillmark.exe build/windows/bin/quillmark-cli.exe "$dir/"
cp build/windows64/bin/quillmark-cli.exe "$dir/x64/"
cp README.md CHANGELOG.md "$dir/"
mkdir -p "$dir/docs"
cp docs/guide.md docs/speed.md docs/design.md docs/editor.png "$dir/docs/"
cp LICENSE "$dir/LICENSE.txt"
zip=$out/quillmark-$version-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "quillmark-$version-windows")
echo "$zip"

echo "== the npm package"
cmake --preset wasm >/dev/null
cmake --build --preset wasm -j "$jobs"
npmstage=$stage/npm
mkdir -p "$npmstage"
cp -R node/package.json node/lib node/bin node/wasm "$npmstage/"
cp LICENSE "$npmstage/"
cp node/README.md "$npmstage/" 2>/dev/null || cp README.md "$npmstage/"
# The package's version is the project's.
node -e 'const fs = require("fs"); const f = process.argv[1]; const p = JSON.parse(fs.readFileSync(f, "utf8"));
  p.version = process.argv[2]; fs.writeFileSync(f, JSON.stringify(p, null, 2) + "\n");' "$npmstage/package.json" "$version"
tgz=$(cd "$npmstage" && npm pack --silent --pack-destination "$out" .)
[ "$tgz" = "quillmark-$version.tgz" ] || { echo "package.sh: npm pack gave $tgz" >&2; exit 1; }
echo "$out/$tgz"

if command -v lintian >/dev/null; then
  echo "== lintian"
  # Errors fail the build, and so does any hardening tag (those are only
  # informational to lintian); warnings are shown.
  status=0
  report=$(lintian --fail-on error --display-info --suppress-tags-from-file /dev/null "$deb") || status=$?
  [ -z "$report" ] || echo "$report"
  if grep -q 'hardening-' <<<"$report"; then
    echo "package.sh: lintian finds the package built without a hardening flag" >&2
    status=1
  fi
  exit $status
fi
