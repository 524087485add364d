"""The dial-up demonstration: a small virtual machine (tools/dialup), whose
serial port is the emulated PC's, dials the plug-in's built-in ISP, 777,
through the modem line of the 64-bit plug-in in the host simulator under
Wine, brings PPP up with pppd, fetches a file from an HTTP server on this
computer, resolves a name and hangs up. It prints the session as a
transcript: the modem's side from the plug-in's line monitor ("modem>"),
the machine's side as its programs report it ("guest>").

Run as: xvfb-run -a python3 tools/host/dialup_demo.py [BUILD_DIR]
"""
import functools
import hashlib
import http.server
import os
import random
import re
import shutil
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable"), os.path.join(ROOT, "tools/dialup")]

from guest_vm import GATEWAY_ADDRESS, GuestVM  # noqa: E402
from virtual_line import VirtualLine  # noqa: E402
from winehost import HostSim, WinePrefix, require  # noqa: E402

RATE = 115200
PAYLOAD = random.Random(777).randbytes(128 * 1024)
EVENT = re.compile(r"^ *(\d+\.\d{6})  --  modem (command|result): (.*)$")


def say(text=""):
    print(text, flush=True)


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def modem_events(log):
    """The modem's commands and results from the monitor's log, with their times."""
    with open(log, encoding="utf-8-sig") as f:
        return [(float(m[1]), m[2], m[3]) for m in map(EVENT.match, f) if m]


def name_to_resolve():
    """A name this computer's resolver knows, and its IPv4 addresses."""
    for name in ("deb.debian.org", "localhost"):
        try:
            return name, sorted({info[4][0] for info in socket.getaddrinfo(name, None, socket.AF_INET)})
        except OSError:
            continue
    return "localhost", []


def main(build):
    require("qemu-system-x86_64", "socat")
    directory = tempfile.mkdtemp(prefix="rs232c-dialup-demo-")
    web = sim = prefix = side = None
    try:
        say("Preparing Wine (a fresh prefix, COM2 on a pseudo-terminal), the dial-up guest's virtual machine")
        say("and an HTTP server on 127.0.0.1 ...")
        log = os.path.join(directory, "wine.log")
        side = VirtualLine(directory, os.path.join(directory, "near2"), name="2")
        prefix = WinePrefix(directory, os.path.join(directory, "unused-line"), log, com2=side.near).create()
        side.start()
        www = os.path.join(directory, "www")
        os.makedirs(www)
        with open(os.path.join(www, "file.bin"), "wb") as f:
            f.write(PAYLOAD)
        web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=www))
        threading.Thread(target=web.serve_forever, daemon=True).start()
        port = web.server_address[1]
        ini = os.path.join(directory, "RS232C.ini")
        monitor = os.path.join(directory, "line.log")
        with open(ini, "w", newline="\r\n") as f:
            f.write(f"[RS-232C]\nPORT=modem\nLOCK=1\nBAUDRATE={RATE}\nMONITOR={monitor}\n"
                    f"[RS-232C Dialup]\nHostPorts={port}\n")
        say(f"Settings: PORT=modem at {RATE} bit/s; [RS-232C Dialup] HostPorts={port} opens this computer's")
        say(f"HTTP server to the guest at the gateway's address, {GATEWAY_ADDRESS}; 777 needs no phonebook entry.")

        sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                      virtual=False, log=log)
        for command in ("timer2 16", "mode 4E", "cmd 37", "out 35 05"):
            sim.command(command)
        sim.process.stdin.write(b"terminal COM2\n")  # the machine's serial port plays the guest from here on
        sim.process.stdin.flush()
        say()
        with GuestVM(directory, name="guest") as guest, guest.join(side.far):
            say(f"guest> (the machine booted in {guest.boot_seconds:.1f} s)"
                " pppd /dev/ttyS0 connect 'chat ... ATZ OK ATDT777 CONNECT'")
            link = guest.dial("777", speed=RATE)
            for _, kind, text in modem_events(monitor):
                say(f"modem> {'<' if kind == 'result' else '>'} {text}")
            say(f"guest> link up {link.up_at - link.connected_at:.2f} s after CONNECT: {link.interface}"
                f" {link.local}, peer {link.remote}, DNS {', '.join(link.dns)}")

            url = f"http://{GATEWAY_ADDRESS}:{port}/file.bin"
            say(f"guest> wget {url}")
            got = guest.fetch(url)
            goodput = got.size / got.seconds
            pace = RATE / 9  # 8N1, as the plug-in paces it
            intact = got.sha256 == hashlib.sha256(PAYLOAD).hexdigest()
            say(f"guest> {got.size} bytes in {got.seconds:.1f} s: {goodput:,.0f} bytes/s, {goodput / pace:.1%} of"
                f" the line's {pace:,.0f} bytes/s; " + ("byte for byte" if intact else "DAMAGED"))

            name, expected = name_to_resolve()
            say(f"guest> nslookup {name}    (the DNS address IPCP gave, answered by this computer's resolver)")
            found = sorted(guest.resolve(name))
            say(f"guest> {name}: {', '.join(found) or 'not found'}")

            say("guest> (pppd ends the link: LCP Terminate-Request)")
            guest.hang_up()
            deadline = time.monotonic() + 10  # the monitor's writer follows the line closely, not at once
            while modem_events(monitor)[-1][2] != "NO CARRIER" and time.monotonic() < deadline:
                time.sleep(0.1)
            ended = modem_events(monitor)[-1]
        sim.quit()
        sim = None
        say(f"modem> < {ended[2]}")
        say()
        ok = (intact and link.local and link.dns and ended[2] == "NO CARRIER"
              and (found == expected or not expected))
        say("Demonstration " + ("succeeded." if ok else "FAILED."))
        return 0 if ok else 1
    finally:
        if sim:
            sim.quit()
        if prefix:
            prefix.stop_server()
        if side:
            side.stop()
        if web:
            web.shutdown()
            web.server_close()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    sys.exit(main(os.path.abspath(arguments[0] if arguments else os.path.join(ROOT, "build/win64"))))
