#!/usr/bin/env bash
# Times a Get and a Put of a 32 MiB + 512 byte file (65,537 full blocks: the
# block number wraps) in octet mode against tftpd-hpa on loopback, with
# Tarnwick (its real window on the offscreen platform, bench/tarnwick_bench)
# and with tftp-hpa's tftp, curl and atftp. Each client and direction runs
# once to warm up, then RUNS times (default 5); each copy is checked byte for
# byte. Measured twice: server and client pinned to CPU 0, then unpinned.
#
#   bench/compare.sh [RUNS [pinned|unpinned|both]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs="${1:-5}"
which="${2:-both}"

ensure_packages "${BUILD_PACKAGES[@]}" tftpd-hpa tftp-hpa curl atftp time
cmake --preset release >/dev/null
cmake --build --preset release --target tarnwick_bench >/dev/null
bench="$PWD/build/bench/tarnwick_bench"

work="$(mktemp -d /tmp/tarnwick-bench-XXXXXX)"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root/upload" "$work/client"
head -c 33554944 /dev/urandom >"$work/root/big.bin"
cp "$work/root/big.bin" "$work/client/local.bin"
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
    case "$client/$direction" in
    tarnwick/get) cmd=(sh -c "cd '$work/client' && mv -f local.bin .local.keep && '$bench' get 127.0.0.1:$port big.bin; s=\$?; mv big.bin got.bin 2>/dev/null; mv .local.keep local.bin; exit \$s") ;;
    tarnwick/put) cmd=("$bench" put "127.0.0.1:$port" "$work/client/local.bin" "$up") ;;
    tftp/get) cmd=(tftp -m binary 127.0.0.1 "$port" -c get big.bin "$out") ;;
    tftp/put) cmd=(tftp -m binary 127.0.0.1 "$port" -c put "$work/client/local.bin" "$up") ;;
    curl/get) cmd=(curl -s --tftp-no-options -o "$out" "tftp://127.0.0.1:$port/big.bin") ;;
    curl/put) cmd=(curl -s --tftp-no-options -T "$work/client/local.bin" "tftp://127.0.0.1:$port/$up") ;;
    atftp/get) cmd=(atftp -g -r big.bin -l "$out" 127.0.0.1 "$port") ;;
    atftp/put) cmd=(atftp -p -l "$work/client/local.bin" -r "$up" 127.0.0.1 "$port") ;;
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
    printf "%-9s %-4s %9s %9s %9s %11s %14s\n" client dir "wall s" "user s" "sys s" "peak RSS KB" "this/tarnwick"
    for direction in get put; do
        declare -A wall=()
        for client in tarnwick tftp curl atftp; do
            transfer "$client" "$direction" "$2" >/dev/null
            : >"$work/runs.txt"
            for _ in $(seq "$runs"); do transfer "$client" "$direction" "$2" >>"$work/runs.txt"; done
            wall[$client]=$(cut -d' ' -f1 <"$work/runs.txt" | median)
            local user sys rss
            user=$(cut -d' ' -f2 <"$work/runs.txt" | median)
            sys=$(cut -d' ' -f3 <"$work/runs.txt" | median)
            rss=$(cut -d' ' -f4 <"$work/runs.txt" | sort -n | tail -1)
            printf "%-9s %-4s %9s %9s %9s %11s %14s\n" "$client" "$direction" "${wall[$client]}" "$user" "$sys" "$rss" \
                "$(awk -v p="${wall[$client]}" -v t="${wall[tarnwick]}" 'BEGIN { printf "%.2f", p / t }')"
        done
    done
}

[ "$which" = unpinned ] || measure "pinned to CPU 0 (server and client)" "taskset -c 0"
[ "$which" = pinned ] || measure "unpinned" ""
