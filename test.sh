#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test: the release build's,
# then the sanitizer build's.
set -euo pipefail
cd "$(dirname "$0")"
source tools/packages.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

# The tracked sources keep the repository's .clang-format style.
echo "== format =="
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

for preset in release asan; do
    echo "== $preset =="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    # atftpd, a second server for the option tests, conflicts with tftpd-hpa:
    # it is unpacked into the build folder rather than installed.
    binary_dir=build
    [ "$preset" = asan ] && binary_dir=build-asan
    tools/fetch_atftpd.sh "$binary_dir/atftpd"
    ctest --preset "$preset"
done

# An installation into a temporary prefix, and the Debian package.
echo "== install =="
tools/check_install.sh build

# A short run of each fuzz target, where clang is at hand (fuzz/run.sh for longer runs).
if command -v clang++ >/dev/null 2>&1; then
    echo "== fuzz (smoke) =="
    fuzz/run.sh 10
fi
