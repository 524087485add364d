"""Network lines under Wine against real peers: socat as a raw TCP server,
a second host simulator as the far end of a null-modem line, and small
loopback servers that refuse, never answer, hang up, never read or flood.
Every peer process is stopped by its own id."""
import os
import random
import socket
import subprocess
import threading
import time

from support import DLL, EXE, HostSim, HostTest, fields, windows_path, write_ini

BLOCK = 64 * 1024
LOOPBACK = "127.0.0.1"


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


class SocatServer:
    """`socat TCP-LISTEN` on a loopback port: what it receives comes out of its
    standard output, what is written to its standard input goes to the client."""

    def __init__(self, port):
        self.process = subprocess.Popen(["socat", f"TCP-LISTEN:{port},bind={LOOPBACK},reuseaddr", "STDIO"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.received = bytearray()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        assert wait_until(lambda: listening(port)), "socat does not listen"

    def _read(self):
        while True:
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return
            self.received += chunk

    def send(self, data):
        threading.Thread(target=lambda: (self.process.stdin.write(data), self.process.stdin.flush()),
                         daemon=True).start()

    def wait_for(self, count, timeout=60):
        return wait_until(lambda: len(self.received) >= count, timeout)

    def stop(self):
        self.process.kill()  # by its own id
        self.process.wait()


class LoopbackServer:
    """A listening socket of the test's own on a loopback port."""

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


class NetworkTest(HostTest):
    LINE = False
    PORT_FORMAT = "tcp:127.0.0.1:{port}"

    def setUp(self):
        self.port = free_port()
        self.INI = {"LOCK": "0", "PORT": self.PORT_FORMAT.format(port=self.port)}
        self.peers = []
        super().setUp()

    def tearDown(self):
        super().tearDown()
        for peer in self.peers:
            peer.stop() if hasattr(peer, "stop") else peer.close()

    def lines(self, sim=None):
        return fields((sim or self.sim).command("lines")[0])

    def lines_after_ticks(self, sim=None, ticks=200):
        """The modem lines once the line has had some real time to notice a change."""
        sim = sim or self.sim
        for _ in range(40):
            sim.command(f"ticks {ticks}")
            time.sleep(0.05)
        return self.lines(sim)

    def xfer(self, sim, outgoing, want, timeout=300):
        tag = f"{self.id().rsplit('.', 1)[-1]}-{id(sim)}-{time.monotonic_ns()}"
        out_file, in_file = self.work.path(f"{tag}.out"), self.work.path(f"{tag}.in")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        lines = sim.command(f"xfer file:{windows_path(out_file)} {want} file:{windows_path(in_file)}",
                            timeout=timeout, check=False)
        with open(in_file, "rb") as f:
            received = f.read()
        os.remove(out_file)
        os.remove(in_file)
        return fields(next(line for line in lines if line.startswith("xfer "))), received


class RawTcp(NetworkTest):
    def both_ways(self, count, seed):
        server = SocatServer(self.port)
        self.peers.append(server)
        self.program(count=count)
        rng = random.Random(seed)
        outgoing, incoming = rng.randbytes(BLOCK), rng.randbytes(BLOCK)
        server.send(incoming)
        result, received = self.xfer(self.sim, outgoing, BLOCK)
        self.assertEqual(result["end"], "done", result)
        self.assertTrue(server.wait_for(BLOCK))
        self.assertEqual(bytes(server.received), outgoing, "guest to socat")
        self.assertEqual(received, incoming, "socat to guest")
        # Never faster than the line: 64 KiB at 9 bits each take at least this many 10 us units.
        bits = 9 * 100000 // (9600 if count == 16 else 115200)
        self.assertGreaterEqual(int(result["units"]), BLOCK * bits * 0.99)
        self.assertEqual(self.lines(), {"CS": "on", "CI": "off", "CD": "on", "DSR": "on",
                                        "portb": "80", "status": self.lines()["status"]})

    def test_9600_both_ways_at_once(self):
        self.both_ways(16, 9600)

    def test_115200_both_ways_at_once(self):
        self.both_ways(1, 115200)


class NullModem(NetworkTest):
    PORT_FORMAT = "listen:{port}"

    def test_two_emulators_exchange_blocks_and_a_hang_up_drops_the_lines(self):
        self.program()
        # Before anyone connects the lines are off, so nothing leaves the guest.
        self.assertEqual(self.lines()["CS"], "off")
        other_ini = self.work.path(f"{self.id()}-caller.ini")
        write_ini(other_ini, LOCK="0", PORT=f"tcp:127.0.0.1:{self.port}")
        caller = HostSim(self.work.prefix, EXE, DLL, other_ini, virtual=True, log=self.work.wine_log)
        try:
            caller.command("timer2 16")
            caller.command("mode 4E")
            caller.command("cmd 37")
            for caller_lines in (self.lines_after_ticks(caller), self.lines_after_ticks()):
                self.assertEqual((caller_lines["CS"], caller_lines["CD"], caller_lines["DSR"]), ("on", "on", "on"))

            rng = random.Random(7)
            there, back = rng.randbytes(16384), rng.randbytes(16384)
            results = {}
            worker = threading.Thread(target=lambda: results.update(caller=self.xfer(caller, back, len(there))))
            worker.start()
            results["listener"] = self.xfer(self.sim, there, len(back))
            worker.join()
            self.assertEqual(results["listener"][0]["end"], "done", results["listener"][0])
            self.assertEqual(results["caller"][0]["end"], "done", results["caller"][0])
            self.assertEqual(results["caller"][1], there, "listener to caller")
            self.assertEqual(results["listener"][1], back, "caller to listener")
        finally:
            caller.quit()
        # The caller has gone: the listener's lines drop, and it takes the next caller.
        dropped = self.lines_after_ticks()
        self.assertEqual((dropped["CS"], dropped["CD"], dropped["DSR"]), ("off", "off", "off"))
        with socket.create_connection((LOOPBACK, self.port), timeout=5) as third:
            self.assertEqual(self.lines_after_ticks()["CS"], "on")
            self.sim.command("send hex:414243")
            third.settimeout(5)
            got = b""
            while len(got) < 3:
                got += third.recv(3)
            self.assertEqual(got, b"ABC")
