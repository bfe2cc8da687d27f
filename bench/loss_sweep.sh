#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Tarnwick's client across a lossy link, one seeded drop pattern after another:
# bench/delay_relay.py holds each datagram 1 ms each way and drops 2% in each
# direction, with seeds FIRST to LAST (default 1 to 20). For each seed, a Get
# and a Put of a 2 MiB random file with blksize 1428 and windowsize 16, against
# atftpd and against Tarnwick's own server (`tarnwick --serve`, offscreen).
# Every transfer gets a relay of its own, so that its drop pattern does not
# depend on what went before. Each transfer is cut off at 60 s.
#
# One line per transfer: server, direction, seed, whether the copy is whole
# (compared byte for byte), seconds, and how it ended ("ok", "cut off", or the
# client's last message). The last lines count what met the goal: whole,
# within 10 s, and not ended by a timeout. SERVER (atftpd or tarnwick) and
# DIR (get or put) limit the sweep to one of each.
#
#   bench/loss_sweep.sh [FIRST [LAST [SERVER [DIR]]]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
first="${1:-1}"
last="${2:-20}"
servers="${3:-atftpd tarnwick}"
directions="${4:-get put}"

ensure_packages "${BUILD_PACKAGES[@]}" time python3
cmake --preset release >/dev/null
nice cmake --build --preset release --target tarnwick_bench tarnwick >/dev/null
tools/fetch_atftpd.sh build/atftpd >/dev/null
bench="$PWD/build/bench/tarnwick_bench"
tarnwick="$PWD/build/tarnwick"

work="$(mktemp -d /tmp/tarnwick-sweep-XXXXXX)"
pids=()
relay_pid=""
cleanup() {
    for pid in "${pids[@]}" $relay_pid; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/atftpd" "$work/tarnwick" "$work/client" "$work/config"
head -c 2097152 /dev/urandom >"$work/client/local.bin"
cp "$work/client/local.bin" "$work/atftpd/big.bin"
cp "$work/client/local.bin" "$work/tarnwick/big.bin"
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

declare -A port=()
port[atftpd]=$(free_port)
build/atftpd/usr/sbin/atftpd --daemon --no-fork --port "${port[atftpd]}" --bind-address 127.0.0.1 --user root \
    --group root --logfile /dev/null "$work/atftpd" &
pids+=($!)
port[tarnwick]=$(free_port)
XDG_CONFIG_HOME="$work/config" "$tarnwick" -platform offscreen --serve "$work/tarnwick" --listen 127.0.0.1 \
    --port "${port[tarnwick]}" --allow-upload --allow-create --allow-replace >"$work/serve.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do # Tarnwick says when it serves
    grep -q '^Serving' "$work/serve.log" && break
    sleep 0.05
done
grep -q '^Serving' "$work/serve.log" || { echo "Tarnwick did not start serving" >&2; exit 1; }

# A relay with drop pattern $2 towards port $1; sets relay_port.
start_relay() {
    [ -n "$relay_pid" ] && { kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; }
    coproc RELAY { exec python3 bench/delay_relay.py "$1" 1 0 "$2" 2; }
    relay_pid=$RELAY_PID
    read -r relay_port <&"${RELAY[0]}"
}

# One transfer: $1 server, $2 get|put, $3 seed. Prints its line; fails when
# it missed the goal.
transfer() {
    local server=$1 direction=$2 seed=$3 root="$work/$1" copy cmd
    start_relay "${port[$server]}" "$seed"
    rm -f "$work/client/big.bin" "$root/up.bin"
    if [ "$direction" = get ]; then
        copy="$work/client/big.bin"
        cmd=(sh -c "cd '$work/client' && exec '$bench' --options 1428:16 get 127.0.0.1:$relay_port big.bin")
    else
        copy="$root/up.bin"
        cmd=("$bench" --options 1428:16 put "127.0.0.1:$relay_port" "$work/client/local.bin" up.bin)
    fi
    local status=0 ended=ok
    /usr/bin/time -f "%e" -o "$work/time.txt" timeout 60 "${cmd[@]}" >/dev/null 2>"$work/stderr.txt" || status=$?
    if [ "$status" = 124 ]; then
        ended="cut off"
    elif [ "$status" != 0 ]; then
        ended="$(tail -n 1 "$work/stderr.txt" | tr -c '[:print:]' ' ' | cut -c 1-80)"
    fi
    # A server writes its copy's end after its last ACK has gone.
    for _ in $(seq 20); do
        [ "$(stat -c %s "$copy" 2>/dev/null || echo 0)" = 2097152 ] && break
        sleep 0.05
    done
    local whole=no seconds
    cmp -s "$copy" "$work/client/local.bin" && whole=yes
    seconds=$(tail -n 1 "$work/time.txt")
    [ "$status" = 124 ] && seconds=">60"
    printf "%-9s %-4s %4s  %-5s %7s  %s\n" "$server" "$direction" "$seed" "$whole" "$seconds" "$ended"
    [ "$whole" = yes ] && [ "$ended" = ok ] && awk -v s="$seconds" 'BEGIN { exit !(s <= 10) }'
}

echo "== 1 ms each way, 2% lost each way, seeds $first to $last, 2 MiB, blksize 1428, windowsize 16," \
    "commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown) =="
printf "%-9s %-4s %4s  %-5s %7s  %s\n" server dir seed whole "wall s" ended
met=0
missed=0
for server in $servers; do
    for direction in $directions; do
        for seed in $(seq "$first" "$last"); do
            if transfer "$server" "$direction" "$seed"; then met=$((met + 1)); else missed=$((missed + 1)); fi
        done
    done
done
echo "met the goal (whole, within 10 s, no timeout): $met; missed: $missed"
[ "$missed" = 0 ]
