#!/usr/bin/env python3
"""The page as a tablet's fixed instrument, against a real kovex-server in a terminal and headless Chromium.

usage: tablet_test.py KOVEX-SERVER [--screenshots DIR]

Checks, each catching its own fault:
  - the QR code drawn in a terminal (half-blocks in UTF-8, coloured spaces otherwise) and the picture
    at /qr both decode with zbarimg to the page's address, printed first and unchanged;
  - the manifest is one Chromium takes without complaint, with its fields, and its icons load at their sizes;
  - each fixed layout shows the right meters: a one-engine layout only that engine's, filling the screen;
  - the first tap takes a screen wake lock where the browser has one, and plays the looping video
    where it has none;
  - the full-screen button puts the page in full screen.
Exit 77 (skipped) when chromium or zbarimg is missing.
"""
import json
import os
import pty
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser  # noqa: E402

SGR = re.compile(r"\x1b\[([0-9;]*)m")


class TerminalServer:
    """kovex-server with its output on a pseudo-terminal, read until its QR code has been drawn."""

    def __init__(self, path, lang):
        master, slave = pty.openpty()
        env = dict(os.environ, LANG=lang, LC_ALL="", LC_CTYPE="")
        self.proc = subprocess.Popen([path, "--port", "0", "--web", "0", "--time-scale", "0", "--start-at", "600",
                                      "--exit-with-parent"], stdin=subprocess.PIPE, stdout=slave, env=env)
        os.close(slave)
        self.master = master
        text = b""
        deadline = time.monotonic() + 15
        # The code ends with the line after the last one drawn with colours.
        while not re.search(rb"\x1b\[0m\r?\n(?!\x1b)[^\n]*\n", text) and time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                try:
                    text += os.read(master, 65536)
                except OSError:
                    break
        self.lines = text.decode("utf-8", "replace").replace("\r", "").split("\n")
        m = re.fullmatch(r"web page at (http://127\.0\.0\.1:\d+/)", self.lines[1] if len(self.lines) > 1 else "")
        if not self.lines[0].startswith("listening on 127.0.0.1:") or not m:
            self.stop()
            raise AssertionError(f"the address lines are not first and unchanged: {self.lines[:2]}")
        self.url = m.group(1)
        self.code = [line for line in self.lines[2:] if "\x1b[" in line]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        os.close(self.master)


def write_png(path, rows):
    """A grey PNG of rows of 0/255 values, each value a 4-pixel square."""
    scale = 4
    body = b"".join(b"\x00" + bytes(v for v in row for _ in range(scale)) for row in rows for _ in range(scale))
    width, height = len(rows[0]) * scale, len(rows) * scale

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    open(path, "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                           + chunk(b"IDAT", zlib.compress(body)) + chunk(b"IEND", b""))


def render_terminal(lines):
    """What a terminal shows, as pixel rows: a character cell is one pixel wide and two high (its upper and
    lower halves), each half lit by the colour a half-block gives it."""
    light = {"97": True, "107": True, "30": False, "40": False}
    rows = []
    for line in lines:
        fg = bg = None
        top, bottom = [], []
        pos = 0
        for m in list(SGR.finditer(line)) + [None]:
            for ch in line[pos:m.start() if m else len(line)]:
                upper = fg if ch in "\u2580\u2588" else bg
                lower = fg if ch in "\u2584\u2588" else bg
                if upper is None or lower is None:
                    raise AssertionError(f"a cell drawn without its colours in {line!r}")
                top.append(255 if upper else 0)
                bottom.append(255 if lower else 0)
            if m:
                for code in m.group(1).split(";"):
                    if code in ("97", "30"):
                        fg = light[code]
                    elif code in ("107", "40"):
                        bg = light[code]
                pos = m.end()
        rows += [top, bottom]
    return rows


def zbar(path):
    out = subprocess.run(["zbarimg", "--quiet", "--raw", path], capture_output=True, text=True, timeout=30)
    return out.stdout.strip()


def get(url):
    with urllib.request.urlopen(url, timeout=10) as r:
        return r.status, r.headers.get("Content-Type"), r.read()


def check_codes(server_path, workdir):
    """Both terminal drawings and /qr decode to the address; the code has its light margin."""
    for lang in ("C.UTF-8", "C"):
        server = TerminalServer(server_path, lang)
        try:
            assert server.code, f"no QR code in a {lang} terminal: {server.lines[:4]}"
            uses_blocks = any("\u2580" in line or "\u2584" in line for line in server.code)
            assert uses_blocks == (lang == "C.UTF-8"), f"{lang} terminal drawn {'with' if uses_blocks else 'without'} half-blocks"
            rows = render_terminal(server.code)
            assert all(v == 255 for v in rows[0] + rows[-1] + [r[0] for r in rows]), "no light quiet zone"
            picture = os.path.join(workdir, f"terminal-{lang}.png")
            write_png(picture, rows)
            assert zbar(picture) == server.url, f"{lang} terminal code reads {zbar(picture)!r}, not {server.url}"
            status, kind, body = get(server.url + "qr")
            assert (status, kind) == (200, "image/png"), f"/qr: {status} {kind}"
            open(os.path.join(workdir, "qr.png"), "wb").write(body)
            assert zbar(os.path.join(workdir, "qr.png")) == server.url, "/qr does not read as the page's address"
        finally:
            server.stop()
    print("the terminal's codes and /qr decode to", server.url)


VISIBLE = "[...document.querySelectorAll('[role=meter], .readout')].filter(m => !m.hidden && " \
          "m.getBoundingClientRect().width > 0).map(m => [m.getAttribute('aria-label'), m.getBoundingClientRect().toJSON()])"


def check_manifest(browser, url):
    manifest = browser.call("Page.getAppManifest")
    assert manifest["url"] == url + "manifest.webmanifest", f"manifest link {manifest['url']}"
    assert not manifest["errors"], f"Chromium finds the manifest wrong: {manifest['errors']}"
    data = json.loads(manifest["data"])
    assert data["name"] and data["short_name"] and data["start_url"] == "/" and data["theme_color"], data
    assert data["display"] in ("fullscreen", "standalone"), data["display"]
    sizes = {}
    for icon in data["icons"]:
        status, kind, body = get(url + icon["src"].lstrip("/"))
        assert (status, kind, icon["type"]) == (200, "image/png", "image/png") and body[:8] == b"\x89PNG\r\n\x1a\n", icon
        width, height = struct.unpack(">II", body[16:24])
        assert icon["sizes"] == f"{width}x{height}", f"{icon['src']} is {width}x{height}, not {icon['sizes']}"
        sizes[width] = height
    assert {192, 512} <= set(sizes), f"icons {sizes}"
    print("the manifest is taken by Chromium and its icons are", sorted(sizes))


def check_layouts(browser, url, shots):
    """A 7-inch 800x480 screen: one engine fills it; wide and upright hold whatever the window's shape."""
    for name, width, height in (("engine1", 800, 480), ("engine2", 480, 800), ("wide", 480, 800),
                                ("upright", 800, 480)):
        browser.size(width, height, 1, False)
        browser.call("Page.navigate", url=f"{url}?layout={name}")
        browser.wait_for(f"{VISIBLE}.length > 0 && !document.getElementById('panel').classList.contains('stale')",
                         f"the {name} layout shows live meters", seconds=30)
        shown = dict(browser.eval(VISIBLE))
        engines = {label.split()[1] for label in shown}
        if name.startswith("engine"):
            assert engines == {name[-1]} and len(shown) == 4, f"{name} shows {sorted(shown)}"
            left = min(r["x"] for r in shown.values())
            right = max(r["x"] + r["width"] for r in shown.values())
            top = min(r["y"] for r in shown.values())
            bottom = max(r["y"] + r["height"] for r in shown.values())
            assert left >= -1 and top >= -1 and right <= width + 1 and bottom <= height + 1, f"{name} spills over"
            assert max((right - left) / width, (bottom - top) / height) > 0.9, \
                f"{name} fills only {right - left}x{bottom - top} of {width}x{height}"
            if shots and name == "engine1":
                browser.screenshot(os.path.join(shots, "web-engine1.png"))
        else:
            a, b = shown["Engine 1 fuel flow"], shown["Engine 2 fuel flow"]
            side_by_side = abs(a["y"] - b["y"]) < 1 and b["x"] > a["x"] + a["width"] * 0.9
            stacked = b["y"] > a["y"] + a["height"] * 0.9
            assert len(shown) == 8 and (side_by_side if name == "wide" else stacked), f"{name}: {a} {b}"
    browser.call("Emulation.clearDeviceMetricsOverride")
    print("each layout shows its meters; one engine fills a 7-inch screen")


def tap(browser, x, y):
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)


def check_awake_and_fullscreen(browser, url):
    browser.call("Browser.setPermission", permission={"name": "screen-wake-lock"}, setting="granted", origin=url[:-1])
    browser.call("Page.navigate", url=url)
    browser.wait_for("typeof awake === 'object' && document.readyState === 'complete'", "the page loads", seconds=30)
    assert browser.eval("awake.how === 'wake-lock' && awake.lock === null"), "a wake lock taken before any tap"
    tap(browser, 5, 300)
    browser.wait_for("awake.lock && !awake.lock.released && awake.how === 'wake-lock'", "the first tap takes a wake lock")

    assert browser.eval("!document.getElementById('fullscreen').hidden"), "no full-screen button where Chromium has full screen"
    browser.click("#fullscreen")
    browser.wait_for("document.fullscreenElement === document.documentElement && "
                     "document.getElementById('fullscreen').textContent === 'Leave full screen'",
                     "the button puts the page in full screen")
    print("the first tap takes a wake lock; the button enters full screen")

    # Without the API (plain http on the LAN): the video is armed, and the first tap plays it.
    browser.call("Page.addScriptToEvaluateOnNewDocument", source="delete Navigator.prototype.wakeLock;")
    browser.call("Page.navigate", url=url)
    browser.wait_for("typeof awake === 'object' && document.readyState === 'complete'", "the page loads again", seconds=30)
    assert browser.eval("awake.how === 'video' && awake.video !== null && awake.video.paused && "
                        "awake.video.muted && awake.video.loop"), "the video is not armed where the wake lock is missing"
    tap(browser, 5, 300)
    browser.wait_for("!awake.video.paused && awake.video.currentTime > 0", "the first tap plays the looping video")
    print("without a wake lock the muted looping video plays from the first tap")


def main():
    if shutil.which("chromium") is None or shutil.which("zbarimg") is None:
        print("chromium or zbarimg is not installed: skipped")
        return 77
    server_path = sys.argv[1]
    options = dict(zip(sys.argv[2::2], sys.argv[3::2]))
    workdir = tempfile.mkdtemp(prefix="kovex-tablet-test-")
    browser = None
    server = None
    try:
        check_codes(server_path, workdir)
        server = TerminalServer(server_path, "C.UTF-8")
        browser = Browser()
        browser.call("Page.enable")
        browser.call("Page.navigate", url=server.url)
        browser.wait_for("document.readyState === 'complete'", "the page loads", seconds=30)
        check_manifest(browser, server.url)
        check_layouts(browser, server.url, options.get("--screenshots"))
        check_awake_and_fullscreen(browser, server.url)
        return 0
    finally:
        if browser:
            browser.close()
        if server:
            server.stop()
        shutil.rmtree(workdir, ignore_errors=True)


sys.exit(main())
