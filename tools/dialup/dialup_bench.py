"""The dial-up ISP's figures (docs/PERFORMANCE.md), measured with the real
client: the virtual machine of guest_vm.py dials 777 through the modem of
the plug-in (the 64-bit build by default) in the host simulator under Wine,
its serial port joined to the simulator's terminal line, as in
tests/integration/test_dialup.py. A benchmark, not a test: it prints tables.

    xvfb-run -a python3 tools/dialup/dialup_bench.py [--build build/win64]
        [--rates 9600,38400,115200] [--seconds 60] [--connections 64]

- Goodput: at each rate a call of its own fetches a file of about `seconds`
  of the line with busybox wget from an HTTP server here (opened by
  HostPorts), timed by the machine's clock; the share is of the line's pace
  as the plug-in keeps it (8N1 as 9 bits a character, rate / 9 bytes a
  second) and, for comparison with a real line and with the pppd-to-pppd
  reference, of rate / 10. *Up*: from chat seeing CONNECT to IPCP up. The
  simulator's longest tick during the download, and how many took over 1 ms.
- The relay's delay, at the last rate, a call with the line monitor on: the
  guest pings the gateway (lwIP answers it inside the plug-in) and sends
  short lines to a TCP echo server here through the relay; the monitor's
  capture stamps each frame when the server takes it from the guest and
  when the modem takes the answer, so the time between them is the
  server's own part of the round trip, without the line's.
- 64 connections, at the last rate: the guest starts that many downloads at
  once; the simulator's longest tick meanwhile, and the resident memory of
  its process before, at most during, and after.
"""
import argparse
import functools
import hashlib
import http.server
import os
import random
import socket
import socketserver
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/host"), os.path.join(ROOT, "tools/virtual-cable")]

from guest_vm import GATEWAY_ADDRESS, GuestVM  # noqa: E402
from virtual_line import VirtualLine  # noqa: E402
from winehost import HostSim, WinePrefix, fields, require  # noqa: E402

COUNTS = {9600: 16, 19200: 8, 38400: 4, 115200: 1}  # Timer2 counts (the settings lock the rate anyway)


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Echo(socketserver.BaseRequestHandler):
    def handle(self):
        while data := self.request.recv(4096):
            self.request.sendall(data)


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


class Bench:
    def __init__(self, build, directory):
        self.build = build
        self.directory = directory
        self.log = os.path.join(directory, "wine.log")
        self.side = VirtualLine(directory, os.path.join(directory, "near2"), name="2")
        self.prefix = WinePrefix(directory, os.path.join(directory, "unused-line"), self.log,
                                 com2=self.side.near).create()
        self.side.start()
        self.www = os.path.join(directory, "www")
        os.makedirs(self.www)
        self.web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=self.www))
        self.echo = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Echo)
        for server in (self.web, self.echo):
            server.daemon_threads = True
            threading.Thread(target=server.serve_forever, daemon=True).start()
        self.guest = GuestVM(directory, name="guest").start()
        self.sim = None

    def close(self):
        self.hang_up()
        self.guest.close()
        for server in (self.web, self.echo):
            server.shutdown()
            server.server_close()
        self.prefix.stop_server()
        self.side.stop()

    def put(self, name, data):
        with open(os.path.join(self.www, name), "wb") as f:
            f.write(data)
        return f"http://{GATEWAY_ADDRESS}:{self.web.server_address[1]}/{name}"

    def call(self, rate, monitor=None):
        """A host simulator with the modem at `rate`, its terminal line joined to the machine, and a PPP link."""
        ini = os.path.join(self.directory, f"call-{rate}.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write(f"[RS-232C]\nPORT=modem\nLOCK=1\nBAUDRATE={rate}\n" + (f"MONITOR={monitor}\n" if monitor else "")
                    + f"[RS-232C Dialup]\nHostPorts={self.web.server_address[1]},{self.echo.server_address[1]}\n")
        self.sim = HostSim(self.prefix, os.path.join(self.build, "hostsim.exe"),
                           os.path.join(self.build, "RS232C.dll"), ini, virtual=False, log=self.log)
        for command in (f"timer2 {COUNTS.get(rate, 16)}", "mode 4E", "cmd 37", "out 35 05"):
            self.sim.command(command)
        self.terminal()
        self.join = self.guest.join(self.side.far)
        return self.guest.dial("777", speed=rate)

    def terminal(self):
        self.sim.process.stdin.write(b"terminal COM2\n")
        self.sim.process.stdin.flush()

    def between(self, command):
        """A simulator command while the call goes on: the terminal line pauses for it."""
        lines = self.sim.command(command)
        self.terminal()
        return lines

    def hang_up(self):
        if self.sim:
            self.guest.run("killall pppd; sleep 1; true")
            self.join.close()
            self.sim.quit()
            self.sim = None

    # ---- the figures ---------------------------------------------------------------------

    def goodput(self, rate, seconds):
        pace = rate / 9
        size = int(min(max(pace * seconds, 64 * 1024), 1024 * 1024))
        payload = random.Random(rate).randbytes(size)
        url = self.put(f"payload-{rate}.bin", payload)
        started_load = load()
        link = self.call(rate)
        self.between("longest clear")
        got = self.guest.fetch(url, timeout=int(size / pace * 3) + 60)
        longest = fields(self.between("longest")[-1])
        self.hang_up()
        intact = got.sha256 == hashlib.sha256(payload).hexdigest()
        rate_bytes = got.size / got.seconds
        return (f"| {rate} | {link.up_at - link.connected_at:.2f} s | {got.size:,} B | {got.seconds:.1f} s |"
                f" {rate_bytes:,.0f} B/s | {rate_bytes / pace:.1%} | {rate_bytes / (rate / 10):.1%} |"
                f" {'yes' if intact else 'NO'} | {int(longest['tick_us']) / 1000:.1f} ms,"
                f" {longest['ticks_over_1ms']} of {longest['ticks']} | {started_load} to {load()} |")

    def relay_delay(self, rate):
        capture = os.path.join(self.directory, "delay.pcapng")
        self.call(rate, monitor=os.path.join(self.directory, "delay.log"))
        pinged = self.guest.text(f"ping -c 20 -i 0.3 -s 16 {GATEWAY_ADDRESS} | tail -1")
        echo_port = self.echo.server_address[1]
        self.guest.run(f"(i=0; while [ $i -lt 20 ]; do echo line$i; sleep 0.3; i=$((i+1)); done; sleep 1)"
                       f" | nc {GATEWAY_ADDRESS} {echo_port} >/dev/null", timeout=60, check=False)
        self.hang_up()
        out = subprocess.run(["tshark", "-r", capture, "-T", "fields", "-E", "separator=|",
                              "-e", "frame.time_epoch", "-e", "frame.p2p_dir", "-e", "icmp.type", "-e", "tcp.len",
                              "-e", "tcp.srcport", "-e", "tcp.dstport"],
                             check=True, capture_output=True, text=True).stdout
        rows = [line.split("|") for line in out.splitlines()]
        icmp, tcp, asked = [], [], None
        for time_, direction, icmp_type, length, source, destination in rows:
            stamp = float(time_)
            if icmp_type == "8" and direction == "0":
                asked = ("icmp", stamp)
            elif icmp_type == "0" and direction == "1" and asked and asked[0] == "icmp":
                icmp.append(stamp - asked[1])
                asked = None
            elif length and int(length) > 0 and direction == "0" and destination == str(echo_port):
                asked = ("tcp", stamp)
            elif length and int(length) > 0 and direction == "1" and source == str(echo_port) and asked \
                    and asked[0] == "tcp":
                tcp.append(stamp - asked[1])
                asked = None
        ms = lambda values: f"{statistics.median(values) * 1000:.1f} ms (longest {max(values) * 1000:.1f})"  # noqa
        return (f"ping from the machine: {pinged.strip()}\n"
                f"server's part, ICMP echo to the gateway ({len(icmp)}): {ms(icmp)}\n"
                f"server's part, TCP echo through the relay ({len(tcp)}): {ms(tcp)}")

    def connections(self, rate, count):
        url = self.put("each.bin", random.Random(64).randbytes(16 * 1024))
        self.call(rate)
        pid = self.sim.process.pid
        before = rss_kib(pid)
        self.between("longest clear")
        peak, sampling = [before], [True]

        def sample():
            while sampling[0]:
                peak.append(rss_kib(pid))
                time.sleep(0.25)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        started = time.monotonic()
        done = self.guest.text(f"i=0; while [ $i -lt {count} ]; do (wget -q -O /tmp/each$i {url} && echo ok) &"
                               " i=$((i+1)); done; wait", timeout=900)
        took = time.monotonic() - started
        sampling[0] = False
        sampler.join()
        longest = fields(self.between("longest")[-1])
        after = rss_kib(pid)
        self.hang_up()
        return (f"{done.split().count('ok')} of {count} downloads of 16 KiB at once, all done in {took:.0f} s;"
                f" longest tick {longest['tick_us']} us ({longest['ticks_over_1ms']} of {longest['ticks']}"
                f" over 1 ms); resident memory {before:,} KiB before, at most {max(peak):,} KiB during,"
                f" {after:,} KiB after")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/win64"))
    parser.add_argument("--rates", default="9600,38400,115200")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--connections", type=int, default=64)
    arguments = parser.parse_args()
    require("qemu-system-x86_64", "socat", "tshark")
    rates = [int(rate) for rate in arguments.rates.split(",")]
    directory = tempfile.mkdtemp(prefix="rs232c-dialup-bench-")
    bench = Bench(os.path.abspath(arguments.build), directory)
    print(f"build {arguments.build}; load average {load()} at the start", flush=True)
    try:
        print("| rate | up | file | download | goodput | of pace (rate/9) | of rate/10 | intact |"
              " longest tick, ticks over 1 ms | load |")
        print("|---|---|---|---|---|---|---|---|---|---|", flush=True)
        for rate in rates:
            print(bench.goodput(rate, arguments.seconds), flush=True)
        print(bench.relay_delay(rates[-1]), flush=True)
        print(bench.connections(rates[-1], arguments.connections), flush=True)
    finally:
        bench.close()
        print(f"load average {load()} at the end")
        subprocess.run(["rm", "-rf", directory])
    return 0


if __name__ == "__main__":
    sys.exit(main())
