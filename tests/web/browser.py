"""Headless Chromium driven through its debugging protocol, for the page's tests."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

from wsclient import WebSocket, http_get_json


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="kovex-web-test-")
        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + self.profile, "--remote-debugging-port=0", "--window-size=1104,400",
             "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while not os.path.exists(port_file) or not open(port_file).read().strip():
            if time.monotonic() > deadline:
                raise RuntimeError("chromium did not open its debugging port")
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        page = next(t for t in http_get_json(f"http://127.0.0.1:{port}/json/list") if t["type"] == "page")
        path = page["webSocketDebuggerUrl"].split(str(port), 1)[1]
        self.ws = WebSocket("127.0.0.1", port, path, timeout=30)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.receive_text())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"page error in {expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, what, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                if self.eval(expression):
                    return
            except RuntimeError:
                pass  # the page may still be loading
            time.sleep(0.1)
        raise AssertionError(f"timed out waiting until {what}")

    def size(self, width, height, scale, mobile):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=scale,
                  mobile=mobile)
        time.sleep(0.5)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        open(path, "wb").write(base64.b64decode(data))

    def click(self, selector):
        box = self.eval(f"(r => [r.x + r.width / 2, r.y + r.height / 2])"
                        f"(document.querySelector({json.dumps(selector)}).getBoundingClientRect())")
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left", clickCount=1)

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        shutil.rmtree(self.profile, ignore_errors=True)
