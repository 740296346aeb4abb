#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Quick when everything is present: it only asks dpkg, and touches apt only
# for packages that are missing.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo "$@"; else
      echo "deps: '$*' needs root; run this script as root or install sudo" >&2
      exit 1
    fi
  else
    "$@"
  fi
}

packages=(
  build-essential cmake ninja-build pkg-config git
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  libgtest-dev googletest libbenchmark-dev
  libjpeg62-turbo-dev libcli11-dev nlohmann-json3-dev zlib1g-dev libz-mingw-w64-dev
  clang libclang-rt-14-dev llvm clang-format
  wine wine32:i386 wine64 xvfb xauth imagemagick xdotool
  dpkg-dev
  nsis osslsigncode openssl
  lintian groff-base zsh fish
  hyperfine time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root dpkg --add-architecture i386
  fi
  need_root apt-get update -q
  need_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The Windows build compiles libjpeg from Debian's source package, so deb-src
# entries must exist for the same suites as the binary ones.
src_list=/etc/apt/sources.list.d/quillmark-deb-src.sources
if [ ! -f "$src_list" ]; then
  need_root tee "$src_list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  need_root apt-get update -q
fi
