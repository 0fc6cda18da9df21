"""A small WebSocket client over a plain socket, for the tests and the benchmark (no packages needed)."""
import base64
import json
import os
import socket
import struct
import urllib.request


class Closed(Exception):
    pass


class WebSocket:
    def __init__(self, host, port, path, timeout=10.0, rcvbuf=None):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.sock.settimeout(timeout)
        self.sock.connect((host, port))
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        self.buf = b""
        while b"\r\n\r\n" not in self.buf:
            self._more()
        head, self.buf = self.buf.split(b"\r\n\r\n", 1)
        self.status = int(head.split(b" ", 2)[1])
        if self.status != 101:
            raise Closed(f"handshake answered {self.status}")

    def _more(self):
        data = self.sock.recv(65536)
        if not data:
            raise Closed("connection closed")
        self.buf += data

    def _take(self, n):
        while len(self.buf) < n:
            self._more()
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def send(self, payload, opcode=1):
        """Sends one masked frame, as a client must."""
        if isinstance(payload, str):
            payload = payload.encode()
        n = len(payload)
        head = bytes([0x80 | opcode])
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        body = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(head + mask + body)

    def receive(self):
        """Gives (opcode, payload) of the next frame; answers pings."""
        while True:
            b0, b1 = self._take(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._take(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._take(8))[0]
            payload = self._take(n)
            opcode = b0 & 0x0F
            if opcode == 9:
                self.send(payload, 10)
                continue
            return opcode, payload

    def receive_text(self):
        opcode, payload = self.receive()
        if opcode == 8:
            code = struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None
            raise Closed(f"closed by the server with code {code}")
        return payload.decode()

    def close(self):
        self.sock.close()


def http_get_json(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as reply:
        return json.loads(reply.read())
