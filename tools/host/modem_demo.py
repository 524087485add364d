"""The modem demonstration: the plug-in's modem line, loaded by the host
simulator under Wine, dials a Telnet server on this computer (GNU telnetd
under tcpserver) as a guest's communication program would, and prints the
session as a transcript ("guest>" what the guest sends, "<" what it
receives): the init string, the dial, CONNECT, a screen of text from the
server, the escape, the hang-up.

Run as: xvfb-run -a python3 tools/host/modem_demo.py [BUILD_DIR]
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from modem_guest import hears, types  # noqa: E402
from winehost import HostSim, WinePrefix, require  # noqa: E402

NUMBER = "555-0123"
# Line ends as a program writes them; telnetd's terminal makes them CR LF.
SCREEN = b"".join(line.rstrip().encode() + b"\n" for line in [
    "=" * 78,
    "  THE TEST BBS  --  a Telnet server on this computer, reached by the emulated PC",
    "=" * 78,
    "",
    "  Welcome, caller. This screen came over TCP and Telnet from GNU telnetd,",
    "  through the plug-in's modem, to the emulated machine's 8251A at 9600 bit/s.",
    "",
    "  [M]essages   [F]iles   [G]oodbye",
    "",
])


def say(text=""):
    print(text, flush=True)


def shown(data):
    return data.decode("latin-1").replace("\r\n", "\n").replace("\r", "\n").strip("\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Guest:
    def __init__(self, sim):
        self.sim = sim

    def types(self, text, note=""):
        say(f"guest> {text.rstrip()}" + (f"    ({note})" if note else ""))
        types(self.sim, text)

    def hears(self, ending):
        heard = hears(self.sim, ending)
        for line in shown(heard).split("\n"):
            say(f"     < {line}")
        return heard


def main(build):
    require("tcpserver")
    directory = tempfile.mkdtemp(prefix="rs232c-modem-demo-")
    server = None
    try:
        say("Preparing Wine (a fresh prefix) and a Telnet server on 127.0.0.1 ...")
        log = os.path.join(directory, "wine.log")
        prefix = WinePrefix(directory, os.path.join(directory, "unused-line"), log).create()
        port = free_port()
        screen = os.path.join(directory, "screen.txt")
        with open(screen, "wb") as f:
            f.write(SCREEN)
        server = subprocess.Popen(["tcpserver", "-R", "-H", "127.0.0.1", str(port), "/usr/sbin/telnetd", "-h", "-E",
                                   f"/bin/sh -c 'cat {screen}; sleep 60'"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ini = os.path.join(directory, "RS232C.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write(f"[RS-232C]\nPORT=modem\nLOCK=0\n[RS-232C Phonebook]\n{NUMBER}=telnet:127.0.0.1:{port}\n")
        say(f"Settings: PORT=modem, and the phonebook entry {NUMBER}=telnet:127.0.0.1:{port}")

        sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                      virtual=False, log=log)
        say("The guest programs the 8251A for 9600 bit/s, 8N1, DTR and RTS on.")
        say()
        sim.command("timer2 16")
        sim.command("mode 4E")
        sim.command("cmd 37")
        guest = Guest(sim)
        guest.types("AT H0 Z S7=45 S0=0 Q0 V1 E1 &C1 X4\r", "an init string as real programs send it")
        init = guest.hears(b"OK\r\n")
        guest.types("ATI\r")
        identity = guest.hears(b"OK\r\n")
        guest.types(f"ATDT{NUMBER}\r", "the phonebook turns the number into the server's address")
        call = guest.hears(b"Goodbye")
        time.sleep(1.2)
        guest.types("+++", "after a second of silence, and a second of silence after it")
        time.sleep(1.2)
        escape = guest.hears(b"OK\r\n")
        guest.types("ATH\r")
        hang_up = guest.hears(b"OK\r\n")
        lines = sim.command("lines")[0]
        sim.quit()
        prefix.stop_server()
        say()
        ok = (init.endswith(b"OK\r\n") and b"RS-232C Interface" in identity and b"CONNECT 9600\r\n" in call
              and call.index(b"CONNECT") < call.index(b"THE TEST BBS") and b"\xff" not in call
              and escape.endswith(b"OK\r\n") and hang_up.endswith(b"OK\r\n") and "CD=off" in lines)
        say(f"After the hang-up: {lines}")
        say("Demonstration " + ("succeeded." if ok else "FAILED."))
        return 0 if ok else 1
    finally:
        if server:
            server.kill()
            server.wait()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    sys.exit(main(os.path.abspath(arguments[0] if arguments else os.path.join(ROOT, "build/win64"))))
