"""A mosquitto broker of the test's own, mosquitto_sub as a subscriber, kovex-server publishing to it."""
import atexit
import getpass
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, what, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError(f"timed out after {seconds} s waiting for {what}")


class Broker:
    """mosquitto on 127.0.0.1 with no persistence; with users, a password file made by mosquitto_passwd."""

    def __init__(self, users=None, port=None):
        self.dir = tempfile.mkdtemp(prefix="kovex-mqtt-test-")
        self.users = users
        self.port = port or free_port()
        self.proc = None
        self.start()

    def start(self):
        conf = os.path.join(self.dir, "mosquitto.conf")
        # Run as root, mosquitto would become the user "mosquitto", who cannot read this folder.
        lines = [f"listener {self.port} 127.0.0.1", "persistence false", f"user {getpass.getuser()}"]
        if self.users:
            passwords = os.path.join(self.dir, "passwords")
            open(passwords, "w").close()
            for user, password in self.users.items():
                subprocess.run(["mosquitto_passwd", "-b", passwords, user, password], check=True)
            lines += ["allow_anonymous false", f"password_file {passwords}"]
        else:
            lines.append("allow_anonymous true")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.log = open(os.path.join(self.dir, "broker.log"), "ab")
        self.proc = subprocess.Popen(["mosquitto", "-c", conf], stdout=self.log, stderr=subprocess.STDOUT)
        wait_until(self.accepts, f"the broker on port {self.port}")

    def accepts(self):
        if self.proc.poll() is not None:
            raise AssertionError(f"mosquitto ended with {self.proc.returncode}")
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        self.log.close()

    def close(self):
        self.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


class Subscriber:
    """mosquitto_sub on a topic filter; every message as (arrival time, retained, topic, payload)."""

    def __init__(self, broker, topic, login=()):
        self.messages = []
        self.lock = threading.Lock()
        args = ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-t", topic, "-F", "%r %t %p"]
        if login:
            args += ["-u", login[0], "-P", login[1]]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True, bufsize=1)
        # One left open by a failed check would keep retrying the broker and hold the test's output open.
        atexit.register(self.close)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            retained, topic, payload = line.rstrip("\n").split(" ", 2)
            with self.lock:
                self.messages.append((time.monotonic(), retained == "1", topic, payload))

    def of(self, topic):
        with self.lock:
            return [m for m in self.messages if m[2] == topic]

    def first(self, topic, seconds=20):
        return wait_until(lambda: (self.of(topic) or [None])[0], f"a message on {topic}", seconds)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


class Server:
    """kovex-server on a free port publishing to a broker; its output lines are kept as they come."""

    def __init__(self, path, url, *args):
        self.proc = subprocess.Popen([path, "--port", "0", "--lifetime", "200", "--mqtt", url, *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.PIPE,
                                     text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()
        m = re.match(r"listening on 127\.0\.0\.1:(\d+)", self.wait_line("listening on"))
        self.port = int(m.group(1))

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_line(self, start, seconds=30):
        """The next output line beginning with start; lines before it are kept in seen."""
        deadline = time.monotonic() + seconds
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"no line starting {start!r} within {seconds} s; had {self.seen}")
            self.seen.append(line)
            if line.startswith(start):
                return line

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(10)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        return self.proc.returncode
