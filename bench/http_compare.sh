#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One 200 MiB file from Tarnwick's server, over HTTP with curl and over TFTP
# with atftp at blksize 1468 (the server's cap, one Ethernet frame) and
# windowsize 16. Both come from the same server process (bench/http_serve:
# the TFTP server and the HTTP one in one poll() loop). Each runs once to
# warm up, then RUNS times (default 5), taking turns; the copies are written
# to /dev/shm, so that the disk's pace is not the link's, and each is
# compared byte for byte with the original. Printed: the median wall time of
# each, the median CPU time the server's process took for it, and HTTP's
# time as a share of TFTP's, which must be below a third (the script fails
# otherwise).
# Both on 127.0.0.1: with the server and the client pinned to CPU 0 (what
# each side costs, one after the other), and unpinned.
#
#   bench/http_compare.sh [RUNS [pinned|unpinned|both]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs="${1:-5}"
which="${2:-both}"

ensure_packages "${BUILD_PACKAGES[@]}" atftp curl python3
cmake --preset release >/dev/null
cmake --build --preset release --target http_serve >/dev/null
serve="$PWD/build/bench/http_serve"

work="$(mktemp -d /tmp/tarnwick-http-XXXXXX)"
copies="$(mktemp -d /dev/shm/tarnwick-http-XXXXXX)"
pid=""
stop_server() {
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    pid=""
}
cleanup() {
    stop_server
    rm -rf "$work" "$copies"
}
trap cleanup EXIT
mkdir -p "$work/root"
head -c $((200 << 20)) /dev/urandom >"$work/root/big.bin"
free_port() { # $1: SOCK_DGRAM or SOCK_STREAM
    python3 -c "import socket; s=socket.socket(socket.AF_INET, socket.$1); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}

# $1: prefix (taskset or nothing), $2: the address served on.
start_server() {
    stop_server
    address=$2
    tftp_port=$(free_port SOCK_DGRAM)
    http_port=$(free_port SOCK_STREAM)
    : >"$work/serve.log"
    $1 "$serve" "$work/root" "$tftp_port" "$http_port" "$address" 2>"$work/serve.log" &
    pid=$!
    for _ in $(seq 100); do
        grep -q 'over HTTP on' "$work/serve.log" && return 0
        sleep 0.05
    done
    echo "The server did not start:" >&2
    cat "$work/serve.log" >&2
    exit 1
}

# CPU seconds the server's process has used.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); print ($12 + $13) / hz }' "/proc/$pid/stat"; }
now() { date +%s.%N; }

once() { # $1: http or tftp, $2: client prefix; prints "wall server_cpu"
    local out="$copies/got.bin" start end cpu0 cpu1
    rm -f "$out"
    cpu0=$(cpu_seconds)
    start=$(now)
    if [ "$1" = http ]; then
        timeout 300 $2 curl -sS -o "$out" "http://$address:$http_port/big.bin"
    else
        timeout 300 $2 atftp --option "blksize 1468" --option "windowsize 16" -g -r big.bin -l "$out" "$address" \
            "$tftp_port" >/dev/null 2>&1
    fi || { echo "FAILED: $1" >&2; return 1; }
    end=$(now)
    cpu1=$(cpu_seconds)
    cmp -s "$out" "$work/root/big.bin" || { echo "DIFFERS: $1" >&2; return 1; }
    awk -v a="$start" -v b="$end" -v c="$cpu0" -v d="$cpu1" 'BEGIN { printf "%.3f %.2f\n", b - a, d - c }'
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

failed=0
compare() { # $1: title, $2: prefix for the server, $3: for the client, $4: the address
    start_server "$2" "$4"
    once http "$3" >/dev/null
    once tftp "$3" >/dev/null
    : >"$work/http.txt"
    : >"$work/tftp.txt"
    for _ in $(seq "$runs"); do
        once http "$3" >>"$work/http.txt"
        once tftp "$3" >>"$work/tftp.txt"
    done
    local kind wall share
    declare -A wall=() cpu=()
    for kind in http tftp; do
        wall[$kind]=$(cut -d' ' -f1 <"$work/$kind.txt" | median)
        cpu[$kind]=$(cut -d' ' -f2 <"$work/$kind.txt" | median)
    done
    share=$(awk -v a="${wall[http]}" -v b="${wall[tftp]}" 'BEGIN { printf "%.2f", a / b }')
    echo
    echo "== 200 MiB Get, $1: median of $runs runs after a warm-up =="
    printf "%-22s %8s %14s\n" "" "wall s" "server CPU s"
    printf "%-22s %8s %14s\n" "HTTP (curl)" "${wall[http]}" "${cpu[http]}"
    printf "%-22s %8s %14s\n" "TFTP 1468/16 (atftp)" "${wall[tftp]}" "${cpu[tftp]}"
    printf "%-22s %8s\n" "HTTP's time / TFTP's" "$share"
    awk -v s="$share" 'BEGIN { exit !(s < 1 / 3) }' || { echo "HTTP is not under a third of TFTP's time" >&2; failed=1; }
    stop_server
}

[ "$which" = unpinned ] || compare "127.0.0.1, pinned to CPU 0" "taskset -c 0" "taskset -c 0" 127.0.0.1
[ "$which" = pinned ] || compare "127.0.0.1, unpinned" "" "" 127.0.0.1
exit "$failed"
