"""Throughput of the real plug-in under Wine over network lines: the host
simulator's real-time timer, the guest moving data as fast as the USART lets
it, and at the far end either a raw TCP peer of this script's own (PORT
tcp:) or ser2net serving a virtual serial line over RFC 2217 (PORT telnet:).
The same figures as tools/host/throughput.py: bytes per second each way
against the device's pace, and the CPU per second of line time.

Run as: xvfb-run -a python3 tools/host/network_throughput.py [BUILD_DIR] [--seconds S] [--kinds raw,rfc2217]
"""
import argparse
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from throughput import BITS, CLOCK, RATES, Bench, wineserver_of  # noqa: E402
from virtual_line import build_cable  # noqa: E402
from winehost import HostSim, prefix_on_a_line, require  # noqa: E402

LOOPBACK = "127.0.0.1"


class TcpFarEnd:
    """A raw TCP peer on a loopback port, with the far-end methods the bench uses."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind((LOOPBACK, 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.client = None
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        client, _ = self.server.accept()
        client.setblocking(False)
        self.client = client

    def _connected(self, timeout):
        deadline = time.monotonic() + timeout
        while self.client is None and time.monotonic() < deadline:
            time.sleep(0.01)
        return self.client is not None

    def read(self, count, timeout=10):
        return self.exchange(b"", count, timeout)

    def write(self, data, timeout=30):
        self.exchange(data, 0, timeout)

    def exchange(self, outgoing, incoming_count, timeout=60):
        if not self._connected(timeout):
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

    def stop(self):
        if self.client:
            self.client.close()
        self.server.close()


def ser2net_on(line, directory, cable):
    """ser2net serving the near side of `line` over RFC 2217; returns (process, port)."""
    with socket.socket() as s:
        s.bind((LOOPBACK, 0))
        port = s.getsockname()[1]
    config = os.path.join(directory, "ser2net.yaml")
    with open(config, "w") as f:
        f.write(f"%YAML 1.1\n---\nconnection: &line\n  accepter: telnet(rfc2217),tcp,{LOOPBACK},{port}\n"
                f"  connector: serialdev,{line.near},9600n81,local\n")
    env = dict(os.environ, LD_PRELOAD=cable, VIRTUAL_CABLE=line.cable_path)
    log = open(os.path.join(directory, "ser2net.log"), "wb")
    process = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-c", config, "-P", os.path.join(directory, "ser2net.pid")],
                               env=env, stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    log.close()
    time.sleep(1)
    return process, port


def measure(kind, build, seconds, directory):
    line, prefix = prefix_on_a_line(directory)
    cable = build_cable()
    far, server = None, None
    try:
        if kind == "raw":
            far = TcpFarEnd()
            port_name = f"tcp:{LOOPBACK}:{far.port}"
        else:
            server, port = ser2net_on(line, directory, cable)
            far = line
            port_name = f"telnet:{LOOPBACK}:{port}"
        ini = os.path.join(directory, "RS232C.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write(f"[RS-232C]\nPORT={port_name}\nLOCK=0\n")
        sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                      virtual=False, clock=CLOCK, log=os.path.join(directory, "wine.log"))
        bench = Bench(sim, far, directory, wineserver_of(prefix.path))
        ok = True
        for rate in RATES:
            bench.program(rate)
            pace = rate / BITS
            count = int(pace * seconds)
            bench.run("both ways", 200)  # warm-up; the first also waits for the connection
            for way in ("guest to line", "line to guest", "both ways"):
                r = bench.run(way, count)
                ok = ok and r["intact"]
                print(f"{kind:<8} {rate:>6} {way:<14} {count:>6} {r['per_second']:>6.0f} {pace:>6.0f}"
                      f" {r['per_second'] / pace:>7.1%} {r['ticks']:>7.0f} {r['tick_us']:>7.1f} {r['process']:>7.1%}"
                      f" {r['tick']:>7.1%} {r['guest']:>7.1%} {r['server']:>7.1%}"
                      f"  {'intact' if r['intact'] else 'DAMAGED'}", flush=True)
        sim.quit()
        return ok
    finally:
        if server:
            server.kill()  # by its own id
            server.wait()
        if kind == "raw" and far:
            far.stop()
        line.stop()
        prefix.stop_server()


def main():
    require()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build/win64"))
    parser.add_argument("--seconds", type=float, default=4.0, help="line time of each transfer at the device's pace")
    parser.add_argument("--kinds", default="raw,rfc2217")
    args = parser.parse_args()
    print(f"{'line':<8} {'rate':>6} {'way':<14} {'bytes':>6} {'B/s':>6} {'pace':>6} {'of pace':>7} {'ticks/s':>7}"
          f" {'µs/tick':>7} {'process':>7} {'in tick':>7} {'in port':>7} {'server':>7}  data", flush=True)
    ok = True
    for kind in args.kinds.split(","):
        directory = tempfile.mkdtemp(prefix=f"rs232c-network-throughput-{kind}-")
        try:
            ok = measure(kind, os.path.abspath(args.build), args.seconds, directory) and ok
        finally:
            shutil.rmtree(directory, ignore_errors=True)
    print("B/s: each way; pace: rate / 9 bits; then seconds per second of line time: CPU of the host process,"
          " real time inside the plug-in's tick and its port handlers, CPU of the wineserver.")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
