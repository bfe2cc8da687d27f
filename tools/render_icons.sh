#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders the larger icons (64, 128 and 256 pixels) from the scalable one,
# res/icons/tarnwick.svg, which follows the design tools/make_icon.py draws
# pixel by pixel for 16, 32 and 48. Run from the top of the tree after a
# change to the SVG; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
ensure_packages librsvg2-bin
for size in 64 128 256; do
    rsvg-convert -w "$size" -h "$size" res/icons/tarnwick.svg -o "res/icons/tarnwick-$size.png"
done
