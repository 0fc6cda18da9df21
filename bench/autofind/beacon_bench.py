#!/usr/bin/env python3
"""Time from the test X-Plane's first beacon packet to the first reply of kovex-server --auto that
carries X-Plane's value, inside a network namespace of its own (run through tests/bridge/netns.sh).
Usage: beacon_bench.py BIN_DIR [ROUNDS]"""
import os
import socket
import subprocess
import sys
import time

REQUEST = b"2328,8,2\0"  # engine 1's fuel flow
TARGET_S = 1.5


def line_starting(proc, prefix, deadline):
    """The rest of the first output line of proc that starts with prefix, with its arrival time."""
    while time.monotonic() < deadline:
        line = proc.stdout.readline()
        if not line:
            break
        if line.startswith(prefix):
            return line[len(prefix):].strip(), time.monotonic()
    sys.exit(f"no line starting {prefix!r}")


def ask(port):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(REQUEST)
        reply = b""
        while not reply.endswith(b"\0"):
            chunk = s.recv(256)
            if not chunk:
                break
            reply += chunk
    return reply.rstrip(b"\0").decode()


def one_round(bin_dir, beacon_port):
    # Both read standard input only to end when it closes, so it is kept open.
    server = subprocess.Popen([f"{bin_dir}/kovex-server", "--auto", "--port", "0", "--start-at", "200",
                               "--time-scale", "0"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    xplane = None
    try:
        address, _ = line_starting(server, "listening on ", time.monotonic() + 10)
        port = int(address.rsplit(":", 1)[1])
        model = ask(port)
        xplane = subprocess.Popen([f"{bin_dir}/kovex-test-xplane", "--port", str(beacon_port), "--start-at", "400",
                                   "--beacon", "1000", "--beacon-interface", "127.0.0.1", "--lifetime", "60"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        _, first_beacon = line_starting(xplane, "beacon sent", time.monotonic() + 10)
        deadline = first_beacon + 10
        while time.monotonic() < deadline:
            value = ask(port)
            if value != model and float(value) != 0.0:
                took = time.monotonic() - first_beacon
                if ask(port) != value:
                    sys.exit(f"{value} was not X-Plane's steady value")
                return took
        sys.exit("the server never answered with X-Plane's value")
    finally:
        for p in (xplane, server):
            if p:
                p.kill()
                p.wait()


def main():
    if os.environ.get("KOVEX_NETNS") != "1":
        sys.exit("needs a network namespace of its own: " + os.environ.get("KOVEX_NETNS_REFUSED", "run it through tests/bridge/netns.sh"))
    bin_dir = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    times = [one_round(bin_dir, 49010 + i) for i in range(rounds)]
    times.sort()
    print(f"beacon to first X-Plane value in a reply (ms), {rounds} rounds: median {times[len(times) // 2] * 1000:.1f}"
          f" max {times[-1] * 1000:.1f} (target <= {TARGET_S * 1000:.0f})")


main()
