"""The demonstration: the real plug-in, loaded by the host simulator under
Wine, talks over a virtual serial line at a rate the emulated machine
programs, in real time, both ways.

Run as: xvfb-run -a python3 tools/host/demo.py [--product] [BUILD_DIR]

With --product, the product itself: build/win32's 32-bit plug-in in the
32-bit host simulator under 32-bit Wine, where the kernel runs 32-bit
programs itself (emulated, the real-time timer stalls for seconds at a time).
"""
import os
import shutil
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from virtual_line import build_cable  # noqa: E402
from winehost import (WINE, WINE32, HostSim, fields, i386_runs_natively, prefix_on_a_line, require,  # noqa: E402
                      windows_path)

CLOCK = 2457600       # Hz, the emulated machine's system clock
TIMER2_COUNT = 16     # interval-timer channel 2
MODE = 0x4E           # x16 baud factor, 8 data bits, no parity, one stop bit
BITS_PER_CHARACTER = 9  # as the plug-in paces 8N1: data and stop bits
GUEST_GREETING = b"Hello from the emulated PC, over a real serial port.\r\n"
FAR_GREETING = b"Hello, emulated PC. This is the far end of the line.\r\n"
BLOCK = 2000


def say(text=""):
    print(text, flush=True)


def pace(count, rate):
    return count * BITS_PER_CHARACTER / rate


def main(build, product=False):
    require()
    if product:
        require(WINE32)
        if not i386_runs_natively():
            say("32-bit programs run only emulated here (the kernel runs none itself, or the qemu-i386 entry is"
                " enabled), where the real-time timer stalls for seconds at a time; scripts/test.d/45-product32.sh"
                " checks the product there in virtual time.")
            return 1
    directory = tempfile.mkdtemp(prefix="rs232c-demo-")
    line = None
    try:
        say("Preparing Wine (a fresh prefix, COM1 mapped to a virtual serial line) ...")
        line, prefix = prefix_on_a_line(directory)
        ini = os.path.join(directory, "RS232C.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write("[RS-232C]\nPORT=COM1\nLOCK=0\n")  # the guest chooses the rate

        sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                      line=line, cable=build_cable("i386" if product else None), virtual=False, clock=CLOCK,
                      log=os.path.join(directory, "wine.log"), loader=WINE32 if product else WINE)
        say(f"Loaded {os.path.relpath(os.path.join(build, 'RS232C.dll'), ROOT)}"
            f" ({sim.startup[0].split('version=')[1].split(' length=')[0]}) in the host simulator, real-time timer.")

        sim.command(f"timer2 {TIMER2_COUNT}")
        sim.command(f"mode {MODE:02X}")
        sim.command("cmd 37")      # transmitter and receiver on, DTR and RTS on, errors cleared
        sim.command("out 35 05")   # interrupts on TxRDY and RxRDY: the guest sleeps until line 4
        panel = fields(next(l for l in sim.command("panel") if l.startswith("fields")))
        rate = int(panel["1008"])
        dcb = fields([c for c in sim.command("comm") if c.startswith("comm dcb")][-1])
        speed, stop_bits = line.near_termios()
        say(f"Rate: {CLOCK} Hz / (Timer2 {TIMER2_COUNT} x factor 16) = {panel['1007']} bit/s computed,"
            f" {rate} bit/s chosen; the port is set to {dcb['baud']} bit/s, {dcb['size']} data bits,"
            f" {'no' if dcb['parity'] == '0' else 'with'} parity; Linux sees {speed} bit/s, {stop_bits} stop bit.")

        received = {}
        reader = threading.Thread(target=lambda: received.update(data=line.read(len(GUEST_GREETING), 10)))
        reader.start()
        sent = fields(sim.command("send hex:" + GUEST_GREETING.hex())[0])
        reader.join()
        ok = received["data"] == GUEST_GREETING
        say(f"Guest -> far end: {len(GUEST_GREETING)} bytes in {int(sent['units']) / 1e5:.3f} s"
            f" (the line's pace: {pace(len(GUEST_GREETING), rate):.3f} s), {'arrived intact' if ok else 'DAMAGED'}:"
            f" {received['data'].decode('ascii', 'replace').strip()!r}")

        line.write(FAR_GREETING)
        lines = sim.command(f"recv {len(FAR_GREETING)}")
        got = bytes.fromhex(fields(lines[1])["hex"])
        ok = ok and got == FAR_GREETING
        say(f"Far end -> guest: {len(FAR_GREETING)} bytes in {int(fields(lines[0])['units']) / 1e5:.3f} s"
            f" (the line's pace: {pace(len(FAR_GREETING), rate):.3f} s), {'arrived intact' if got == FAR_GREETING else 'DAMAGED'}:"
            f" {got.decode('ascii', 'replace').strip()!r}")

        outgoing, incoming = os.urandom(BLOCK), os.urandom(BLOCK)
        out_file, in_file = os.path.join(directory, "out.bin"), os.path.join(directory, "in.bin")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        far = {}
        worker = threading.Thread(target=lambda: far.update(data=line.exchange(incoming, BLOCK, timeout=20)))
        worker.start()
        started = time.monotonic()
        result = fields(sim.command(f"xfer file:{windows_path(out_file)} {BLOCK} file:{windows_path(in_file)}",
                                    timeout=120)[0])
        worker.join()
        with open(in_file, "rb") as f:
            both = far.get("data") == outgoing and f.read() == incoming
        ok = ok and both
        say(f"Both ways at once: {BLOCK} random bytes each way in {int(result['units']) / 1e5:.2f} s"
            f" (the line's pace: {pace(BLOCK, rate):.2f} s; {time.monotonic() - started:.2f} s by the wall clock),"
            f" {'byte for byte' if both else 'DAMAGED'}.")

        guest = fields(sim.command("lines")[0])
        near = line.near_lines()
        say(f"Modem lines: the guest sees CS {guest['CS']}, CD {guest['CD']}, DSR {guest['DSR']}, CI {guest['CI']};"
            f" the far end sees DTR {'on' if near['dtr'] else 'off'}, RTS {'on' if near['rts'] else 'off'}.")
        irq = fields(sim.command("irq")[0])
        say(f"Interrupt line {irq['line']} was raised {irq['count']} times.")

        sim.command("poweroff")
        closed = line.near_closed()
        sim.quit()
        say(f"Power-off: the port is {'closed' if closed else 'STILL OPEN'}.")
        line.stop()
        prefix.stop_server()
        say("Demonstration " + ("succeeded." if ok and closed else "FAILED."))
        return 0 if ok and closed else 1
    finally:
        if line:
            line.stop()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    product = "--product" in arguments
    arguments = [a for a in arguments if a != "--product"]
    default = os.path.join(ROOT, "build/win32" if product else "build/win64")
    sys.exit(main(os.path.abspath(arguments[0] if arguments else default), product))
