"""Starts kovex-server with --web and reads the two addresses from its first lines."""
import re
import subprocess
import time


class Server:
    def __init__(self, path, *args):
        self.proc = subprocess.Popen([path, "--port", "0", *args], stdout=subprocess.PIPE, stdin=subprocess.PIPE,
                                     text=True)
        self.port = self.web_port = None
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.web_port is None:
            line = self.proc.stdout.readline()
            if not line:
                break
            m = re.match(r"listening on 127\.0\.0\.1:(\d+)", line)
            if m:
                self.port = int(m.group(1))
            m = re.match(r"web page at http://127\.0\.0\.1:(\d+)/", line)
            if m:
                self.web_port = int(m.group(1))
        if self.port is None or self.web_port is None:
            self.stop()
            raise RuntimeError("kovex-server did not print its addresses")
        self.url = f"http://127.0.0.1:{self.web_port}/"

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        return self.proc.returncode


def read_values(port, requests):
    """Sends remote variable requests over TCP, as a panel does, and gives the replies as numbers."""
    import socket
    out = []
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        for r in requests:
            s.sendall(r.encode() + b"\0")
            reply = b""
            while not reply.endswith(b"\0"):
                chunk = s.recv(64)
                if not chunk:
                    raise RuntimeError("server closed the panel's connection")
                reply += chunk
            out.append(float(reply[:-1]))
    return out
