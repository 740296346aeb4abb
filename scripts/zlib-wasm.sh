#!/usr/bin/env bash
# Builds zlib for the WebAssembly configuration from Debian's zlib source
# package with Emscripten (its own zlib port would download at build time).
# Usage: zlib-wasm.sh PREFIX   (PREFIX lives in the build tree)
# The result is cached: a second run with the library present does nothing.
set -euo pipefail
prefix=$1
if [ -f "$prefix/lib/libz.a" ] && [ -f "$prefix/include/zlib.h" ]; then
  exit 0
fi
work="$prefix.src"
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=scripts/debian-source.sh
. "$(dirname "$0")/debian-source.sh"
debian_source zlib "$work"
mkdir -p "$prefix/lib" "$prefix/include" "$work/obj"
# The library's own C files only; the examples and contrib stay out.
for c in adler32 crc32 deflate inflate inffast inftrees trees zutil compress uncompr; do
  emcc -O2 -c "$work/src/$c.c" -o "$work/obj/$c.o"
done
emar rcs "$prefix/lib/libz.a" "$work"/obj/*.o
cp "$work/src/zlib.h" "$work/src/zconf.h" "$prefix/include/"
rm -rf "$work"
