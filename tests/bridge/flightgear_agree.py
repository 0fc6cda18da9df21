#!/usr/bin/env python3
"""Reads the panel's variables from a kovex-server over TCP and the same values from FlightGear's own
property server, and says whether they agree once the bridge's conversions are undone.
Usage: flightgear_agree.py FG_PORT SERVER_PORT   (exit 0 when they agree)"""
import os
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
from serverproc import read_values  # noqa: E402

# The panel's ten variables: flows, oil temperatures, oil pressures, combustion, pause, menu.
REQUESTS = ["2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6", "2386,2,6", "2196,2,6", "2348,2,6",
            "612,2,4", "13157,1,3"]
PROPS = [f"/engines/engine[{e}]/{leaf}" for leaf in ("fuel-flow_pph", "oil-temperature-degf", "oil-pressure-psi",
                                                     "running") for e in (0, 1)] + ["/sim/freeze/master"]


def fg_values(port):
    """One round of gets in data mode: every answer is a bare value on a line of its own."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        s.sendall(b"data\r\n" + b"".join(f"get {p}\r\n".encode() for p in PROPS))
        text = b""
        while text.count(b"\n") < len(PROPS):
            chunk = s.recv(4096)
            if not chunk:
                raise RuntimeError("FlightGear closed its property server's connection")
            text += chunk
    out = []
    for line in text.decode().splitlines()[:len(PROPS)]:
        line = line.strip()
        out.append(1.0 if line == "true" else 0.0 if line in ("false", "") else float(line))
    return out


def panel_units(v):
    """The server's replies in FlightGear's units: pph, degrees F, psi, flags."""
    temp_c = [raw * 2.485284 * 140.0 / 16384.0 for raw in v[2:4]]
    return v[0:2] + [c * 9.0 / 5.0 + 32.0 for c in temp_c] + [raw / 2.0959531 * 55.0 / 16384.0 for raw in v[4:6]] + \
        v[6:9]


# Allowed beyond the spread of FlightGear's own two readings: the server's round may be a frame older.
TOLERANCE = [(1.0, 0.03)] * 2 + [(1.0, 0.0)] * 2 + [(1.0, 0.02)] * 2 + [(0.0, 0.0)] * 3


def agree(fg_port, server_port):
    before = fg_values(fg_port)
    served = panel_units(read_values(server_port, REQUESTS))
    after = fg_values(fg_port)
    # The dials hold oil values just past their scales, so FlightGear's are held the same way.
    for fg in (before, after):
        fg[2:4] = [min(max(f, -31.0), 293.0) for f in fg[2:4]]
        fg[4:6] = [min(max(p, 0.0), 102.0) for p in fg[4:6]]
    bad = []
    for i, prop in enumerate(PROPS):
        low, high = min(before[i], after[i]), max(before[i], after[i])
        absolute, relative = TOLERANCE[i]
        slack = absolute + relative * high
        ok = low - slack <= served[i] <= high + slack
        print(f"  {prop:40} FlightGear {before[i]:10.3f} .. {after[i]:10.3f}   server {served[i]:10.3f}"
              f"{'' if ok else '   DISAGREES'}")
        if not ok:
            bad.append(prop)
    return bad


if __name__ == "__main__":
    fg_port, server_port = int(sys.argv[1]), int(sys.argv[2])
    # Values move: a disagreement is looked at again twice before it counts.
    for attempt in range(3):
        bad = agree(fg_port, server_port)
        if not bad:
            sys.exit(0)
        print(f"  attempt {attempt + 1}: {', '.join(bad)} disagree")
    sys.exit(1)
