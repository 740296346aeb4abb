#!/usr/bin/env bash
# Builds libjpeg for the 32-bit Windows configuration from Debian's
# libjpeg-turbo source package, with the mingw-w64 toolchain.
# Usage: jpeg-mingw.sh PREFIX   (PREFIX lives in the build tree)
# The result is cached: a second run with the library present does nothing.
set -euo pipefail
prefix=$1
if [ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/include/jpeglib.h" ]; then
  exit 0
fi
work="$prefix.src"
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=scripts/debian-source.sh
. "$(dirname "$0")/debian-source.sh"
debian_source libjpeg-turbo "$work"
here=$(cd "$(dirname "$0")" && pwd)
cmake -S "$work/src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
  -DWITH_JPEG8=OFF >/dev/null
cmake --build "$work/build" --target jpeg-static >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp "$work/build/libjpeg.a" "$prefix/lib/libjpeg.a"
cp "$work/build/jconfig.h" "$work/src/jpeglib.h" "$work/src/jmorecfg.h" "$work/src/jerror.h" "$prefix/include/"
rm -rf "$work"
