#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang (preset "fuzz", in build-fuzz/) and runs
# each for SECONDS (default 60) on its corpus: the seeds in fuzz/corpus/ and
# what the runs found, kept in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_receive fuzz_netascii fuzz_peer_error fuzz_oack fuzz_serve_request \
    fuzz_serve_transfer fuzz_window fuzz_proxy_dhcp fuzz_http_request

status=0
for target in receive netascii peer_error oack serve_request serve_transfer window proxy_dhcp http_request; do
    work="build-fuzz/corpus/$target"
    mkdir -p "$work" "build-fuzz/artifacts/$target"
    echo "== fuzz_$target for ${seconds}s =="
    if ! "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$target/" "$work" "fuzz/corpus/$target" 2>"build-fuzz/$target.log"; then
        status=1
        echo "fuzz_$target found a failure; see build-fuzz/$target.log and build-fuzz/artifacts/$target/"
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "build-fuzz/$target.log" || true
done
exit $status
