#!/usr/bin/env bash
# Installs what is missing, builds the release build in build/ and starts Tarnwick.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh

ensure_packages "${BUILD_PACKAGES[@]}"

cmake --preset release
cmake --build --preset release

if [ ! -x build/tarnwick ]; then
    echo "Built the transfer engine and its tests; the window is not built yet, so there is nothing to start."
    exit 0
fi
exec build/tarnwick "$@"
