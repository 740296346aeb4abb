#!/usr/bin/env bash
# Compiles the VERSIONINFO scripts that real projects keep under version
# control, with windres and with quillmark-cli, and compares the two. The
# scripts come from Debian's source packages (fetched once with `apt-get
# source --download-only` into build/rc-corpus/cache and unpacked there
# without Debian's patches); after that the run needs no network.
#
# Usage: scripts/rc-corpus.sh [--no-fetch] [--system-headers] [--jobs N] [--only PACKAGE]...
#   --no-fetch        use only what the cache holds
#   --system-headers  give quillmark-cli mingw-w64's headers (-I) and the
#                     compiler's platform macros (-D __GNUC__, _WIN32, ...), as
#                     windres's preprocessor has them, besides what it carries
#   --only P          only the scripts of this package (repeatable)
# A script is every .rc/.rc2/.rc.in/... file that holds a VERSIONINFO or
# includes a file that does. Each is given the include folders and defines
# its project would pass (its own folder, the project's include folders, the
# defines its build files name; rc-corpus.py keeps them per package), and a
# template (`.rc.in`, `.rc.cmake`) has its @VAR@ and ${VAR} placeholders
# replaced by plausible values first. windres compiles it to a .res; for
# every script windres compiles, `quillmark-cli build` with the same -I/-D
# must give the very bytes of windres's version block, and `apply` of the
# script to a small test module the information (`show --json`) that
# windres's block and language give; a refusal must name its place (line
# and column). Prints the counts and every script that is not built the
# same; the exit code is 1 when there is one.
# QM_CLI names the program to use (by default the linux preset builds it),
# QM_RC_CORPUS_OUT the folder of results (build/rc-corpus/run);
# QM_RC_FETCH_ONLY=1 only fetches; QM_RC_PLAIN=1 gives quillmark-cli no
# -I/-D (for a program that does not take them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fetch=1 jobs=$(nproc) only=() system=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-fetch) fetch=0 ;;
    --system-headers) system=(--system-headers) ;;
    --jobs) jobs=$2; shift ;;
    --only) only+=("$2"); shift ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "rc-corpus: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

cache=$root/build/rc-corpus/cache
out=${QM_RC_CORPUS_OUT:-$root/build/rc-corpus/run}

# Source packages of projects that keep Windows version resources.
packages=(
  zlib curl libpng1.6 xz-utils vim putty sqlite3 libgit2 openvpn python3.11
  tcl8.6 tk8.6 libsdl2 libsdl2-image libsdl2-mixer libsdl2-ttf libsdl2-net
  ffmpeg wine git nodejs libuv1 lz4 libzstd libssh2 c-ares nghttp2
  libusb-1.0 libgpg-error libgcrypt20 libassuan libksba npth gpgme1.0 gnupg2
  7zip nsis postgresql-15 glib2.0 gtk+3.0 vlc mpv libsodium expat freetype
  libjpeg-turbo openssl libarchive libmicrohttpd qbittorrent filezilla
  keepassxc opus flac libogg libvorbis libtheora speex libxml2 gettext
  wireshark pcre2 libevent tor libwebp openjpeg2 mpg123 portaudio19
  openal-soft libsndfile lame libffi libidn2 libssh gnutls28 libtasn1-6
  p11-kit freerdp2 pidgin cmake wxwidgets3.2
)

# The release this machine's sources name is asked first (its own pool),
# then whatever apt chooses: a security suite can list sources its mirror
# does not serve.
fetch_all() {
  mkdir -p "$cache/src" "$cache/tree"
  local codename p dir dsc
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for p in "${packages[@]}"; do
    dir=$cache/tree/$p
    [ -f "$dir/.done" ] && continue
    echo "rc-corpus: fetching $p" >&2
    # A failure is not the end: the mirror may lack only a detached
    # signature of the upstream tarball, which unpacking does not need.
    local wanted unpacked=0
    for wanted in ${codename:+"$p/$codename"} "$p"; do
      (cd "$cache/src" && apt-get source --download-only -qq -o APT::Sandbox::User=root "$wanted" >/dev/null 2>&1) || true
      compgen -G "$cache/src/${p}_*.dsc" >/dev/null && break
    done
    for dsc in $(ls "$cache/src/${p}_"*.dsc 2>/dev/null | sort -rV); do
      rm -rf "$dir"
      dpkg-source --no-check --skip-patches -x "$dsc" "$dir" >/dev/null 2>&1 && { unpacked=1; break; }
    done
    [ $unpacked = 1 ] || { echo "rc-corpus: $p could not be fetched and unpacked" >&2; continue; }
    rm -f "$cache/tree/${p}_"*
    touch "$dir/.done"
  done
}

[ $fetch = 1 ] && fetch_all
[ "${QM_RC_FETCH_ONLY:-0}" = 1 ] && exit 0

cli=${QM_CLI:-}
if [ -z "$cli" ]; then
  (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target quillmark-cli >/dev/null)
  cli=$root/build/linux/src/cli/quillmark-cli
fi
windres=$(command -v i686-w64-mingw32-windres) || { echo "rc-corpus: i686-w64-mingw32-windres is needed" >&2; exit 2; }

rm -rf "$out" && mkdir -p "$out"
# The module that apply writes to: a small program without a version
# resource of its own.
printf 'int main(void) { return 0; }\n' >"$out/module.c"
i686-w64-mingw32-gcc -s -o "$out/module.exe" "$out/module.c"

python3 "$root/scripts/rc-corpus.py" ${QM_RC_PLAIN:+--plain} --tree "$cache/tree" --out "$out" --cli "$cli" --windres "$windres" \
  --module "$out/module.exe" --jobs "$jobs" "${system[@]}" "${only[@]}" | tee "$out/summary.txt"
exit "${PIPESTATUS[0]}"
