#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Quick when everything is present: it only asks dpkg, and touches apt only
# for packages that are missing.
set -euo pipefail

# A mirror caught mid-sync fails one index now and then ("File has unexpected
# size"); apt keeps the lists it had, so the install that follows still works
# or fails with a message of its own. Try again before going on without it.
apt_update() {
  local try
  for try in 1 2 3; do
    if need_root apt-get update -q; then return 0; fi
    echo "deps: apt-get update failed (try $try of 3)" >&2
    sleep $((try * 5))
  done
  echo "deps: going on with the package lists apt already has" >&2
}

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
  dpkg-dev python3
  nsis osslsigncode openssl
  lintian groff-base zsh fish
  hyperfine time
  emscripten
  clamav-testfiles                # packed programs nobody here built, for the reader's tests
  qemu-system-x86 ovmf mtools     # firmware programs booted by corpus.sh --boot
)
# The npm package's tests need Node 18 or later with npm: Debian's, unless a
# node is installed already (one from elsewhere brings its own npm).
if ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

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
  apt_update
  need_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The Windows build compiles libjpeg from Debian's source package, so deb-src
# entries must exist for the same suites as the binary ones. They are copied
# from the machine's own binary entries (same addresses, suites and keys), so
# the sources come from whatever mirror this machine is set up to use.
deb_src_entries() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in */quillmark-deb-src.sources) continue ;; esac
    # One deb822 paragraph at a time: a paragraph of binary entries becomes
    # the same paragraph typed deb-src; one that already lists deb-src, or is
    # switched off, gives nothing.
    awk '
      function flush() {
        if (n && isdeb && !hassrc && enabled) {
          for (i = 1; i <= n; i++) print lines[i]
          print ""
        }
        n = 0; isdeb = 0; hassrc = 0; enabled = 1
      }
      BEGIN { enabled = 1 }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "types:" {
        for (i = 2; i <= NF; i++) { if ($i == "deb") isdeb = 1; if ($i == "deb-src") hassrc = 1 }
        lines[++n] = "Types: deb-src"; next
      }
      tolower($1) == "enabled:" && tolower($2) == "no" { enabled = 0 }
      { lines[++n] = $0 }
      END { flush() }
    ' "$f"
  done
}

deb_src_lines() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    case "$f" in */quillmark-deb-src.list) continue ;; esac
    sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f"
  done
}

src_changed=0
write_if_changed() { # FILE TEXT
  if [ -n "$2" ]; then
    if [ ! -f "$1" ] || [ "$(cat "$1")" != "$2" ]; then
      printf '%s\n' "$2" | need_root tee "$1" >/dev/null
      src_changed=1
    fi
  elif [ -f "$1" ]; then
    need_root rm -f "$1"
    src_changed=1
  fi
}
write_if_changed /etc/apt/sources.list.d/quillmark-deb-src.sources "$(deb_src_entries)"
write_if_changed /etc/apt/sources.list.d/quillmark-deb-src.list "$(deb_src_lines)"
if [ "$src_changed" -eq 1 ]; then
  apt_update
fi
