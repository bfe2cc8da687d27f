#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Tarnwick's server against tftpd-hpa and atftpd on loopback, in one run, with
# Debian's atftp as the client of all three:
#   - a Get of a 64 MiB file at blksize 512, at 1468, and at 1468 with
#     windowsize 16 (tftpd-hpa has no windows: there it is lock-step 1468),
#     server and client pinned to CPU 0, unpinned, or both;
#   - 100 atftp clients at once, each getting a 4 MiB file at blksize 1468,
#     pinned, unpinned or both likewise: the time until the last one is done.
# Tarnwick serves as a server runs it: `tarnwick-serve`, headless and confined
# (for the 100 clients --max-transfers and --max-per-client raised to 128). Each server and case
# runs once to warm up, then RUNS times (default 3); every copy is compared
# byte for byte with the original; the servers take turns run by run, so that
# what else the machine does falls on all three alike. Printed: the median
# wall time, the median CPU time the server's process took (from /proc; not
# for tftpd-hpa, which forks a process per transfer and never waits for it),
# and each server's median divided by Tarnwick's (above 1.0: Tarnwick is
# faster).
#
#   bench/serve_compare.sh [RUNS [pinned|unpinned|both]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs="${1:-3}"
which="${2:-pinned}"
clients=100

ensure_packages "${BUILD_PACKAGES[@]}" tftpd-hpa atftp python3
cmake --preset release >/dev/null
cmake --build --preset release --target tarnwick-serve >/dev/null
tools/fetch_atftpd.sh build/atftpd >/dev/null
tarnwick="$PWD/build/tarnwick-serve"
atftpd="$PWD/build/atftpd/usr/sbin/atftpd"
[ -x "$atftpd" ] || { echo "atftpd is missing (tools/fetch_atftpd.sh build/atftpd)" >&2; exit 1; }

work="$(mktemp -d /tmp/tarnwick-serve-XXXXXX)"
declare -A pid=() port=()
stop_servers() {
    local server
    for server in "${!pid[@]}"; do
        kill "${pid[$server]}" 2>/dev/null || true
        wait "${pid[$server]}" 2>/dev/null || true
    done
    pid=()
}
cleanup() {
    stop_servers
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/client" "$work/config/Tarnwick"
head -c 67108864 /dev/urandom >"$work/root/big.bin"
head -c 4194304 /dev/urandom >"$work/root/small.bin"
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Starts the three servers, each on a free port. $1: the command prefix
# (taskset or nothing); $2: Tarnwick's limits, "TRANSFERS PERCLIENT".
start_servers() {
    stop_servers
    read -r transfers per_client <<<"$2"
    port[tarnwick]=$(free_port)
    : >"$work/tarnwick.log"
    $1 "$tarnwick" "$work/root" --listen 127.0.0.1 \
        --port "${port[tarnwick]}" --max-transfers "$transfers" --max-per-client "$per_client" \
        >"$work/tarnwick.log" 2>/dev/null &
    pid[tarnwick]=$!
    port[tftpd-hpa]=$(free_port)
    $1 /usr/sbin/in.tftpd -L -a "127.0.0.1:${port[tftpd-hpa]}" -s "$work/root" -u root &
    pid[tftpd-hpa]=$!
    port[atftpd]=$(free_port)
    $1 "$atftpd" --daemon --no-fork --port "${port[atftpd]}" --bind-address 127.0.0.1 --user root --group root \
        --maxthread 200 --logfile /dev/null "$work/root" &
    pid[atftpd]=$!
    for _ in $(seq 100); do # Tarnwick says when it serves
        grep -q 'Serving' "$work/tarnwick.log" && break
        sleep 0.05
    done
    grep -q 'Serving' "$work/tarnwick.log" || { echo "Tarnwick did not start serving" >&2; exit 1; }
    sleep 0.3
}

# CPU seconds a process (all its threads) and its reaped children have used.
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); print ($12 + $13 + $14 + $15) / hz }' "/proc/$1/stat"
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }

# One Get of big.bin; prints "wall server_cpu". $1 server, $2 options
# ("512", "1468" or "1468/16"), $3 prefix for the client.
get_once() {
    local server=$1 options=$2 prefix=$3 out="$work/client/got.bin"
    local opts=(--option "blksize ${options%/*}")
    [ "$options" != "${options#*/}" ] && opts+=(--option "windowsize ${options#*/}")
    rm -f "$out"
    local cpu0 start end cpu1
    cpu0=$(cpu_seconds "${pid[$server]}")
    start=$(now)
    timeout 120 $prefix atftp "${opts[@]}" -g -r big.bin -l "$out" 127.0.0.1 "${port[$server]}" >/dev/null 2>&1 || {
        echo "FAILED: $server $options" >&2
        return 1
    }
    end=$(now)
    cmp -s "$out" "$work/root/big.bin" || {
        echo "DIFFERS: $server $options" >&2
        return 1
    }
    cpu1=$(cpu_seconds "${pid[$server]}")
    echo "$(elapsed "$start" "$end") $(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')"
}

# $clients Gets of small.bin at once; prints "wall server_cpu". $1 server,
# $2 prefix for the clients.
clients_once() {
    local server=$1 prefix=$2 i failed=0
    rm -rf "$work/client/many"
    mkdir -p "$work/client/many"
    local cpu0 start end cpu1 children=()
    cpu0=$(cpu_seconds "${pid[$server]}")
    start=$(now)
    for i in $(seq "$clients"); do
        timeout 120 $prefix atftp --option "blksize 1468" -g -r small.bin -l "$work/client/many/$i.bin" 127.0.0.1 \
            "${port[$server]}" >/dev/null 2>&1 &
        children+=($!)
    done
    for i in "${children[@]}"; do wait "$i" || failed=$((failed + 1)); done
    end=$(now)
    for i in $(seq "$clients"); do
        cmp -s "$work/client/many/$i.bin" "$work/root/small.bin" || failed=$((failed + 1))
    done
    [ "$failed" = 0 ] || {
        echo "FAILED: $server, $failed of $clients clients failed or differ" >&2
        return 1
    }
    cpu1=$(cpu_seconds "${pid[$server]}")
    echo "$(elapsed "$start" "$end") $(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# A warm-up of each server, then RUNS rounds in which each server runs once
# in turn, so that what else the machine does falls on all three alike.
# "$@": the function and its arguments after the server's name. Leaves the
# median wall time and the median server CPU of each in result[SERVER], or
# "failed -" for a server with a failed run.
declare -A result=()
measure() {
    local server _
    for server in tarnwick tftpd-hpa atftpd; do
        : >"$work/runs-$server.txt"
        "$1" "$server" "${@:2}" >/dev/null || echo failed >"$work/runs-$server.txt"
    done
    for _ in $(seq "$runs"); do
        for server in tarnwick tftpd-hpa atftpd; do
            grep -q failed "$work/runs-$server.txt" && continue
            "$1" "$server" "${@:2}" >>"$work/runs-$server.txt" || echo failed >"$work/runs-$server.txt"
        done
    done
    for server in tarnwick tftpd-hpa atftpd; do
        if grep -q failed "$work/runs-$server.txt"; then
            result[$server]="failed -"
        else
            result[$server]="$(cut -d' ' -f1 <"$work/runs-$server.txt" | median) $(cut -d' ' -f2 <"$work/runs-$server.txt" | median)"
        fi
    done
}

# tftpd-hpa's children are never waited for, so their CPU time is not counted.
server_cpu() { if [ "$1" = tftpd-hpa ]; then echo -; else echo "${result[$1]#* }"; fi; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'; }

gets() { # $1 title, $2 prefix for servers and client
    echo
    echo "== $1: 64 MiB Get with atftp, median of $runs runs after a warm-up =="
    start_servers "$2" "64 8"
    printf "%-8s %-10s %9s %13s %14s\n" options server "wall s" "server CPU s" "this/tarnwick"
    local options server note
    for options in 512 1468 1468/16; do
        measure get_once "$options" "$2"
        for server in tarnwick tftpd-hpa atftpd; do
            note=""
            [ "$server/$options" = tftpd-hpa/1468/16 ] && note="   (no windows: lock-step 1468)"
            printf "%-8s %-10s %9s %13s %14s%s\n" "$options" "$server" "${result[$server]% *}" "$(server_cpu "$server")" \
                "$(ratio "${result[$server]% *}" "${result[tarnwick]% *}")" "$note"
        done
    done
}

[ "$which" = unpinned ] || gets "pinned to CPU 0 (servers and client)" "taskset -c 0"
[ "$which" = pinned ] || gets "unpinned" ""

many() { # $1 title, $2 prefix for servers and clients
    echo
    echo "== $clients atftp clients at once, 4 MiB each, blksize 1468, $1: median of $runs runs after a warm-up =="
    start_servers "$2" "128 128"
    printf "%-10s %9s %13s %14s\n" server "wall s" "server CPU s" "this/tarnwick"
    measure clients_once "$2"
    local server
    for server in tarnwick tftpd-hpa atftpd; do
        printf "%-10s %9s %13s %14s\n" "$server" "${result[$server]% *}" "$(server_cpu "$server")" \
            "$(ratio "${result[$server]% *}" "${result[tarnwick]% *}")"
    done
}

[ "$which" = unpinned ] || many "pinned to CPU 0 (servers and clients)" "taskset -c 0"
[ "$which" = pinned ] || many "unpinned" ""
