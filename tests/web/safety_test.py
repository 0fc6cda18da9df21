#!/usr/bin/env python3
"""Hostile browsers against a real kovex-server --web: each gets a status or a close, and the server
keeps serving the page, the value stream and the panels' TCP requests.

usage: safety_test.py KOVEX-SERVER
"""
import json
import os
import socket
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serverproc import Server, read_values  # noqa: E402
from wsclient import Closed, WebSocket  # noqa: E402


def exchange(port, raw, timeout=5):
    """Sends raw bytes and gives the status of the answer, or None when the server only closed."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(raw)
        data = b""
        try:
            while b"\r\n" not in data:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        except ConnectionResetError:
            pass
    return int(data.split(b" ", 2)[1]) if data.startswith(b"HTTP/1.1 ") else None


def get(port, target, method="GET"):
    return exchange(port, f"{method} {target} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())


def still_serving(server):
    assert get(server.web_port, "/") == 200, "the page is no longer served"
    ws = WebSocket("127.0.0.1", server.web_port, "/live")
    assert "engines" in json.loads(ws.receive_text())
    ws.close()
    assert len(read_values(server.port, ["2328,8,2"])) == 1


def main():
    server = Server(sys.argv[1], "--web", "0", "--time-scale", "0", "--start-at", "600")
    port = server.web_port
    try:
        # Only the page and its pictures; nothing of the file system, whatever the spelling.
        assert get(port, "/") == 200 and get(port, "/img/fuel.png") == 200 and get(port, "/img/lcd.png") == 200
        assert get(port, "/", "HEAD") == 200
        assert get(port, "/?layout=engine1") == 200 and get(port, "/manifest.webmanifest") == 200
        for target in ["/../../../../etc/passwd", "/img/../img/fuel.png", "/img/%2e%2e/%2e%2e/etc/passwd",
                       "/img/", "/img", "/index.html", "//etc/passwd", "/img/fuel.txr", "/img/fuel.png?x=1", "/qr?x=1", "/manifest.webmanifest?",
                       "http://x/etc/passwd", "*"]:
            assert get(port, target) == 404, f"{target} is not 404"
        for method in ["POST", "PUT", "DELETE", "OPTIONS"]:
            assert get(port, "/", method) == 405, f"{method} is not 405"
        # Malformed or oversized requests: 400, or a close; never a crash.
        for raw in [b"GARBAGE\r\n\r\n", b"GET / HTTP/9\r\n\r\n", b"\x00\xff\x16\x03\x01\r\n\r\n",
                    b"GET / HTTP/1.1\r\nHost: x\r\nX: " + b"a" * 20000 + b"\r\n\r\n",
                    b"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + b"b" * 1000]:
            assert exchange(port, raw) in (400, None), f"{raw[:30]!r} was served"
        assert get(port, "/nowhere") == 404
        try:
            WebSocket("127.0.0.1", port, "/elsewhere")
            raise AssertionError("a WebSocket away from /live was accepted")
        except Closed as e:
            assert "404" in str(e), e
        still_serving(server)
        print("paths, methods and malformed requests answered with a status")

        # The value stream takes nothing: an oversized frame or any message ends it with a close.
        for payload, code in [(b"x" * 70000, 1009), (b"hello", 1008)]:
            ws = WebSocket("127.0.0.1", port, "/live")
            ws.receive_text()
            try:
                ws.send(payload)
            except (BrokenPipeError, ConnectionResetError):
                pass
            try:
                while True:
                    ws.receive_text()
            except Closed as e:
                assert "connection closed" in str(e) or f"code {code}" in str(e), e
            except ConnectionResetError:
                pass
            ws.close()
        still_serving(server)
        print("oversized frames and messages close the stream")

        # Bounded connections: beyond the limit newcomers are turned away, and places free again.
        held = [socket.create_connection(("127.0.0.1", port)) for _ in range(128)]
        time.sleep(0.5)
        extra = socket.create_connection(("127.0.0.1", port), timeout=5)
        extra.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        try:
            assert extra.recv(100) == b"", "a connection beyond the limit was served"
        except ConnectionResetError:
            pass
        for s in held:
            s.close()
        time.sleep(0.5)
        still_serving(server)
        print("connections beyond the limit are turned away; places free again")

        # A browser that stops reading is dropped, not buffered for.
        slow = WebSocket("127.0.0.1", port, "/live", rcvbuf=4096)
        slow.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        time.sleep(10)
        start = time.monotonic()
        dropped = False
        try:
            while time.monotonic() - start < 5:
                slow.receive()
        except (Closed, ConnectionResetError):
            dropped = True
        except socket.timeout:
            pass
        assert dropped, "a browser that stopped reading kept its stream"
        still_serving(server)
        print("a browser that stops reading is dropped")
        assert server.stop() == 0
        return 0
    finally:
        server.stop()


sys.exit(main())
