#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the .deb's postinst as dpkg does, in a root of the check's own: a mount
# namespace where /etc is a copy, the helper's folder an overlay and the dpkg
# database's statoverride a file of the check's own, so that the machine keeps
# its groups and files. The postinst must make the group tarnwick and the
# helper root:tarnwick 0750 with cap_net_bind_service, leave an
# administrator's statoverride standing, and the helper must then run only for
# a member of that group. Needs root; without a namespace it says so and stops.
#   tools/check_postinst.sh DEB
set -euo pipefail
deb="$1"
helper=/usr/libexec/tarnwick/tarnwick-bind
if [ "${2:-}" != --inside ]; then
    if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
        echo "postinst check: skipped (no mount namespace of its own as root)"
        exit 0
    fi
    exec unshare -m "$0" "$deb" --inside
fi
root="$(mktemp -d /tmp/tarnwick-postinst-XXXXXX)"
trap 'umount -R "$root" 2>/dev/null; rmdir "$root"' EXIT
mount -t tmpfs tarnwick-postinst "$root"
mkdir "$root/etc" "$root/upper" "$root/work" "$root/dpkg" "$root/control"
cp -a /etc/. "$root/etc/" && mount --bind "$root/etc" /etc
mount -t overlay overlay -o "lowerdir=/usr/libexec,upperdir=$root/upper,workdir=$root/work" /usr/libexec
dpkg-deb -e "$deb" "$root/control"
# The helper as dpkg unpacks it, with the administrator's override applied, then configure.
configure() { # OWNER MODE [OVERRIDE]
    mkdir -p "$(dirname "$helper")"
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$helper" >"$helper"
    chown "$1" "$helper" && chmod "$2" "$helper"
    if [ -n "${3:-}" ]; then echo "$3"; fi >"$root/dpkg/statoverride"
    DPKG_ADMINDIR="$root/dpkg" DPKG_MAINTSCRIPT_NAME=postinst "$root/control/postinst" configure 1.0 >/dev/null
}
expect() { # WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || { echo "postinst check: $1 is '$3', not '$2'"; exit 1; }
}
configure root:root 0755
configure root:root 0755 # an upgrade: the group is there already
expect "the group" system "$(getent group tarnwick | awk -F: '$3 < 1000 {print "system"}')"
expect "the helper" "root:tarnwick 750" "$(stat -c '%U:%G %a' "$helper")"
expect "its capability" "cap_net_bind_service=ep" "$(getcap "$helper" | awk '{print $2}')"
# env does the exec: setpriv itself would exec still holding root's capabilities.
status=0
setpriv --reuid=nobody --regid=nogroup --clear-groups env "$helper" 2>/dev/null || status=$?
expect "the helper run for a user outside the group (exit status)" 126 "$status"
status=0
setpriv --reuid=nobody --regid=nogroup --groups=tarnwick env "$helper" 2>/dev/null || status=$?
expect "the helper run for a member, without arguments (exit status)" 2 "$status"
configure root:root 0700 "root root 0700 $helper"
expect "the helper under an override" "root:root 700" "$(stat -c '%U:%G %a' "$helper")"
expect "its capability under an override" "cap_net_bind_service=ep" "$(getcap "$helper" | awk '{print $2}')"
echo "postinst check: ok"
