#!/bin/sh
# Runs a test program as an unprivileged user (nobody), where the system
# refuses what root may do. Skipped (77) unless started as root.
setpriv=$1
shift
[ "$(id -u)" = 0 ] || { echo "not root: nothing to switch from"; exit 77; }
id nobody >/dev/null 2>&1 || { echo "no user nobody"; exit 77; }
exec "$setpriv" --reuid=nobody --regid="$(id -g nobody)" --clear-groups --reset-env "$@"
