"""The far ends of network lines on the loopback interface, shared by the
integration tests, the product's tests and the throughput measurements:
a raw TCP peer, a listening socket of the caller's own, and a serial device
served over RFC 2217 (ser2net, or pyserial's server) with a virtual line
behind it. Every peer process is stopped by its own id."""
import os
import select
import socket
import subprocess
import threading
import time

from virtual_line import VirtualLine

LOOPBACK = "127.0.0.1"
PYSERIAL_SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                               "tests/integration/pyserial_rfc2217_server.py")


def free_port():
    with socket.socket() as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def listening(port):
    """True once something listens on the loopback port (read from /proc, so no connection is used up)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                for row in f.readlines()[1:]:
                    local, state = row.split()[1], row.split()[3]
                    if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                        return True
        except OSError:
            pass
    return False


def wait_until(condition, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


class LoopbackServer:
    """A listening socket of the caller's own on a loopback port."""

    def __init__(self, port, backlog=1, receive_buffer=None):
        self.socket = socket.socket()
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if receive_buffer:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.socket.bind((LOOPBACK, port))
        self.socket.listen(backlog)
        self.clients = []

    def accept(self, timeout=30):
        self.socket.settimeout(timeout)
        client, _ = self.socket.accept()
        self.clients.append(client)
        return client

    def close(self):
        for client in self.clients:
            client.close()
        self.socket.close()


class TcpFarEnd:
    """A raw TCP peer on a loopback port that takes one connection, with the
    far-end methods of a VirtualLine (read, write, exchange), as fast as the
    connection lets it."""

    def __init__(self, port=0):
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind((LOOPBACK, port))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.client = None
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        try:
            client, _ = self.server.accept()
        except OSError:
            return  # stopped before anyone called
        client.setblocking(False)
        self.client = client

    def connected(self, timeout):
        return wait_until(lambda: self.client is not None, timeout)

    def read(self, count, timeout=10):
        return self.exchange(b"", count, timeout)

    def write(self, data, timeout=30):
        self.exchange(data, 0, timeout)

    def exchange(self, outgoing, incoming_count, timeout=60):
        if not self.connected(timeout):
            return b""
        view, received, last = memoryview(outgoing), bytearray(), time.monotonic()
        while (view or len(received) < incoming_count) and time.monotonic() - last < timeout:
            readable, writable, _ = select.select([self.client], [self.client] if view else [], [], 0.05)
            if readable:
                chunk = self.client.recv(65536)
                if chunk:
                    received += chunk
                    last = time.monotonic()
            if writable and view:
                try:
                    view = view[self.client.send(view[:4096]):]
                    last = time.monotonic()
                except BlockingIOError:
                    pass
        return bytes(received)

    def hang_up(self):
        if self.client:
            self.client.close()
            self.client = None

    def stop(self):
        self.hang_up()
        self.server.close()


class Rfc2217Server:
    """A serial device served over RFC 2217 on a loopback port: the near side
    of a virtual line of its own (its modem lines from the virtual cable, a
    library for the server's own architecture, preloaded into the server),
    the far side held by the caller as `line`. `kind` is "ser2net" or
    "pyserial"."""

    def __init__(self, directory, port, kind, cable):
        self.port = port
        self.line = VirtualLine(directory, os.path.join(directory, f"rfc2217-near-{port}"),
                                name=f"-rfc2217-{port}").start()
        self.log_path = os.path.join(directory, f"{kind}-{port}.log")
        env = dict(os.environ, LD_PRELOAD=cable, VIRTUAL_CABLE=self.line.cable_path)
        log = open(self.log_path, "wb")
        if kind == "ser2net":
            config = os.path.join(directory, f"ser2net-{port}.yaml")
            with open(config, "w") as f:
                f.write("%YAML 1.1\n---\nconnection: &line\n"
                        f"  accepter: telnet(rfc2217),tcp,{LOOPBACK},{port}\n"
                        f"  connector: serialdev,{self.line.near},9600n81,local\n")
            command = ["/usr/sbin/ser2net", "-n", "-c", config, "-P", os.path.join(directory, f"ser2net-{port}.pid")]
        else:
            command = ["/usr/bin/python3", PYSERIAL_SERVER, self.line.near, str(port)]
        self.process = subprocess.Popen(command, env=env, stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        log.close()
        if not wait_until(lambda: listening(port)):
            self.stop()
            raise RuntimeError(f"{kind} does not listen on port {port}")

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def stop(self):
        self.process.kill()  # by its own id
        self.process.wait()
        self.line.stop()
