#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the release build into a temporary prefix and checks what a user's
# desktop and a distribution rely on: the desktop entry and metainfo validate,
# a composed software catalogue has the icon, the port 69 helper is installed
# (with no capability unless asked for, and the commands printed) and the
# .deb's postinst leaves it to the group tarnwick (tools/check_postinst.sh),
# lintian passes the .deb, the installed program starts
# (offscreen), and its Help button finds the installed help (under a virtual X
# display, pressing Alt+H).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages desktop-file-utils appstream appstream-compose lintian dpkg-dev xvfb xauth xdotool libcap2-bin adduser
build="${1:-build}"
prefix="$(mktemp -d /tmp/tarnwick-install-XXXXXX)"
trap 'rm -rf "$prefix"' EXIT

installed="$(cmake --install "$build" --prefix "$prefix")"
for file in bin/tarnwick bin/tarnwick-serve lib/systemd/system/tarnwick-serve.service \
    lib/systemd/system/tarnwick-serve.socket share/man/man1/tarnwick-serve.1.gz libexec/tarnwick/tarnwick-bind share/tarnwick/tarnwick.html share/applications/org.tarnwick.Tarnwick.desktop \
    share/metainfo/org.tarnwick.Tarnwick.metainfo.xml share/man/man1/tarnwick.1.gz \
    share/doc/tarnwick/copyright share/doc/tarnwick/changelog.gz share/icons/hicolor/scalable/apps/tarnwick.svg; do
    [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
# Not asked for (TARNWICK_SETCAP), no capability: the installation prints the commands instead.
[ -z "$(getcap "$prefix/libexec/tarnwick/tarnwick-bind")" ] ||
    { echo "tarnwick-bind was given a capability that was not asked for"; exit 1; }
grep -qx "  sudo setcap cap_net_bind_service=ep $prefix/libexec/tarnwick/tarnwick-bind" <<<"$installed" ||
    { echo "the installation does not say how to give tarnwick-bind its capability"; exit 1; }
for size in 16 32 48 64 128 256; do
    [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/tarnwick.png" ] || { echo "no ${size} px icon"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/org.tarnwick.Tarnwick.desktop"
appstreamcli validate --pedantic --no-net "$prefix/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml"
# A software centre's view: the catalogue composed from the installed tree
# has the component, with its icon.
compose="$(mktemp -d /tmp/tarnwick-compose-XXXXXX)"
mkdir -p "$compose/root/usr" && cp -r "$prefix/share" "$compose/root/usr/"
appstreamcli compose --no-color --origin=tarnwick --result-root="$compose/out" "$compose/root" >"$compose/log" 2>&1 ||
    { cat "$compose/log"; rm -rf "$compose"; exit 1; }
zcat "$compose/out/usr/share/swcatalog/xml/tarnwick.xml.gz" 2>/dev/null | grep >/dev/null '<icon type="cached"' ||
    { echo "appstreamcli compose found no icon"; cat "$compose/log"; rm -rf "$compose"; exit 1; }
rm -rf "$compose"

# The server without a window: no Qt, no display; it says its version and
# serves an installed folder until stopped. Its units name it by its bare name.
! ldd "$prefix/bin/tarnwick-serve" | grep >/dev/null -i qt || { echo "tarnwick-serve links Qt"; exit 1; }
env -u DISPLAY "$prefix/bin/tarnwick-serve" --version | grep >/dev/null -x "tarnwick-serve [0-9.]*" ||
    { echo "the installed tarnwick-serve does not say its version"; exit 1; }
status=0
served="$(env -u DISPLAY timeout --preserve-status -s TERM 1 "$prefix/bin/tarnwick-serve" "$prefix/share" \
    --listen 127.0.0.1 --port 16969)" || status=$?
[ "$status" = 0 ] && grep -q " Confined to $prefix/share (read-only)" <<<"$served" ||
    { echo "the installed tarnwick-serve did not serve and stop (status $status): $served"; exit 1; }
grep -qx 'ExecStart=tarnwick-serve $TARNWICK_SERVE_OPTIONS' "$prefix/lib/systemd/system/tarnwick-serve.service" ||
    { echo "the service does not run tarnwick-serve"; exit 1; }

# Starts and keeps running until stopped.
status=0
(cd "$prefix" && QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/tarnwick" >/dev/null 2>&1) || status=$?
[ "$status" = 124 ] || { echo "the installed program did not keep running (status $status)"; exit 1; }

# Help: Alt+H in the main window opens the help window, not "Failed to launch help.".
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    cd /tmp && "$1/bin/tarnwick" >/dev/null 2>&1 &
    program=$!
    trap "kill $program 2>/dev/null" EXIT
    for _ in $(seq 50); do
        window=$(xdotool search --name "^Tarnwick\$" 2>/dev/null | head -1) && [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "${window:-}" ] || { echo "no main window"; exit 1; }
    xdotool windowfocus --sync "$window" key alt+h
    for _ in $(seq 50); do
        xdotool search --name "^tarnwick Help\$" >/dev/null 2>&1 && exit 0
        sleep 0.1
    done
    echo "the help window did not open"
    exit 1
' _ "$prefix"
# The Debian package holds the same files under /usr.
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/tarnwick_*.deb | head -1)
diff <(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | sort) \
    <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) || { echo "the package differs from the install"; exit 1; }
dpkg-deb -f "$deb" Depends | grep >/dev/null 'libqt6widgets6' || { echo "the package does not name its libraries"; exit 1; }
# Its postinst gives the helper its capability, with setcap from a dependency.
dpkg-deb -f "$deb" Depends | grep >/dev/null 'libcap2-bin' || { echo "the package does not depend on libcap2-bin"; exit 1; }
dpkg-deb -I "$deb" postinst | grep >/dev/null 'setcap cap_net_bind_service=ep "$helper"' ||
    { echo "the package's postinst does not give tarnwick-bind its capability"; exit 1; }
# What a distribution asks of a package: no errors or warnings from lintian.
# The server's units are shipped and never enabled by the package's scripts.
dpkg-deb -c "$deb" | grep >/dev/null '/lib/systemd/system/tarnwick-serve.socket$' || { echo "the package has no socket unit"; exit 1; }
! dpkg-deb -I "$deb" postinst | grep >/dev/null 'systemctl\|deb-systemd' || { echo "the package enables a unit"; exit 1; }
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb"
tools/check_postinst.sh "$deb"
echo "install check: ok ($deb)"
