#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A slow link for benchmarks: a UDP relay between TFTP clients and a server
on loopback that holds every datagram DELAY_MS each way before passing it on,
in order, plus a seeded jitter of up to JITTER_MS, and drops each datagram
with the chance LOSS_PERCENT in each direction, independently (seeded too: one
random sequence per direction, so that the drops on one way do not depend on
the traffic on the other). Prints its port, then runs until killed.

    delay_relay.py SERVER_PORT DELAY_MS [JITTER_MS [SEED [LOSS_PERCENT]]]
"""
import heapq
import random
import selectors
import socket
import sys
import time


def main():
    server_port = int(sys.argv[1])
    delay = float(sys.argv[2]) / 1000.0
    jitter = float(sys.argv[3]) / 1000.0 if len(sys.argv) > 3 else 0.0
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    loss = float(sys.argv[5]) / 100.0 if len(sys.argv) > 5 else 0.0
    rng = random.Random(seed)
    drops = [random.Random(seed * 2 + 1), random.Random(seed * 2 + 2)]  # per way

    def open_socket():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        s.setblocking(False)
        return s

    client_side = open_socket()
    print(client_side.getsockname()[1], flush=True)

    # Each client address gets a socket of its own towards the server, as
    # behind a NAT: what the server still sends for a transfer that ended
    # (a lost last ACK, a client cut off) goes back to that transfer's client,
    # never into the next one.
    listen = ("127.0.0.1", server_port)
    sessions = {}  # client address -> [socket towards the server, server's transfer port]
    held = []  # (release, sequence, socket, address, bytes)
    sequence = 0
    last_release = [0.0, 0.0]  # per way: jitter never reorders

    selector = selectors.DefaultSelector()
    selector.register(client_side, selectors.EVENT_READ, None)
    while True:
        now = time.monotonic()
        while held and held[0][0] <= now:
            _, _, sock, address, data = heapq.heappop(held)
            try:
                sock.sendto(data, address)
            except OSError:
                pass  # a client gone: lost, as on a network
        timeout = max(0.0, held[0][0] - now) if held else None
        for key, _ in selector.select(timeout):
            client = key.data  # None: the client side
            way = 0 if client is None else 1
            while True:
                try:
                    data, sender = key.fileobj.recvfrom(70000)
                except BlockingIOError:
                    break
                except OSError:
                    continue  # an earlier datagram's ICMP error
                if loss > 0.0 and drops[way].random() < loss:
                    continue  # lost on the way
                if way == 0:
                    session = sessions.get(sender)
                    if session is None:
                        session = [open_socket(), listen]
                        sessions[sender] = session
                        selector.register(session[0], selectors.EVENT_READ, sender)
                    opcode = data[1] if len(data) > 1 else 0
                    if opcode in (1, 2):
                        session[1] = listen
                    target = (session[0], listen if opcode in (1, 2) else session[1])
                else:
                    sessions[client][1] = sender
                    target = (client_side, client)
                release = max(time.monotonic() + delay + rng.uniform(0.0, jitter), last_release[way])
                last_release[way] = release
                sequence += 1
                heapq.heappush(held, (release, sequence, target[0], target[1], data))

if __name__ == "__main__":
    main()
