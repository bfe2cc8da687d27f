#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts atftpd (the server of Debian's atftpd package) in DIR/usr/sbin/atftpd for
# the tests. The package conflicts with tftpd-hpa's, so it is not installed:
# it is downloaded and unpacked. Does nothing when it is there already; a
# failure only leaves the atftpd tests to skip themselves.
#
#   tools/fetch_atftpd.sh DIR
set -uo pipefail
dir="$1"
[ -x "$dir/usr/sbin/atftpd" ] && exit 0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if (cd "$work" && apt-get download atftpd >/dev/null 2>&1) && dpkg-deb -x "$work"/atftpd_*.deb "$dir"; then
    echo "atftpd: $dir/usr/sbin/atftpd"
else
    echo "atftpd could not be fetched; its tests will be skipped" >&2
fi
exit 0
