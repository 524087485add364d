"""Throughput of the real plug-in under Wine, for each kind of line: the host
simulator's real-time timer, the guest moving data as fast as the USART lets
it, the far end reading and writing as fast as it can.

Line kinds: com (COM1 on a socat pseudo-terminal pair with the virtual
cable), raw (tcp: to a raw TCP peer of this script's own), rfc2217 (telnet: to
ser2net serving a virtual line over RFC 2217), modem (the Hayes modem: at each
rate the guest dials a raw TCP peer of this script's own, transfers once it
has heard CONNECT, then escapes with +++ and hangs up with ATH), and waits
(not a transfer: the longest tick and guest port access while a connect
hangs, against a line with no network work in the same host).

For each rate, each way and both ways at once, a row gives the bytes per
second against the device's pace (one character per tick, 8N1 counted as 9
bits), the timer expiries per second, the real time inside one tick, and per
second of line time the plug-in's share (inside its tick and its port
handlers), the host process's CPU and the wineserver's CPU. A second table
gives, per tick, the comm and socket calls the plug-in made (the host
simulator times its imports) with the mean cost of one, measured in the same
run. For the COM port, a third table gives the per-call floor: one character
time minus the cost of the calls a tick and the guest's interrupt service
make for a character.

--monitor switches the line monitor on (MONITOR in the settings, a log in
the run's folder); the run then reports the log's size and whether it lost
records. --build win64 is the 64-bit twin under 64-bit Wine; --build win32 the product
in the 32-bit host simulator under 32-bit Wine, where the kernel runs i386
code. Where it does not, the 32-bit build runs only with --emulated, through
qemu-i386, and every table says so: its figures describe the emulator.

Run as: xvfb-run -a python3 tools/host/throughput.py [--build win64|win32] [--host emulator|threaded]
            [--kinds com,raw,rfc2217,modem,waits] [--rates 9600,38400,115200] [--ways ...] [--seconds S] [--emulated]
            [--monitor]
"""
import argparse
import os
import shutil
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from hostsim_checks import guest_busy_for  # noqa: E402
from modem_guest import hears, types  # noqa: E402
from network_peers import LOOPBACK, LoopbackServer, Rfc2217Server, TcpFarEnd, free_port  # noqa: E402
from virtual_line import VirtualLine, build_cable  # noqa: E402
from winehost import (QEMU_I386_ENTRY, WINE, WINE32, HostSim, WinePrefix, fields, i386_runs_natively,  # noqa: E402
                      qemu_entry_enabled, require, set_qemu_entry, windows_path)

CLOCK = 2457600
MODE = 0x4E            # x16, 8 data bits, no parity, one stop bit
BITS = 9               # as the device paces 8N1: no start bit
RATES = {9600: 16, 38400: 4, 115200: 1}  # rate: the Timer2 count that gives it (115200 from 153600)
WAYS = ("guest to line", "line to guest", "both ways")
KINDS = {"com": "COM port", "raw": "raw TCP", "rfc2217": "RFC 2217", "modem": "modem", "waits": "waits"}
HEADINGS = {"com": "COM port on the virtual cable", "raw": "raw TCP to a peer of this script's own",
            "rfc2217": "RFC 2217 to ser2net serving a virtual line",
            "modem": "the modem, dialling a raw TCP peer of this script's own", "waits": "nothing waits on the network"}
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")
BUSY_SECONDS = 3  # how long the guest polls on each line of the waits check
MODEM_INIT = "ATE0 &K3"  # no echo; RTS/CTS flow control (the guest keeps RTS on)
GUARD_SECONDS = 1.1      # a little over the modem's default escape guard time (S12=50)
NOT_NATIVE = 3    # exit status: the 32-bit build asked for where it would run only emulated


def process_cpu(pid):
    """User plus system CPU seconds of a process, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        parts = f.read().rsplit(")", 1)[1].split()
    return (int(parts[11]) + int(parts[12])) / TICKS_PER_SECOND


def wineserver_of(prefix):
    """The wineserver serving `prefix` (other runs may have their own)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):  # wineserver64 in Debian
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            pass
    return None


def load():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


class Build:
    """Which plug-in runs, in which host simulator, under which Wine."""

    def __init__(self, name, allow_emulated):
        self.name = name
        self.directory = os.path.join(ROOT, "build", name)
        self.wow64 = name == "win32"
        self.loader = WINE32 if self.wow64 else WINE
        self.emulated = False
        self.entry_was = None
        for program in ("hostsim.exe", "RS232C.dll"):
            if not os.path.exists(os.path.join(self.directory, program)):
                sys.exit(f"{self.directory}/{program} is missing: build it with scripts/build.sh {name}")
        if not self.wow64:
            return
        require(WINE32)
        if os.path.exists(QEMU_I386_ENTRY):
            self.entry_was = qemu_entry_enabled()
            set_qemu_entry(False)  # so that the kernel is asked, not the emulator
        if i386_runs_natively():
            return
        if not allow_emulated:
            self.restore()
            print("This kernel runs no i386 code: the 32-bit product would run only through qemu-i386, whose "
                  "figures describe the emulator, not the plug-in. Measure it on a machine that runs i386 code, "
                  "or pass --emulated for figures labelled as emulated.", file=sys.stderr)
            sys.exit(NOT_NATIVE)
        if self.entry_was is None:
            sys.exit("This kernel runs no i386 code and binfmt_misc has no qemu-i386 entry (scripts/setup.sh).")
        set_qemu_entry(True)
        self.emulated = True

    def restore(self):
        if self.entry_was is not None:
            set_qemu_entry(self.entry_was)

    def label(self):
        if not self.wow64:
            return "build win64 (the 64-bit twin, 64-bit Wine)"
        if self.emulated:
            return "build win32 (the product, 32-bit Wine) EMULATED by qemu-i386: these figures describe the emulator"
        return "build win32 (the product, 32-bit Wine, run natively)"

    def cable(self):
        """The virtual cable for the Wine process."""
        return build_cable("i386" if self.wow64 else None)

    def host(self, prefix, ini, host, line=None, cable=None, log=None):
        return HostSim(prefix, os.path.join(self.directory, "hostsim.exe"), os.path.join(self.directory, "RS232C.dll"),
                       ini, line=line, cable=cable, virtual=False, clock=CLOCK, log=log, loader=self.loader,
                       startup_timeout=600 if self.emulated else 120, host=host)


MONITOR_LOG = "monitor.log"  # beside the settings file, with --monitor


def write_ini(path, port, monitor=False):
    with open(path, "w", newline="\r\n") as f:
        f.write(f"[RS-232C]\nPORT={port}\nLOCK=0\n" + (f"MONITOR={MONITOR_LOG}\n" if monitor else ""))


def monitor_report(directory):
    """The monitor log's size and the records it says it lost."""
    path = os.path.join(directory, MONITOR_LOG)
    lost = 0
    with open(path, encoding="utf-8-sig") as f:
        for line in f:
            if "  --  lost " in line:
                lost += int(line.split("  --  lost ")[1].split()[0])
    return f"monitor log {os.path.getsize(path):,} bytes, {lost} records lost"


class Bench:
    """One host simulator on one line; `far` is the line's far end (read, write, exchange)."""

    def __init__(self, sim, far, directory, server):
        self.sim, self.far, self.directory, self.server = sim, far, directory, server
        self.programmed = False

    def counters(self):
        lines = self.sim.command("cpu")
        cpu = fields(lines[0])
        values = {k: int(v) / 1e6 for k, v in cpu.items() if k.endswith("_us")}
        values["ticks"] = int(cpu["ticks"])
        values["calls"] = []
        for line in lines[1:]:  # cpu <function> count=N us=T
            name, call = line.split()[1], fields(line)
            values["calls"].append(name)
            values[name] = int(call["count"])
            values[name + "_us"] = int(call["us"]) / 1e6
        values["process"] = values["user_us"] + values["kernel_us"]
        values["server"] = process_cpu(self.server) if self.server else 0.0
        return values

    def program(self, rate):
        if self.programmed:
            self.sim.command("cmd 40")  # internal reset: the next byte is a mode byte again
        self.programmed = True
        self.sim.command(f"timer2 {RATES[rate]}")
        self.sim.command(f"mode {MODE:02X}")
        self.sim.command("cmd 37")
        self.sim.command("out 35 05")  # interrupts on RxRDY and TxRDY
        panel = fields(next(line for line in self.sim.command("panel") if line.startswith("fields")))
        assert int(panel["1008"]) == rate, panel

    def run(self, way, count):
        """One transfer of `count` bytes in the direction `way`; returns its figures."""
        outgoing, incoming = os.urandom(count), os.urandom(count)
        out_file, in_file = os.path.join(self.directory, "out.bin"), os.path.join(self.directory, "in.bin")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        far = {}

        def far_end():
            if way == "guest to line":
                far["got"] = self.far.read(count, timeout=10)
            elif way == "line to guest":
                self.far.write(incoming, timeout=120)
            else:
                far["got"] = self.far.exchange(incoming, count, timeout=10)

        command = {"guest to line": f"send file:{windows_path(out_file)}",
                   "line to guest": f"recv {count} file:{windows_path(in_file)}",
                   "both ways": f"xfer file:{windows_path(out_file)} {count} file:{windows_path(in_file)}"}[way]
        before = self.counters()
        worker = threading.Thread(target=far_end)
        worker.start()
        result = fields(self.sim.command(command, timeout=900)[0])
        worker.join()
        after = self.counters()

        intact = result["end"] == "done"
        if way != "line to guest":
            intact = intact and far.get("got") == outgoing
        if way != "guest to line":
            with open(in_file, "rb") as f:
                intact = intact and f.read() == incoming
        # The pace from the first byte on: until it comes, a network line's far
        # end is still starting (the wait is reported on its own).
        first = int(result["first"]) / 1e5
        seconds = int(result["units"]) / 1e5
        delta = {k: after[k] - before[k] for k in after if k != "calls"}
        ticks = max(delta["ticks"], 1)
        calls = {name: (delta[name] / ticks, 1e6 * delta[name + "_us"] / max(delta[name], 1))
                 for name in after["calls"] if delta[name]}
        return {"calls": calls, "per_second": (count - 1) / (seconds - first), "first_ms": 1e3 * first,
                "intact": intact,
                "ticks": delta["ticks"] / seconds, "tick_us": 1e6 * delta["tick_us"] / ticks,
                "plugin": (delta["tick_us"] + delta["guest_us"]) / seconds,
                "process": delta["process"] / seconds, "server": delta["server"] / seconds}

    def end_rate(self):
        """After the last transfer at a rate."""


class ModemBench(Bench):
    """A bench on the modem line. At each rate the guest sends its init
    string and dials a raw TCP peer of this script's own, which is the far
    end of that rate's transfers; after them it escapes and hangs up."""

    def __init__(self, sim, directory, server):
        super().__init__(sim, None, directory, server)

    def program(self, rate):
        super().program(rate)
        self.far = TcpFarEnd()
        self.expect(MODEM_INIT + "\r", b"OK\r\n")
        # The tcp: prefix carries the bytes as they are: random data whose
        # first byte is IAC would otherwise start a Telnet negotiation.
        self.expect(f"ATDT tcp:{LOOPBACK}:{self.far.port}\r", f"CONNECT {rate}\r\n".encode())

    def end_rate(self):
        time.sleep(GUARD_SECONDS)
        self.expect("+++", b"OK\r\n")
        self.expect("ATH\r", b"OK\r\n")
        self.far.stop()
        self.far = None

    def expect(self, text, ending):
        types(self.sim, text)
        heard = hears(self.sim, ending)
        if not heard.endswith(ending):
            raise RuntimeError(f"the modem answered {text.strip()!r} with {heard!r}")


def measure(bench, kind, rates, ways, seconds):
    """Every row of one line kind; prints them as they come. Returns (all intact, rows)."""
    rows, ok = [], True
    for rate in rates:
        bench.program(rate)
        pace = rate / BITS
        count = int(pace * seconds)
        bench.run("both ways", 200)  # warm-up; on a network line the first also waits for the connection
        for way in ways:
            r = bench.run(way, count)
            ok = ok and r["intact"]
            rows.append((rate, way, r))
            print(f"{KINDS[kind]:<9} {rate:>6} {way:<14} {count:>6} {r['first_ms']:>6.1f} {r['per_second']:>7.0f}"
                  f" {pace:>6.0f} {r['per_second'] / pace:>7.1%} {r['ticks']:>7.0f} {r['tick_us']:>7.1f}"
                  f" {r['plugin']:>7.1%} {r['process']:>7.1%} {r['server']:>7.1%}"
                  f"  {'intact' if r['intact'] else 'DAMAGED'}", flush=True)
        bench.end_rate()
    return ok, rows


def print_calls(kind, rows):
    names = [name for name in dict.fromkeys(n for _, _, r in rows for n in r["calls"])]
    print(f"\n{'calls':<9} {'rate':>6} {'way':<14}" + "".join(f" {n:>22}" for n in names) + f" {'µs/tick':>8}")
    for rate, way, r in rows:
        cells = "".join(f" {r['calls'][n][0]:>9.2f} × {r['calls'][n][1]:>6.1f} µs" if n in r["calls"] else f" {'':>22}"
                        for n in names)
        total = sum(per_tick * mean for per_tick, mean in r["calls"].values())
        print(f"{KINDS[kind]:<9} {rate:>6} {way:<14}{cells} {total:>8.1f}")
    print("Per tick: the calls the plug-in made (in its ticks and the guest's port accesses) × the mean real time"
          " of one, measured in the same transfer; µs/tick their sum.")


def print_floor(rows):
    """The per-call floor of the COM port: a character's time minus what its calls cost."""
    slowest = min(rate for rate, _, _ in rows)
    structure = {way: r["calls"] for rate, way, r in rows if rate == slowest}
    print(f"\nPer-call floor: the calls a tick and the guest's interrupt service make for one character, counted at "
          f"{slowest} bit/s (where every tick moves one), each at its mean cost in the row's own run.")
    print(f"{'rate':>6} {'way':<14} {'char µs':>8} {'calls µs':>9} {'floor µs':>9} {'allows':>7} {'measured':>8}"
          f" {'of floor':>8}")
    for rate, way, r in rows:
        character = BITS * 1e6 / rate
        cost = sum(per_tick * r["calls"].get(name, (0, 0))[1] for name, (per_tick, _) in structure[way].items())
        allows = min(1.0, character / cost) if cost else 1.0
        measured = r["per_second"] / (rate / BITS)
        print(f"{rate:>6} {way:<14} {character:>8.1f} {cost:>9.1f} {character - cost:>9.1f} {allows:>7.1%}"
              f" {measured:>8.1%} {measured / allows:>8.1%}")


def nothing_waits(build, host, directory):
    """The longest tick and guest access on a line with no network work, then
    in the same host while a connect hangs: a listener whose queue is full
    leaves every further connection request unanswered."""
    prefix = WinePrefix(directory, os.path.join(directory, "near"), os.path.join(directory, "wine.log"),
                        wow64=build.wow64).create()
    quiet_ini, hanging_ini = os.path.join(directory, "quiet.ini"), os.path.join(directory, "hanging.ini")
    port = free_port()
    write_ini(quiet_ini, f"listen:{free_port()}")
    write_ini(hanging_ini, f"tcp:{LOOPBACK}:{port}")
    server = LoopbackServer(port, backlog=0)
    fillers = []
    for _ in range(3):
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex((LOOPBACK, port))
        fillers.append(filler)
    sim = build.host(prefix, quiet_ini, host, log=os.path.join(directory, "wine.log"))
    try:
        bench = Bench(sim, None, directory, None)
        figures = []
        for name, ini in (("no network work", None), ("connect never answered", hanging_ini)):
            if ini:
                sim.command(f"setpath {windows_path(ini)}")  # the next mode byte opens the line it names
            bench.program(9600)
            sim.command("out 35 00")  # no interrupts: the guest polls the status, once a tick at least
            figures.append((name, guest_busy_for(sim, BUSY_SECONDS)))
        cs = fields(sim.command("lines")[0])["CS"]
    finally:
        sim.quit()
        for filler in fillers:
            filler.close()
        server.close()
        prefix.stop_server()
    print(f"{'line':<24} {'ticks':>9} {'longest tick':>13} {'over 1 ms':>9} {'accesses':>9} {'longest access':>15}"
          f" {'over 1 ms':>9}")
    for name, m in figures:
        print(f"{name:<24} {m['ticks']:>9} {m['tick_us']:>10} µs {m['ticks_over_1ms']:>9} {m['accesses']:>9}"
              f" {m['access_us']:>12} µs {m['accesses_over_1ms']:>9}")
    print(f"(CS while connecting: {cs}; {BUSY_SECONDS} s of a guest polling at 9600 on each line)")
    return cs == "off"


def run_kind(kind, build, host, rates, ways, seconds, directory, monitor=False):
    print(f"\n== {HEADINGS[kind]} · {build.label()} · host {host}{' · monitor on' if monitor else ''}"
          f" · load average {load()}", flush=True)
    if kind == "waits":
        return nothing_waits(build, host, directory)
    near = os.path.join(directory, "near")
    line = VirtualLine(directory, near)
    prefix = WinePrefix(directory, near, os.path.join(directory, "wine.log"), wow64=build.wow64).create()
    line.start()
    peer, server = None, None
    try:
        if kind == "com":
            port, far = "COM1", line
        elif kind == "raw":
            peer = TcpFarEnd()
            port, far = f"tcp:{LOOPBACK}:{peer.port}", peer
        elif kind == "modem":
            port, far = "modem", None  # each rate's call brings its own far end
        else:
            server = Rfc2217Server(directory, free_port(), "ser2net", build_cable())
            port, far = f"telnet:{LOOPBACK}:{server.port}", server.line
        ini = os.path.join(directory, "RS232C.ini")
        write_ini(ini, port, monitor)
        sim = build.host(prefix, ini, host, line=line, cable=build.cable(), log=os.path.join(directory, "wine.log"))
        print(f"{'line':<9} {'rate':>6} {'way':<14} {'bytes':>6} {'1st ms':>6} {'B/s':>7} {'pace':>6} {'of pace':>7}"
              f" {'ticks/s':>7} {'µs/tick':>7} {'plug-in':>7} {'process':>7} {'server':>7}  data", flush=True)
        server_pid = wineserver_of(prefix.path)
        bench = ModemBench(sim, directory, server_pid) if kind == "modem" else Bench(sim, far, directory, server_pid)
        ok, rows = measure(bench, kind, rates, ways, seconds)
        sim.quit()
        if monitor:
            print(monitor_report(directory))
        print_calls(kind, rows)
        if kind == "com":
            print_floor(rows)
        return ok
    finally:
        for stoppable in (server, peer):
            if stoppable:
                stoppable.stop()
        line.stop()
        prefix.stop_server()


def main():
    require()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="win64", choices=("win64", "win32"))
    parser.add_argument("--host", default="emulator", choices=("emulator", "threaded"))
    parser.add_argument("--kinds", default="com,raw,rfc2217,modem,waits")
    parser.add_argument("--rates", default=",".join(map(str, RATES)))
    parser.add_argument("--ways", default=",".join(WAYS))
    parser.add_argument("--seconds", type=float, default=4.0, help="line time of each transfer at the device's pace")
    parser.add_argument("--emulated", action="store_true", help="let the 32-bit build run through qemu-i386")
    parser.add_argument("--monitor", action="store_true", help="with the line monitor on")
    args = parser.parse_args()
    kinds = args.kinds.split(",")
    rates = [int(rate) for rate in args.rates.split(",")]
    ways = args.ways.split(",")
    if not set(kinds) <= set(KINDS) or not set(rates) <= set(RATES) or not set(ways) <= set(WAYS):
        parser.error(f"kinds are {', '.join(KINDS)}; rates {', '.join(map(str, RATES))}; ways {', '.join(WAYS)}")

    build = Build(args.build, args.emulated)
    ok = True
    try:
        for kind in kinds:
            directory = tempfile.mkdtemp(prefix=f"rs232c-throughput-{kind}-")
            try:
                ok = run_kind(kind, build, args.host, rates, ways, args.seconds, directory, args.monitor) and ok
            finally:
                shutil.rmtree(directory, ignore_errors=True)
    finally:
        build.restore()
    print(f"\nload average at the end {load()}")
    print("1st ms: the wait for the first byte to move; B/s: each way, from the first byte on; pace: rate / 9 bits,"
          " one character per tick; ticks/s: timer expiries; µs/tick: real time inside one tick. Then per second"
          " of line time: real time inside the plug-in (its tick and its port handlers), CPU of the host process"
          " and of the wineserver.")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
