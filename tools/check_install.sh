#!/usr/bin/env bash
# Installs the release build into a temporary prefix and checks what a user's
# desktop relies on: the desktop entry and metainfo validate, the installed
# program starts (offscreen), and its Help button finds the installed help
# (under a virtual X display, pressing Alt+H).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages desktop-file-utils appstream dpkg-dev xvfb xauth xdotool
build="${1:-build}"
prefix="$(mktemp -d /tmp/tarnwick-install-XXXXXX)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/tarnwick share/tarnwick/tarnwick.html share/applications/tarnwick.desktop \
    share/metainfo/org.tarnwick.Tarnwick.metainfo.xml share/man/man1/tarnwick.1 \
    share/icons/hicolor/16x16/apps/tarnwick.png share/icons/hicolor/32x32/apps/tarnwick.png \
    share/icons/hicolor/48x48/apps/tarnwick.png; do
    [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/tarnwick.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml" >/dev/null

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
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || { echo "the package does not name its libraries"; exit 1; }
echo "install check: ok ($deb)"
