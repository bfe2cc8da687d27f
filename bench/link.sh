#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Gets and Puts of a 2 MiB file across a slow link (bench/delay_relay.py holds
# each datagram 1 ms, then 10 ms, each way: round trips of about 2 and 20 ms),
# through Tarnwick's real window (offscreen):
#   - with blksize 1468 and windowsize 16 against atftpd, beside atftp with the
#     same options;
#   - with blksize 1468 against tftpd-hpa (which has no windows), beside
#     curl --tftp-blksize 1468;
#   - plain lock-step against tftpd-hpa, at the 2 ms round trip only.
# Medians of RUNS (default 3) after a warm-up; each copy is checked.
#
# With "lossy", only this instead: 1 ms each way with 2% of the datagrams lost
# in each direction (seeded), blksize 1428 and windowsize 16 against atftpd,
# Tarnwick beside atftp, Gets and Puts, and both on the same link without
# loss. A client may take long to recover from loss: each run is capped at
# 120 s; a capped or failed run is reported as such, and the median counts it
# as the slowest.
#
#   bench/link.sh [RUNS [lossy]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
runs="${1:-3}"
mode="${2:-}"

ensure_packages "${BUILD_PACKAGES[@]}" tftpd-hpa curl atftp time python3
cmake --preset release >/dev/null
cmake --build --preset release --target tarnwick_bench >/dev/null
tools/fetch_atftpd.sh build/atftpd >/dev/null
bench="$PWD/build/bench/tarnwick_bench"

work="$(mktemp -d /tmp/tarnwick-link-XXXXXX)"
pids=()
cleanup() {
    # The relays start in command substitutions: their ids are in a file.
    for pid in "${pids[@]}" $(cat "$work/relay.pids" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/hpa" "$work/atftpd" "$work/client"
head -c 2097152 /dev/urandom >"$work/hpa/big.bin"
cp "$work/hpa/big.bin" "$work/atftpd/big.bin"
cp "$work/hpa/big.bin" "$work/client/local.bin"
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

hpa_port=$(free_port)
/usr/sbin/in.tftpd -L -a "127.0.0.1:$hpa_port" -s "$work/hpa" -c -p -u root &
pids+=($!)
atftpd_port=$(free_port)
build/atftpd/usr/sbin/atftpd --daemon --no-fork --port "$atftpd_port" --bind-address 127.0.0.1 --user root \
    --group root --logfile /dev/null "$work/atftpd" &
pids+=($!)
sleep 0.3

relay() { # $1 server port, $2 delay ms, $3 loss percent (default none): prints the relay's port
    exec 4< <(python3 bench/delay_relay.py "$1" "$2" 0 1 "${3:-0}" & echo $! >"$work/relay.pid"; wait)
    cat "$work/relay.pid" >>"$work/relay.pids"
    local port
    read -r port <&4
    echo "$port"
}

# One transfer, at most 120 s; prints its wall time, or ">120" when it was
# cut off (and fails). $1 client, $2 get|put, $3 relay port, $4 server root
transfer() {
    local client=$1 direction=$2 port=$3 root=$4 out="$work/client/got.bin" up="up-$1.bin"
    rm -f "$out" "$root/$up"
    local cmd
    case "$client/$direction" in
    tarnwick*/get | tarnwick*/put)
        local options=()
        case "$client" in
        tarnwick-window) options=(--options 1468:16) ;;
        tarnwick-blksize) options=(--options 1468:1) ;;
        tarnwick-1428) options=(--options 1428:16) ;;
        esac
        if [ "$direction" = get ]; then
            cmd=(env TARNWICK_BENCH_PHASES="$work/phases-$client.txt" sh -c "cd '$work/client' && mv -f local.bin .keep && '$bench' ${options[*]} get 127.0.0.1:$port big.bin; s=\$?; mv big.bin got.bin 2>/dev/null; mv .keep local.bin; exit \$s")
        else
            cmd=(env TARNWICK_BENCH_PHASES="$work/phases-$client.txt" "$bench" "${options[@]}" put "127.0.0.1:$port" "$work/client/local.bin" "$up")
        fi
        ;;
    atftp/get) cmd=(atftp --option "blksize 1468" --option "windowsize 16" -g -r big.bin -l "$out" 127.0.0.1 "$port") ;;
    atftp/put) cmd=(atftp --option "blksize 1468" --option "windowsize 16" -p -l "$work/client/local.bin" -r "$up" 127.0.0.1 "$port") ;;
    atftp-1428/get) cmd=(atftp --option "blksize 1428" --option "windowsize 16" -g -r big.bin -l "$out" 127.0.0.1 "$port") ;;
    atftp-1428/put) cmd=(atftp --option "blksize 1428" --option "windowsize 16" -p -l "$work/client/local.bin" -r "$up" 127.0.0.1 "$port") ;;
    curl/get) cmd=(curl -s --tftp-blksize 1468 -o "$out" "tftp://127.0.0.1:$port/big.bin") ;;
    curl/put) cmd=(curl -s --tftp-blksize 1468 -T "$work/client/local.bin" "tftp://127.0.0.1:$port/$up") ;;
    esac
    local status=0
    /usr/bin/time -f "%e" -o "$work/time.txt" timeout 120 "${cmd[@]}" >/dev/null 2>"$work/stderr.txt" || status=$?
    if [ "$status" = 124 ]; then
        echo "CAPPED at 120 s: $client $direction" >&2
        # A Get cut off never put the client's own file back.
        [ -f "$work/client/.keep" ] && mv -f "$work/client/.keep" "$work/client/local.bin"
        rm -f "$work/client/big.bin"
        echo ">120"
        return 1
    fi
    [ "$status" = 0 ] || {
        echo "FAILED: $client $direction after $(tail -n 1 "$work/time.txt") s: $(tail -n 1 "$work/stderr.txt" | cut -c 1-200)" >&2
        return 1
    }
    local copy="$out"
    [ "$direction" = put ] && copy="$root/$up"
    for _ in $(seq 50); do
        [ "$(stat -c %s "$copy" 2>/dev/null || echo 0)" = 2097152 ] && break
        sleep 0.05
    done
    cmp -s "$copy" "$work/hpa/big.bin" || { echo "DIFFERS: $client $direction" >&2; return 1; }
    cat "$work/time.txt"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

measure() { # $1 client, $2 direction, $3 relay port, $4 root
    transfer "$@" >/dev/null
    for _ in $(seq "$runs"); do transfer "$@"; done | median
}

# The lossy case: the warm-up on the link without loss, then RUNS runs; prints
# each run's time, ">120" (cut off) or "failed@SECONDS". $1 client, $2
# direction, $3 relay port.
lossy_runs() {
    transfer "$1" "$2" "$clean_relay" "$work/atftpd" >/dev/null || true
    local _ t
    for _ in $(seq "$runs"); do
        t=$(transfer "$1" "$2" "$3" "$work/atftpd") || t=${t:-failed@$(tail -n 1 "$work/time.txt")}
        printf "%s " "$t"
    done
}

# The median of the runs given, one cut off or failed counting as the slowest
# (a failure slower still); ">120" or "failed" when the median is one of them.
lossy_median() {
    printf "%s\n" "$@" | sed -e 's/^>120$/1000000/' -e 's/^failed.*/2000000/' | median |
        awk '{ if ($1 >= 2000000) print "failed"; else if ($1 > 120) print ">120"; else print $1 }'
}

if [ "$mode" = lossy ]; then
    echo
    echo "== each way 1 ms, 2% lost each way (seeded), 2 MiB, blksize 1428, windowsize 16, atftpd:" \
        "median of $runs runs, commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown) =="
    lossy_relay=$(relay "$atftpd_port" 1 2)
    clean_relay=$(relay "$atftpd_port" 1)
    printf "%-18s %-8s %-4s %9s   %s\n" client link dir "wall s" "runs"
    for direction in get put; do
        declare -A t=()
        for client in tarnwick-1428 atftp-1428; do
            for link in lossy clean; do
                relay_port=$lossy_relay
                [ "$link" = clean ] && relay_port=$clean_relay
                read -r -a r <<<"$(lossy_runs "$client" "$direction" "$relay_port")"
                t[$client/$link]=$(lossy_median "${r[@]}")
                label="tarnwick 1428/16"
                [ "$client" = atftp-1428 ] && label="atftp 1428/16"
                name="2% loss"
                [ "$link" = clean ] && name="no loss"
                printf "%-18s %-8s %-4s %9s   %s" "$label" "$name" "$direction" "${t[$client/$link]}" "${r[*]}"
                if [ "$client" = atftp-1428 ]; then
                    printf "   atftp/tarnwick %s" "$(awk -v a="${t[$client/$link]}" -v b="${t[tarnwick-1428/$link]}" \
                        'BEGIN { if (a ~ /^[0-9.]+$/ && b ~ /^[0-9.]+$/) printf "%.2f", a / b; else printf "-" }')"
                fi
                echo
            done
        done
    done
    exit 0
fi

for delay in 1 10; do
    echo
    echo "== each way ${delay} ms (round trip about $((2 * delay)) ms): median of $runs runs, 2 MiB =="
    hpa_relay=$(relay "$hpa_port" "$delay")
    atftpd_relay=$(relay "$atftpd_port" "$delay")
    printf "%-18s %-10s %-4s %9s\n" client server dir "wall s"
    for direction in get put; do
        declare -A t=()
        rm -f "$work/phases-tarnwick-window.txt"
        t[tw]=$(measure tarnwick-window "$direction" "$atftpd_relay" "$work/atftpd")
        # From the click to the end, in seconds (the warm-up's line left out).
        t[twc]=$(tail -n +2 "$work/phases-tarnwick-window.txt" | awk '{ printf "%.3f\n", $5 / 1000 }' | median)
        t[atftp]=$(measure atftp "$direction" "$atftpd_relay" "$work/atftpd")
        t[tb]=$(measure tarnwick-blksize "$direction" "$hpa_relay" "$work/hpa")
        t[curl]=$(measure curl "$direction" "$hpa_relay" "$work/hpa")
        printf "%-18s %-10s %-4s %9s\n" "tarnwick 1468/16" atftpd "$direction" "${t[tw]}"
        printf "%-18s %-10s %-4s %9s\n" "  from the click" atftpd "$direction" "${t[twc]}"
        printf "%-18s %-10s %-4s %9s   atftp/tarnwick %.2f, from the click %.2f\n" "atftp 1468/16" atftpd \
            "$direction" "${t[atftp]}" "$(awk -v a="${t[atftp]}" -v b="${t[tw]}" 'BEGIN { print a / b }')" \
            "$(awk -v a="${t[atftp]}" -v b="${t[twc]}" 'BEGIN { print a / b }')"
        printf "%-18s %-10s %-4s %9s\n" "tarnwick 1468" tftpd-hpa "$direction" "${t[tb]}"
        printf "%-18s %-10s %-4s %9s   curl/tarnwick %.2f\n" "curl 1468" tftpd-hpa "$direction" "${t[curl]}" \
            "$(awk -v a="${t[curl]}" -v b="${t[tb]}" 'BEGIN { print a / b }')"
        if [ "$delay" = 1 ]; then
            t[plain]=$(measure tarnwick "$direction" "$hpa_relay" "$work/hpa")
            printf "%-18s %-10s %-4s %9s   plain/windowed %.1f\n" "tarnwick plain" tftpd-hpa "$direction" "${t[plain]}" \
                "$(awk -v a="${t[plain]}" -v b="${t[tw]}" 'BEGIN { print a / b }')"
        fi
    done
done
