#!/usr/bin/env python3
"""MQTT soak: 200 subscribers on the broker beside 50 TCP panels, all against one kovex-server --mqtt
whose flight moves fast, so values change (and are published) many times a second.

What it asserts:
  - every panel gets exactly its ten replies to each frame of ten requests, and no request waits longer
    than 100 ms for its reply (the bound of the server soak; this test runs alone, RUN_SERIAL);
  - the load was there: the run ends only once each panel has had its 400 frames and each subscriber
    at least 200 of the server's messages (about 150 a second each, relayed by the broker).
The subscribers live in a child process (this file with --subscribers), so that their work does not
share this process's interpreter with the panels whose round trips are timed.

usage: mqtt_soak_test.py KOVEX-SERVER
"""
import os
import selectors
import shutil
import socket
import struct
import subprocess
import sys
import time

sys.dont_write_bytecode = True
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "mqtt"))
from mqttproc import Broker, Server  # noqa: E402

PANELS = 50
SUBSCRIBERS = 200
FRAMES_EACH = 400  # a panel's frames, one every 20 ms: 8 s of load at the least
MESSAGES_EACH = 200  # each subscriber's messages before the run may end
FRAME_MS = 20.0
MAX_ROUND_TRIP_MS = 100.0
BUDGET_S = 180.0
STATION = "soak"
# The panel's frame: its ten variables.
FRAME = b"".join(r.encode() + b"\0" for r in ["2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6",
                                               "2386,2,6", "2196,2,6", "2348,2,6", "612,2,4", "13157,1,3"])


def mqtt_string(text):
    data = text.encode()
    return struct.pack("!H", len(data)) + data


def mqtt_packet(kind, body):
    """A packet with its remaining length in MQTT's 7-bit groups."""
    length, size = b"", len(body)
    while True:
        byte, size = size % 128, size // 128
        length += bytes([byte | (0x80 if size else 0)])
        if not size:
            return bytes([kind]) + length + body


def next_packet(buffer):
    """(type, length of the whole packet) of the first whole packet in buffer, or None."""
    length, shift, i = 0, 0, 1
    while True:
        if i >= len(buffer):
            return None
        length += (buffer[i] & 0x7F) << shift
        shift += 7
        i += 1
        if not buffer[i - 1] & 0x80:
            break
    if len(buffer) < i + length:
        return None
    return buffer[0] >> 4, i + length


def run_subscribers(port, count, topic):
    """count MQTT 3.1.1 connections on one selector, each subscribed to topic; prints, every 200 ms, the
    fewest PUBLISH packets any of them got and the total, until its standard input closes."""
    sel = selectors.DefaultSelector()
    got, buffers = [0] * count, [b""] * count
    for n in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        # Clean session, no keep-alive: the broker never expects a ping during the run.
        s.sendall(mqtt_packet(0x10, mqtt_string("MQTT") + bytes([4, 0x02]) + struct.pack("!H", 0)
                              + mqtt_string(f"kovex-soak-{os.getpid()}-{n}")))
        s.sendall(mqtt_packet(0x82, struct.pack("!H", 1) + mqtt_string(topic) + b"\0"))
        s.setblocking(False)
        sel.register(s, selectors.EVENT_READ, n)
    sel.register(sys.stdin, selectors.EVENT_READ, None)
    last = 0.0
    while True:
        for key, _ in sel.select(0.2):
            if key.data is None:
                return
            data = key.fileobj.recv(65536)
            if not data:
                raise SystemExit(f"subscriber {key.data} was closed by the broker")
            n = key.data
            buffers[n] += data
            while (packet := next_packet(buffers[n])) is not None:
                kind, size = packet
                got[n] += kind == 3
                buffers[n] = buffers[n][size:]
        if time.monotonic() - last >= 0.2:
            last = time.monotonic()
            print(min(got), sum(got), flush=True)


class Panel:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.socket.setblocking(False)
        self.frames = 0
        self.waiting = 0  # replies of the frame in flight still to come
        self.sent_at = 0.0
        self.due = 0.0  # when the next frame goes


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--subscribers":
        run_subscribers(int(sys.argv[2]), SUBSCRIBERS, sys.argv[3])
        return 0
    if not shutil.which("mosquitto"):
        print("mosquitto is not installed: skipped")
        return 77
    broker = Broker()
    server = Server(sys.argv[1], f"mqtt://127.0.0.1:{broker.port}", "--mqtt-station", STATION,
                    "--time-scale", "50", "--start-at", "60")
    subscribers = subprocess.Popen([sys.executable, __file__, "--subscribers", str(broker.port),
                                    f"kovexfuel/{STATION}/#"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        server.wait_line("mqtt: connected to")
        sel = selectors.DefaultSelector()
        panels = [Panel(server.port) for _ in range(PANELS)]
        for p in panels:
            sel.register(p.socket, selectors.EVENT_READ, p)
        sel.register(subscribers.stdout, selectors.EVENT_READ, None)
        report, fewest, delivered = b"", 0, 0
        round_trips = []
        start = time.monotonic()
        while min(p.frames for p in panels) < FRAMES_EACH or fewest < MESSAGES_EACH:
            now = time.monotonic()
            assert now - start < BUDGET_S, (f"not done within {BUDGET_S:.0f} s: fewest frames "
                                            f"{min(p.frames for p in panels)}, fewest messages {fewest}")
            for p in panels:
                if not p.waiting and now >= p.due:
                    p.socket.sendall(FRAME)  # 89 bytes into an empty socket buffer: never blocks
                    p.waiting, p.sent_at, p.due = 10, now, now + FRAME_MS / 1000.0
            wait = max(0.0, min(p.due for p in panels if not p.waiting) - now) if any(
                not p.waiting for p in panels) else 0.05
            for key, _ in sel.select(min(wait, 0.05)):
                if key.data is None:
                    chunk = os.read(subscribers.stdout.fileno(), 65536)
                    assert chunk, f"the subscribers ended with {subscribers.wait(10)}"
                    report += chunk
                    lines = report.split(b"\n")
                    report = lines.pop()
                    if lines:
                        fewest, delivered = map(int, lines[-1].split())
                    continue
                p = key.data
                data = p.socket.recv(4096)
                assert data, "a panel was closed by the server"
                replies = data.count(b"\0")
                assert replies <= p.waiting, "a panel got a reply it did not ask for"
                arrived = time.monotonic()
                round_trips += [(arrived - p.sent_at) * 1000.0] * replies
                p.waiting -= replies
                if not p.waiting:
                    p.frames += 1
        seconds = time.monotonic() - start
    finally:
        subscribers.stdin.close()
        subscribers.wait(10)
        running = server.proc.poll() is None
        server.stop()
        broker.close()
    assert running, f"the server ended during the load: {server.seen}"
    round_trips.sort()
    frames = sum(p.frames for p in panels)
    print(f"mqtt soak: {frames} frames from {PANELS} panels and {delivered} messages to {SUBSCRIBERS} subscribers "
          f"(each at least {fewest}) in {seconds:.1f} s")
    print(f"mqtt soak: round trip of a request (its frame of 10 sent together) p50 "
          f"{round_trips[len(round_trips) // 2]:.2f} ms, p99 {round_trips[len(round_trips) * 99 // 100]:.2f} ms, "
          f"max {round_trips[-1]:.2f} ms (bound {MAX_ROUND_TRIP_MS:.0f} ms)")
    assert round_trips[-1] <= MAX_ROUND_TRIP_MS, "a panel waited too long for a reply"
    return 0


sys.exit(main())
