#!/usr/bin/env python3
"""Web view figures of kovex-server: how old a value is when its WebSocket message arrives, and the
server's processor time per second with browsers connected.

usage: web_bench.py KOVEX-SERVER [--seconds S]

The age is the arrival time minus the message's own sampling time ("t", taken on the same monotonic
clock right after the source was brought up to date); the target is one push period (20 ms) plus 2 ms.
The processor time is the server's user and system time from /proc over the measured span.
"""
import json
import os
import selectors
import struct
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from serverproc import Server  # noqa: E402
from wsclient import WebSocket  # noqa: E402

PUSH_MS = 20.0


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run(server, browsers, seconds):
    """Keeps `browsers` streams read for `seconds`; gives the server's CPU ms per second and the ages."""
    sel = selectors.DefaultSelector()
    clients = []
    for _ in range(browsers):
        ws = WebSocket("127.0.0.1", server.web_port, "/live")
        ws.sock.setblocking(False)
        clients.append(ws)
        sel.register(ws.sock, selectors.EVENT_READ, ws)
    ages = []
    # The first second is read and not measured: connecting leaves messages queued up.
    warm_until, start, cpu0 = time.monotonic() + 1.0, None, None
    while start is None or time.monotonic() - start < seconds:
        if start is None and time.monotonic() >= warm_until:
            ages.clear()
            cpu0, start = cpu_seconds(server.proc.pid), time.monotonic()
        for key, _ in sel.select(0.1):
            ws = key.data
            ws.buf += ws.sock.recv(65536)
            arrived = time.monotonic() * 1000.0
            while len(ws.buf) >= 2:
                n, head = ws.buf[1] & 0x7F, 2
                if n == 126:
                    if len(ws.buf) < 4:
                        break
                    n, head = struct.unpack(">H", ws.buf[2:4])[0], 4
                if len(ws.buf) < head + n:
                    break
                opcode, payload, ws.buf = ws.buf[0] & 0x0F, ws.buf[head:head + n], ws.buf[head + n:]
                if opcode == 9:
                    ws.sock.setblocking(True)
                    ws.send(payload, 10)
                    ws.sock.setblocking(False)
                elif opcode == 1:
                    ages.append(arrived - json.loads(payload)["t"])
    cpu = (cpu_seconds(server.proc.pid) - cpu0) / (time.monotonic() - start) * 1000.0
    for ws in clients:
        ws.close()
    return cpu, sorted(ages)


def main():
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[2] == "--seconds" else 10.0
    server = Server(sys.argv[1], "--web", "0")
    try:
        idle, _ = run(server, 0, seconds)
        busy, ages = run(server, 20, seconds)
    finally:
        server.stop()
    print(f"Web view, {seconds:.0f} s each, flight model at time scale 1, values pushed every {PUSH_MS:.0f} ms:")
    print(f"{'value age at the browser, 20 browsers':44s} p50 {ages[len(ages) // 2]:6.2f} ms  "
          f"p99 {ages[len(ages) * 99 // 100]:6.2f} ms  max {ages[-1]:6.2f} ms  (target: at most {PUSH_MS + 2:.0f} ms)")
    print(f"{'server CPU time per second, no browser':44s} {idle:6.1f} ms")
    print(f"{'server CPU time per second, 20 browsers':44s} {busy:6.1f} ms")
    return 0


sys.exit(main())
