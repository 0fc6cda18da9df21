#!/usr/bin/env python3
"""50 browsers' value streams beside 200 panels' TCP requests on one real kovex-server.

usage: soak_test.py KOVEX-SERVER [SECONDS]

Catches web clients that slow the panels down: no batch of a panel's ten requests may wait longer than
100 ms for its replies (the bound of the server soak without browsers), every reply is right, and every
browser gets at least 30 messages a second. p50, p99 and the maximum are printed.
"""
import os
import selectors
import socket
import struct
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serverproc import Server, read_values  # noqa: E402
from wsclient import WebSocket  # noqa: E402

PANELS = 200
BROWSERS = 50
MAX_BATCH_MS = 100.0
REQUESTS = ["2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6", "2386,2,6", "2196,2,6", "2348,2,6",
            "612,2,4", "13157,1,3"]


def main():
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 15.0
    server = Server(sys.argv[1], "--web", "0", "--time-scale", "0", "--start-at", "600", "--max-clients", "1000")
    try:
        expected = read_values(server.port, REQUESTS)
        batch = b"".join(r.encode() + b"\0" for r in REQUESTS)
        sel = selectors.DefaultSelector()
        panels, browsers = [], []
        for _ in range(BROWSERS):
            ws = WebSocket("127.0.0.1", server.web_port, "/live")
            ws.sock.setblocking(False)
            b = {"ws": ws, "messages": 0, "buf": ws.buf}
            browsers.append(b)
            sel.register(ws.sock, selectors.EVENT_READ, ("browser", b))
        for _ in range(PANELS):
            s = socket.create_connection(("127.0.0.1", server.port))
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.setblocking(False)
            p = {"sock": s, "buf": b"", "sent": 0.0}
            panels.append(p)
            sel.register(s, selectors.EVENT_READ, ("panel", p))
        waits = []
        wrong = 0
        start = time.monotonic()
        for p in panels:
            p["sent"] = time.monotonic()
            p["sock"].sendall(batch)
        while time.monotonic() - start < seconds:
            for key, _ in sel.select(0.1):
                kind, c = key.data
                if kind == "panel":
                    data = c["sock"].recv(65536)
                    assert data, "the server closed a panel"
                    c["buf"] += data
                    if c["buf"].count(b"\0") < len(REQUESTS):
                        continue
                    waits.append((time.monotonic() - c["sent"]) * 1000.0)
                    replies = c["buf"].split(b"\0")[:len(REQUESTS)]
                    assert c["buf"].count(b"\0") == len(REQUESTS), "more replies than requests"
                    wrong += sum(float(r) != e for r, e in zip(replies, expected))
                    c["buf"] = b""
                    c["sent"] = time.monotonic()
                    c["sock"].sendall(batch)
                else:
                    data = c["ws"].sock.recv(65536)
                    assert data, "the server closed a browser"
                    c["buf"] += data
                    while len(c["buf"]) >= 2:
                        n, head = c["buf"][1] & 0x7F, 2
                        if n == 126:
                            if len(c["buf"]) < 4:
                                break
                            n, head = struct.unpack(">H", c["buf"][2:4])[0], 4
                        if len(c["buf"]) < head + n:
                            break
                        opcode = c["buf"][0] & 0x0F
                        if opcode == 9:
                            c["ws"].sock.setblocking(True)
                            c["ws"].send(c["buf"][head:head + n], 10)
                            c["ws"].sock.setblocking(False)
                        elif opcode == 1:
                            c["messages"] += 1
                        c["buf"] = c["buf"][head + n:]
        elapsed = time.monotonic() - start
        waits.sort()
        rates = sorted(b["messages"] / elapsed for b in browsers)
        print(f"{len(waits)} panel batches ({len(waits) * len(REQUESTS)} requests) beside {BROWSERS} browsers: "
              f"p50 {waits[len(waits) // 2]:.2f} ms, p99 {waits[len(waits) * 99 // 100]:.2f} ms, "
              f"max {waits[-1]:.2f} ms; browser messages per second: min {rates[0]:.1f}, max {rates[-1]:.1f}")
        assert wrong == 0, f"{wrong} wrong replies"
        assert waits[-1] <= MAX_BATCH_MS, f"a panel waited {waits[-1]:.1f} ms"
        assert rates[0] >= 30, f"a browser got only {rates[0]:.1f} messages a second"
        return 0
    finally:
        server.stop()


sys.exit(main())
