#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The .deb's postinst run as dpkg runs it, in a mount namespace with copies of
# /etc, the helper's folder and the statoverride database: the group tarnwick,
# root:tarnwick 0750 and the capability, or an administrator's override kept.
#   tools/check_postinst.sh DEB (as root; skipped without a namespace)
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
configure() { # OWNER MODE [OVERRIDE]: the helper as dpkg unpacks it, then postinst
    mkdir -p "$(dirname "$helper")"
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$helper" >"$helper"
    chown "$1" "$helper" && chmod "$2" "$helper"
    if [ -n "${3:-}" ]; then echo "$3"; fi >"$root/dpkg/statoverride"
    DPKG_ADMINDIR="$root/dpkg" "$root/control/postinst" configure 1.0 >/dev/null
}
state() { echo "$(stat -c '%U:%G %a' "$helper") $(getcap "$helper" | awk '{print $2}')"; }
expect() { # WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || { echo "postinst check: $1 is '$3', not '$2'"; exit 1; }
}
configure root:root 0755
configure root:root 0755 # an upgrade: the group is there already
expect "the group" system "$(getent group tarnwick | awk -F: '$3 < 1000 {print "system"}')"
expect "the helper" "root:tarnwick 750 cap_net_bind_service=ep" "$(state)"
# env does the exec: setpriv's own exec would still hold root's capabilities.
expect "the helper run outside the group (exit status)" 126 \
    "$(setpriv --reuid=nobody --regid=nogroup --clear-groups env "$helper" 2>/dev/null; echo $?)"
expect "the helper run by a member without arguments (exit status)" 2 \
    "$(setpriv --reuid=nobody --regid=nogroup --groups=tarnwick env "$helper" 2>/dev/null; echo $?)"
configure root:root 0700 "root root 0700 $helper"
expect "the overridden helper" "root:root 700 cap_net_bind_service=ep" "$(state)"
echo "postinst check: ok"
