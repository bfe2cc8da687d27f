#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the release build in build/ and starts Tarnwick.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh

ensure_packages "${BUILD_PACKAGES[@]}"

cmake --preset release
cmake --build --preset release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Tarnwick is built (build/tarnwick), but there is no display to show its window on."
    echo "Run it from a desktop session, or under a virtual display: xvfb-run ./run.sh"
    echo "(Debian package xvfb)."
    exit 1
fi
exec build/tarnwick "$@"
