#!/usr/bin/env python3
"""The web page in headless Chromium against a real kovex-server.

usage: page_test.py KOVEX-SERVER [--xplane KOVEX-TEST-XPLANE] [--screenshots DIR]

Checks, each catching its own fault:
  - the meters' aria-valuenow equal what a panel's TCP requests read from the same frozen server;
  - a bridged X-Plane's 60 psi and 80 °C read 60 and 80, and values beyond a scale hold the meter at
    its end and say "off scale" (with --xplane);
  - upright windows stack the engines, wide ones put them side by side;
  - fuel used grows at the pushed flow over real time, and clicking a read-out zeroes only that one;
  - a stopped server dims the page with a note, and the page comes back live by itself after a restart.
Exit 77 (skipped) when no chromium is installed.
"""
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser  # noqa: E402
from serverproc import Server, read_values  # noqa: E402

# The panel's ten variables as TCP requests: flows, oil temperatures, oil pressures, combustion, pause, menu.
REQUESTS = ["2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6", "2386,2,6", "2196,2,6", "2348,2,6",
            "612,2,4", "13157,1,3"]


LIVE = "!document.getElementById('panel').classList.contains('stale')"
METERS = "[...document.querySelectorAll('[role=meter]')].map(m => [m.getAttribute('aria-label'), " \
         "Number(m.getAttribute('aria-valuenow'))])"
READOUTS = "[...document.querySelectorAll('.readout')].map(r => r.textContent)"


def expected_meters(port):
    v = read_values(port, REQUESTS)
    out = {}
    for e in range(2):
        out[f"Engine {e + 1} fuel flow"] = v[e] * 0.4536
        out[f"Engine {e + 1} oil temperature"] = v[2 + e] * 2.485284 * 140.0 / 16384.0
        out[f"Engine {e + 1} oil pressure"] = v[4 + e] / 2.0959531 * 55.0 / 16384.0
    return out, v


class TestXPlane:
    """kovex-test-xplane on a free loopback port with its oil values held; it ends when its input closes."""

    def __init__(self, path, oil):
        self.proc = subprocess.Popen([path, "--port", "0", "--lifetime", "120", "--start-at", "400", "--oil", oil],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("listening on 127.0.0.1:"):
            self.stop()
            raise RuntimeError(f"kovex-test-xplane did not start: {line!r}")
        self.address = line.split()[-1]

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(10)


OIL_METERS = "[...document.querySelectorAll('[role=meter]')].filter(m => m.getAttribute('aria-label').includes('oil'))" \
             ".map(m => [m.getAttribute('aria-label'), Number(m.getAttribute('aria-valuenow')), m.getAttribute('aria-valuetext')])"


def check_bridged_oil(browser, server_path, xplane_path):
    """Engine 1 at 60 psi and 80 °C; engine 2 beyond both scales, high pressure and deep cold."""
    xplane = TestXPlane(xplane_path, "60,80,130,-60")
    server = Server(server_path, "--web", "0", "--xplane", "--sim-address", xplane.address)
    try:
        browser.call("Page.navigate", url=server.url)
        browser.wait_for(f"{LIVE} && {OIL_METERS}.some(m => m[1] === 60)", "the bridged oil values arrive")
        want = {"Engine 1 oil pressure": [60, "60 psi"], "Engine 1 oil temperature": [80, "80 °C"],
                "Engine 2 oil pressure": [100, "off scale, above 100 psi"],
                "Engine 2 oil temperature": [-30, "off scale, below -30 °C"]}
        shown = {label: [now, text] for label, now, text in browser.eval(OIL_METERS)}
        assert shown == want, f"oil meters {shown}"
        ranges = browser.eval("[...document.querySelectorAll('[role=meter]')].map(m => "
                              "[Number(m.getAttribute('aria-valuemin')), Number(m.getAttribute('aria-valuenow')), "
                              "Number(m.getAttribute('aria-valuemax'))])")
        assert all(low <= now <= high for low, now, high in ranges), f"a meter outside its range: {ranges}"
        print("bridged oil reads true, and off-scale values hold the meters at their ends:", shown)
    finally:
        server.stop()
        xplane.stop()


def main():
    if shutil.which("chromium") is None:
        print("chromium is not installed: skipped")
        return 77
    server_path = sys.argv[1]
    options = dict(zip(sys.argv[2::2], sys.argv[3::2]))
    shots = options.get("--screenshots")
    server = Server(server_path, "--web", "0", "--time-scale", "0", "--start-at", "600")
    browser = Browser()
    try:
        browser.call("Page.enable")
        browser.call("Page.navigate", url=server.url)
        browser.wait_for(LIVE, "the page shows live values")

        # Same values as a panel reads, in the dials' units, to the one decimal the page gives.
        expected, raw = expected_meters(server.port)
        assert raw[6] == 1 and raw[7] == 1, f"the frozen flight should have both engines burning: {raw}"
        shown = dict(browser.eval(METERS))
        assert set(shown) == set(expected), f"meters {sorted(shown)}"
        for label, value in expected.items():
            assert abs(shown[label] - value) <= 0.051, f"{label}: page {shown[label]}, panel's reading {value}"
            assert value > 0, f"{label} reads {value}: a frozen running flight shows no zero dial"
        print("meters match the TCP reading:", {k: round(v, 1) for k, v in expected.items()})

        # Wide windows: side by side; upright ones: engine 2 below engine 1.
        rect = "(l => document.querySelector(`[aria-label=\"${l}\"]`).getBoundingClientRect().toJSON())"
        a, b = browser.eval(f"[{rect}('Engine 1 fuel flow'), {rect}('Engine 2 fuel flow')]")
        assert abs(a["y"] - b["y"]) < 1 and b["x"] > a["x"] + a["width"] * 0.9, f"wide layout {a} {b}"
        if shots:
            browser.size(1104, 400, 1, False)
            browser.screenshot(os.path.join(shots, "web-panel.png"))
            browser.size(1180, 820, 2, True)
            browser.screenshot(os.path.join(shots, "web-tablet.png"))
        browser.size(390, 844, 3, True)
        a, b = browser.eval(f"[{rect}('Engine 1 fuel flow'), {rect}('Engine 2 fuel flow')]")
        assert b["y"] > a["y"] + a["height"] * 0.9 and b["x"] + b["width"] <= 390, f"upright layout {a} {b}"
        ratio = browser.eval("[document.getElementById('view').width, window.innerWidth]")
        assert ratio[0] == 3 * ratio[1], f"canvas not sized for the pixel ratio: {ratio}"
        if shots:
            browser.screenshot(os.path.join(shots, "web-phone.png"))
        browser.call("Emulation.clearDeviceMetricsOverride")

        # Fuel used: the page's totals grow at the flow over real time; a click zeroes its own.
        browser.eval("fuelUsed[0] = 123.5, fuelUsed[1] = 456.5")
        browser.wait_for(f"JSON.stringify({READOUTS}) === JSON.stringify(['0123', '0456'])", "the read-outs show 0123 0456")
        start = browser.eval("[fuelUsed[1], performance.now()]")
        time.sleep(2)
        end = browser.eval("[fuelUsed[1], performance.now()]")
        grown = (end[0] - start[0]) / ((end[1] - start[1]) / 1000.0)
        rate = expected["Engine 2 fuel flow"] / 3600.0
        assert abs(grown - rate) < rate * 0.15, f"fuel used grew {grown} kg/s at a flow of {rate} kg/s"
        browser.click(".readout")
        browser.wait_for(f"{READOUTS}[0] === '0000'", "a click zeroes engine 1's read-out")
        assert browser.eval(f"{READOUTS}[1]") == "0456", "the click zeroed the other engine's read-out too"
        print("fuel used integrates and a click zeroes its read-out")

        # A server restart: dimmed with a note meanwhile, live again without a reload.
        web_port = server.web_port
        assert server.stop() == 0
        browser.wait_for(f"!({LIVE}) && document.getElementById('note').textContent.includes('No live data')",
                         "the page shows it has no live data")
        assert browser.eval("getComputedStyle(document.getElementById('note')).display") != "none"
        server = Server(server_path, "--web", str(web_port), "--time-scale", "0", "--start-at", "600")
        browser.wait_for(LIVE, "the page is live again after the restart", seconds=15)
        print("the page went dim without the server and came back after its restart")

        if "--xplane" in options:
            check_bridged_oil(browser, server_path, options["--xplane"])
        return 0
    finally:
        browser.close()
        server.stop()


sys.exit(main())
