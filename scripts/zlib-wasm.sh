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
(
  cd "$work"
  # A mirror may list a version whose source it does not hold (an update
  # the security archive published): try each version apt knows, newest first.
  fetched=0
  for v in "" $(apt-cache showsrc zlib 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq); do
    if apt-get source --download-only "zlib${v:+=$v}" >/dev/null 2>&1; then fetched=1; break; fi
  done
  [ "$fetched" -eq 1 ] || apt-get source --download-only zlib
  dsc=$(ls zlib_*.dsc | head -n1)
  dpkg-source --skip-patches -x "$dsc" src >/dev/null 2>&1
)
mkdir -p "$prefix/lib" "$prefix/include" "$work/obj"
# The library's own C files only; the examples and contrib stay out.
for c in adler32 crc32 deflate inflate inffast inftrees trees zutil compress uncompr; do
  emcc -O2 -c "$work/src/$c.c" -o "$work/obj/$c.o"
done
emar rcs "$prefix/lib/libz.a" "$work"/obj/*.o
cp "$work/src/zlib.h" "$work/src/zconf.h" "$prefix/include/"
rm -rf "$work"
