#!/usr/bin/env python3
"""MQTT figures of kovex-server against a mosquitto of its own on loopback: how old a value is when a
subscriber receives it, and the server's processor time per second with and without publishing.

usage: mqtt_bench.py KOVEX-SERVER KOVEX-TEST-XPLANE [--seconds S]

The age: the test X-Plane's engine 1 flow changes every 137 ms and carries the tick of its change
(CLOCK_MONOTONIC ms modulo 10000); each new value a subscriber of engine1/fuel_flow_kgph receives is
aged from that tick to its arrival. The source's change reaches the server with X-Plane's 50 ms
subscription period, so the target is that period, plus the server's 20 ms turn, plus 5 ms.
The processor time: the server's threads' time on a processor from /proc while 5 panels each read their ten
variables every 20 ms, with --mqtt (one subscriber of every topic) and without, in alternating slices,
the best of 4 of each: other load on the machine hurts both sides alike.
"""
import os
import re
import socket
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tests", "mqtt"))
from mqttproc import Broker, Server, Subscriber  # noqa: E402

SUBSCRIPTION_MS, TURN_MS = 50.0, 20.0
FRAME = b"".join(r.encode() + b"\0" for r in ["2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6",
                                               "2386,2,6", "2196,2,6", "2348,2,6", "612,2,4", "13157,1,3"])


def cpu_seconds(pid):
    """Every thread's time on a processor, in nanoseconds from the scheduler: /proc/PID/stat counts in
    ticks of 10 ms, too coarse for a few milliseconds a second."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            total += int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
        except OSError:
            pass
    return total / 1e9


def panels(port, count, seconds):
    """count panels, each a frame of ten requests every 20 ms, for seconds."""
    def one():
        with socket.create_connection(("127.0.0.1", port)) as s:
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                s.sendall(FRAME)
                got = 0
                while got < 10:
                    got += s.recv(4096).count(b"\0")
                time.sleep(0.02)
    threads = [threading.Thread(target=one) for _ in range(count)]
    for t in threads:
        t.start()
    return threads


def cpu_per_second(server_path, seconds, *args):
    server = subprocess.Popen([server_path, "--port", "0", "--lifetime", "120", *args], stdout=subprocess.PIPE,
                              text=True)
    port = int(re.match(r"listening on 127\.0\.0\.1:(\d+)", server.stdout.readline()).group(1))
    threading.Thread(target=lambda: server.stdout.read(), daemon=True).start()
    threads = panels(port, 5, seconds + 1.0)
    time.sleep(1.0)  # connections made and the broker's connection up before measuring
    cpu0, start = cpu_seconds(server.pid), time.monotonic()
    for t in threads:
        t.join()
    cpu = (cpu_seconds(server.pid) - cpu0) / (time.monotonic() - start) * 1000.0
    server.terminate()
    server.wait(10)
    return cpu


def main():
    server_path, xplane_path = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[3] == "--seconds" else 10.0
    broker = Broker()
    # It ends when its standard input closes, so it gets a pipe that stays open.
    xplane = subprocess.Popen([xplane_path, "--port", "0", "--clock", "--lifetime", "120", "--start-at", "400"],
                              stdout=subprocess.PIPE, stdin=subprocess.PIPE, text=True)
    try:
        xport = int(re.match(r"listening on 127\.0\.0\.1:(\d+)", xplane.stdout.readline()).group(1))
        threading.Thread(target=lambda: xplane.stdout.read(), daemon=True).start()
        url = f"mqtt://127.0.0.1:{broker.port}"
        sub = Subscriber(broker, "kovexfuel/bench/engine1/fuel_flow_kgph")
        server = Server(server_path, url, "--mqtt-station", "bench", "--xplane", "--sim-address",
                        f"127.0.0.1:{xport}")
        server.wait_line("mqtt: connected to")
        time.sleep(1.0 + seconds)
        server.stop()
        sub.close()
        ages, last = [], None
        first = sub.messages[0][0] if sub.messages else 0
        for arrived, _, _, payload in sub.messages:
            changed = round(float(payload) / 3.6)
            if changed == last or changed == 0 or arrived - first < 1.0:  # the first second settles the link
                last = changed
                continue
            last = changed
            ages.append((int(arrived * 1000.0) % 10000 - changed) % 10000)
        ages.sort()
        idle = cpu_per_second(server_path, seconds / 2)
        sub = Subscriber(broker, "kovexfuel/cpu/#")
        idle, busy = [idle], []
        for turn in range(4):
            busy.append(cpu_per_second(server_path, seconds / 2, "--mqtt", url, "--mqtt-station", "cpu"))
            if turn < 3:
                idle.append(cpu_per_second(server_path, seconds / 2))
        sub.close()
        idle, busy = min(idle), min(busy)
    finally:
        xplane.kill()
        broker.close()
    target = SUBSCRIPTION_MS + TURN_MS + 5.0
    print(f"MQTT, {seconds:.0f} s each, mosquitto on loopback:")
    print(f"{'value age at the subscriber (ms)':44s} p50 {ages[len(ages) // 2]:4d}  p99 "
          f"{ages[len(ages) * 99 // 100]:4d}  max {ages[-1]:4d} over {len(ages)} changes (target <= {target:.0f})")
    print(f"{'server CPU time per second, 5 panels':44s} {idle:6.1f} ms")
    print(f"{'server CPU time per second, 5 panels, MQTT':44s} {busy:6.1f} ms  (target: at most 1.2 times)")
    return 0


sys.exit(main())
