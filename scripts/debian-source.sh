# Sourced by the scripts that build a library from Debian's source package.
#
# debian_source PACKAGE DIR: downloads PACKAGE's source into DIR and unpacks
# it, without Debian's patches, into DIR/src. A mirror may list a version
# whose source it does not hold (an update the security archive published),
# so each version apt knows is tried, newest first, before giving up with
# apt's own message.
debian_source() {
  local package=$1 dir=$2 v fetched=0
  (
    cd "$dir"
    for v in "" $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq); do
      if apt-get source --download-only "$package${v:+=$v}" >/dev/null 2>&1; then fetched=1; break; fi
    done
    [ "$fetched" -eq 1 ] || apt-get source --download-only "$package"
    dpkg-source --skip-patches -x "$(ls "${package}"_*.dsc | head -n1)" src >/dev/null
  )
}
