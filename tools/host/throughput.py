"""Throughput of the real plug-in under Wine: the host simulator's real-time
timer, a pseudo-terminal pair for the line, the guest moving data as fast as
the USART lets it (woken by the TxRDY and RxRDY interrupts). For each rate it
measures the bytes per second each way (guest to line, line to guest, both at
once) against the device's own pace (one character per period: 8N1 counts 9
bits), and the CPU the host process spends per second of line time: all of it,
the part inside the plug-in's tick, and the part inside the plug-in's port
handlers as the guest calls them; the wineserver's CPU beside it.

Run as: xvfb-run -a python3 tools/host/throughput.py [BUILD_DIR] [--seconds S]
"""
import argparse
import os
import shutil
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from virtual_line import build_cable  # noqa: E402
from winehost import HostSim, fields, prefix_on_a_line, require, windows_path  # noqa: E402

CLOCK = 2457600
MODE = 0x4E            # x16, 8 data bits, no parity, one stop bit
BITS = 9               # as the device paces 8N1: no start bit
RATES = {9600: 16, 38400: 4, 115200: 1}  # rate: the Timer2 count that gives it (115200 from 153600)
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")
COMM_CALLS = ("ClearCommError", "ReadFile", "WriteFile", "GetCommModemStatus")


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


class Bench:
    def __init__(self, sim, line, directory, server):
        self.sim, self.line, self.directory, self.server = sim, line, directory, server
        self.programmed = False

    def counters(self):
        lines = self.sim.command("cpu")
        cpu = fields(lines[0])
        values = {k: int(v) / 1e6 for k, v in cpu.items() if k.endswith("_us")}
        values["ticks"] = int(cpu["ticks"])
        for line in lines[1:]:  # cpu <comm function> count=N us=T
            call = fields(line)
            values[line.split()[1]] = int(call["count"])
            values[line.split()[1] + "_us"] = int(call["us"]) / 1e6
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
        panel = fields(next(l for l in self.sim.command("panel") if l.startswith("fields")))
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
                far["got"] = self.line.read(count, timeout=10)
            elif way == "line to guest":
                self.line.write(incoming, timeout=120)
            else:
                far["got"] = self.line.exchange(incoming, count, timeout=10)

        command = {"guest to line": f"send file:{windows_path(out_file)}",
                   "line to guest": f"recv {count} file:{windows_path(in_file)}",
                   "both ways": f"xfer file:{windows_path(out_file)} {count} file:{windows_path(in_file)}"}[way]
        before = self.counters()
        worker = threading.Thread(target=far_end)
        worker.start()
        result = fields(self.sim.command(command, timeout=600)[0])
        worker.join()
        after = self.counters()

        intact = result["end"] == "done"
        if way != "line to guest":
            intact = intact and far.get("got") == outgoing
        if way != "guest to line":
            with open(in_file, "rb") as f:
                intact = intact and f.read() == incoming
        seconds = int(result["units"]) / 1e5
        delta = {k: after[k] - before[k] for k in after}
        calls = {name: (delta[name] / seconds, 1e6 * delta[name + "_us"] / max(delta[name], 1))
                 for name in COMM_CALLS}
        return {"calls": calls, "bytes": count, "seconds": seconds, "per_second": count / seconds, "intact": intact,
                "ticks": delta["ticks"] / seconds,
                "tick_us": 1e6 * delta["tick_us"] / max(delta["ticks"], 1),
                "process": delta["process"] / seconds,
                "tick": delta["tick_us"] / seconds,
                "guest": delta["guest_us"] / seconds,
                "server": delta["server"] / seconds}


def main():
    require()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build/win64"))
    parser.add_argument("--seconds", type=float, default=4.0, help="line time of each transfer at the device's pace")
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    directory = tempfile.mkdtemp(prefix="rs232c-throughput-")
    line = None
    try:
        line, prefix = prefix_on_a_line(directory)
        ini = os.path.join(directory, "RS232C.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write("[RS-232C]\nPORT=COM1\nLOCK=0\n")
        sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                      line=line, cable=build_cable(), virtual=False, clock=CLOCK,
                      log=os.path.join(directory, "wine.log"))
        bench = Bench(sim, line, directory, wineserver_of(prefix.path))

        print(f"{'rate':>6} {'way':<14} {'bytes':>6} {'B/s':>6} {'pace':>6} {'of pace':>7} {'ticks/s':>7}"
              f" {'µs/tick':>7} {'process':>7} {'in tick':>7} {'in port':>7} {'server':>7}  data", flush=True)
        bench.program(9600)
        bench.sim.command("wait 1000")
        idle = bench.counters()
        bench.sim.command("wait 2000")
        quiet = {k: (v - idle[k]) / 2 for k, v in bench.counters().items()}
        print(f"{'9600':>6} {'line quiet':<14} {'':>6} {'':>6} {'':>6} {'':>7} {quiet['ticks']:>7.0f}"
              f" {1e6 * quiet['tick_us'] / max(quiet['ticks'], 1):>7.1f} {quiet['process']:>7.1%}"
              f" {quiet['tick_us']:>7.1%} {quiet['guest_us']:>7.1%} {quiet['server']:>7.1%}", flush=True)
        ok = True
        results = []
        for rate in RATES:
            bench.program(rate)
            pace = rate / BITS
            count = int(pace * args.seconds)
            bench.run("both ways", 200)  # warm-up
            for way in ("guest to line", "line to guest", "both ways"):
                r = bench.run(way, count)
                ok = ok and r["intact"]
                results.append((rate, way, r))
                print(f"{rate:>6} {way:<14} {count:>6} {r['per_second']:>6.0f} {pace:>6.0f}"
                      f" {r['per_second'] / pace:>7.1%} {r['ticks']:>7.0f} {r['tick_us']:>7.1f} {r['process']:>7.1%}"
                      f" {r['tick']:>7.1%} {r['guest']:>7.1%} {r['server']:>7.1%}"
                      f"  {'intact' if r['intact'] else 'DAMAGED'}", flush=True)
        print("B/s: each way; pace: rate / 9 bits, one character per tick; ticks/s: timer expiries;"
              " µs/tick: real time inside one tick. Then seconds per second of line time: CPU of the host"
              " process in all, real time inside the plug-in's tick and inside its port handlers (the guest's"
              " accesses), CPU of the wineserver.")
        print()
        print(f"{'rate':>6} {'way':<14}" + "".join(f" {name:>22}" for name in COMM_CALLS))
        for rate, way, r in results:
            print(f"{rate:>6} {way:<14}" + "".join(f" {r['calls'][name][0]:>9.0f}/s {r['calls'][name][1]:>6.1f} µs"
                                                   for name in COMM_CALLS))
        print("Comm calls the plug-in made (in its ticks and in the guest's status reads): calls per second of"
              " line time, and the mean real time of one call.")
        sim.quit()
        line.stop()
        prefix.stop_server()
        return 0 if ok else 1
    finally:
        if line:
            line.stop()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
