#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times a Get and a Put of a 32 MiB + 512 byte file (65,537 full blocks: the
# block number wraps) in octet mode against tftpd-hpa on loopback, with
# Tarnwick (its real window, bench/tarnwick_bench, on Qt's offscreen platform
# and on an X display under Xvfb) and with tftp-hpa's tftp, curl and atftp,
# and with "floor" (bench/floor_client.c), the least a lock-step client can do
# per block: what separates Tarnwick from it is Tarnwick's own cost.
# Each client and direction runs once to warm up, then RUNS times (default 5);
# each copy is checked byte for byte. Measured with server and client pinned
# to CPU 0, unpinned, or both. For Tarnwick it also prints the medians of its
# phases: start-up (to the first block), the steady phase per block, and the
# end (the last block; for a Get, making the file durable and renaming it).
#
#   bench/compare.sh [RUNS [pinned|unpinned|both [offscreen|x|both]]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs="${1:-5}"
which="${2:-both}"
platforms="${3:-both}"

ensure_packages "${BUILD_PACKAGES[@]}" tftpd-hpa tftp-hpa curl atftp time xvfb
cmake --preset release >/dev/null
cmake --build --preset release --target tarnwick_bench >/dev/null
bench="$PWD/build/bench/tarnwick_bench"

work="$(mktemp -d /tmp/tarnwick-bench-XXXXXX)"
server_pid=""
xvfb_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root/upload" "$work/client"
# The floor: the least a lock-step client does per block (bench/floor_client.c).
cc -O2 -o "$work/floor" bench/floor_client.c
head -c 33554944 /dev/urandom >"$work/root/big.bin"
cp "$work/root/big.bin" "$work/client/local.bin"
tarnwicks=()
[ "$platforms" = x ] || tarnwicks+=(tarnwick)
if [ "$platforms" != offscreen ]; then
    # A display of its own: Xvfb says its number when it is ready.
    exec 3< <(Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x1024x24 2>/dev/null & echo $! >"$work/xvfb.pid"; wait)
    read -r -t 10 display <&3
    xvfb_pid=$(cat "$work/xvfb.pid")
    tarnwicks+=(tarnwick-x)
fi
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

start_server() { # $1: the command prefix (taskset or nothing)
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
    $1 /usr/sbin/in.tftpd -L -a "127.0.0.1:$port" -s "$work/root" -c -p -u root &
    server_pid=$!
    sleep 0.3
}

# One transfer; prints "wall user sys maxrss_kb". $1 client, $2 get|put, $3 prefix.
transfer() {
    local client=$1 direction=$2 prefix=$3 out="$work/client/got.bin" up="upload/$1.bin"
    rm -f "$out" "$work/root/$up"
    local cmd
    local platform=offscreen
    [ "$client" = tarnwick-x ] && platform=xcb
    case "$client/$direction" in
    tarnwick*/get) cmd=(env DISPLAY=":${display:-}" TARNWICK_BENCH_PHASES="$work/phases.txt" sh -c "cd '$work/client' && mv -f local.bin .local.keep && '$bench' --platform $platform get 127.0.0.1:$port big.bin; s=\$?; mv big.bin got.bin 2>/dev/null; mv .local.keep local.bin; exit \$s") ;;
    tarnwick*/put) cmd=(env DISPLAY=":${display:-}" TARNWICK_BENCH_PHASES="$work/phases.txt" "$bench" --platform $platform put "127.0.0.1:$port" "$work/client/local.bin" "$up") ;;
    tftp/get) cmd=(tftp -m binary 127.0.0.1 "$port" -c get big.bin "$out") ;;
    tftp/put) cmd=(tftp -m binary 127.0.0.1 "$port" -c put "$work/client/local.bin" "$up") ;;
    curl/get) cmd=(curl -s --tftp-no-options -o "$out" "tftp://127.0.0.1:$port/big.bin") ;;
    curl/put) cmd=(curl -s --tftp-no-options -T "$work/client/local.bin" "tftp://127.0.0.1:$port/$up") ;;
    atftp/get) cmd=(atftp -g -r big.bin -l "$out" 127.0.0.1 "$port") ;;
    atftp/put) cmd=(atftp -p -l "$work/client/local.bin" -r "$up" 127.0.0.1 "$port") ;;
    floor/get) cmd=("$work/floor" get "$port" big.bin "$out") ;;
    floor/put) cmd=("$work/floor" put "$port" "$work/client/local.bin" "$up") ;;
    esac
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" $prefix "${cmd[@]}" >/dev/null 2>&1 || {
        echo "FAILED: $client $direction" >&2
        return 1
    }
    local copy="$out"
    [ "$direction" = put ] && copy="$work/root/$up"
    for _ in $(seq 50); do # the server may close the file just after its last ACK
        [ "$(stat -c %s "$copy" 2>/dev/null || echo 0)" = 33554944 ] && break
        sleep 0.05
    done
    cmp -s "$copy" "$work/root/big.bin" || {
        echo "DIFFERS: $client $direction" >&2
        return 1
    }
    cat "$work/time.txt"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

measure() { # $1: title, $2: prefix for both server and client
    echo
    echo "== $1: median of $runs runs after a warm-up =="
    start_server "$2"
    printf "%-10s %-4s %9s %9s %9s %11s" client dir "wall s" "user s" "sys s" "peak RSS KB"
    for t in "${tarnwicks[@]}"; do printf " %16s" "this/$t"; done
    echo
    : >"$work/phase-lines.txt"
    for direction in get put; do
        declare -A wall=()
        for client in "${tarnwicks[@]}" tftp curl atftp floor; do
            transfer "$client" "$direction" "$2" >/dev/null
            : >"$work/runs.txt"
            : >"$work/phases.txt"
            for _ in $(seq "$runs"); do transfer "$client" "$direction" "$2" >>"$work/runs.txt"; done
            if [ -s "$work/phases.txt" ]; then
                printf "%-10s %-4s %12s %14s %9s\n" "$client" "$direction" \
                    "$(cut -d' ' -f1 <"$work/phases.txt" | median)" \
                    "$(awk '{ printf "%.2f\n", $2 * 1000 / $3 }' "$work/phases.txt" | median)" \
                    "$(cut -d' ' -f4 <"$work/phases.txt" | median)" >>"$work/phase-lines.txt"
            fi
            wall[$client]=$(cut -d' ' -f1 <"$work/runs.txt" | median)
            local user sys rss
            user=$(cut -d' ' -f2 <"$work/runs.txt" | median)
            sys=$(cut -d' ' -f3 <"$work/runs.txt" | median)
            rss=$(cut -d' ' -f4 <"$work/runs.txt" | sort -n | tail -1)
            printf "%-10s %-4s %9s %9s %9s %11s" "$client" "$direction" "${wall[$client]}" "$user" "$sys" "$rss"
            for t in "${tarnwicks[@]}"; do
                printf " %16s" "$(awk -v p="${wall[$client]}" -v t="${wall[$t]:-0}" 'BEGIN { if (t > 0) printf "%.2f", p / t; else printf "-" }')"
            done
            echo
        done
    done
    echo
    printf "%-10s %-4s %12s %14s %9s\n" client dir "start-up ms" "steady us/blk" "end ms"
    cat "$work/phase-lines.txt"
}

[ "$which" = unpinned ] || measure "pinned to CPU 0 (server and client)" "taskset -c 0"
[ "$which" = pinned ] || measure "unpinned" ""
