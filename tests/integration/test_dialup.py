"""The dial-up ISP under Wine with a real client: the 64-bit plug-in as a
modem (PORT=modem, 115200 bit/s) in the host simulator, its guest's side
handed to a pseudo-terminal and joined to the serial line of a small virtual
machine (tools/dialup/guest_vm.py), where pppd and chat, slattach, wget,
nslookup and telnet play the emulated PC's software. The machine is booted
once for the module; each test has a host simulator of its own.

Servers on this computer: an HTTP server (Python's, HTTP/1.0, so that it
closes each connection first) and GNU telnetd under tcpserver, both on
127.0.0.1 and opened to the guest by HostPorts; in the machine, busybox
httpd behind a Forward. Every process is stopped by its own id."""
import functools
import hashlib
import http.server
import os
import random
import shutil
import socket
import subprocess
import sys
import threading
import unittest
import urllib.request

from support import ROOT, Workspace
from network_peers import LOOPBACK, free_port  # noqa: E402
from test_modem import ModemTest, TelnetServer

sys.path.insert(0, os.path.join(ROOT, "tools/dialup"))
from guest_vm import DNS_ADDRESS, GATEWAY_ADDRESS, GUEST_ADDRESS, HANG_UP_CHAT, GuestVM, chat_script  # noqa: E402

RATE = 115200
BYTES_A_SECOND = RATE / 9  # the pace of 8N1 as the plug-in keeps it
PAYLOAD = random.Random(25).randbytes(256 * 1024)
SMALL = b"a few bytes over a TCP connection of their own\n"
LOGIN = ("guest", "pap-secret-25")
SLIP_NUMBER = "555-0199"
FORWARDED_GUEST_PORT = 8080

guest = None  # the machine, booted once
web = None    # this computer's HTTP server


class WebServer:
    """Python's HTTP server on 127.0.0.1, serving a folder, on a thread of its own."""

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    def __init__(self, folder, files):
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        self.server = http.server.ThreadingHTTPServer((LOOPBACK, 0),
                                                      functools.partial(self.Quiet, directory=folder))
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, name):
        return f"http://{GATEWAY_ADDRESS}:{self.port}/{name}"  # the gateway stands for this computer

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def setUpModule():
    global guest, web
    for program in ("qemu-system-x86_64", "tcpserver", "tshark"):
        if not shutil.which(program):
            raise unittest.SkipTest(f"{program} is missing (scripts/setup.sh installs it)")
    work = Workspace.get()
    web = WebServer(work.path("www"), {"payload.bin": PAYLOAD, "small.txt": SMALL})
    guest = GuestVM(work.directory, name="dialup-guest").start()


def tearDownModule():
    if guest:
        guest.close()
    if web:
        web.stop()


class DialupTest(ModemTest):
    """A call from the machine through the plug-in's modem, at 115200 bit/s."""
    TERMINAL = True
    SETTINGS = {"LOCK": "1", "BAUDRATE": str(RATE)}
    DIALUP = {}

    def setUp(self):
        super().setUp()
        with open(self.ini, "a", newline="\r\n") as f:
            f.write("[RS-232C Dialup]\n" + "".join(f"{key}={value}\n" for key, value in self.DIALUP.items()))
        self.join = guest.join(self.guest_side.far)

    def tearDown(self):
        self.join.close()
        guest.run("killall pppd slattach 2>/dev/null; sleep 0.5; true")
        super().tearDown()

    def modem_answers(self):
        """The call is over: the modem is in command mode again and answers AT."""
        return guest.run(f"stty -F /dev/ttyS0 {RATE} raw -echo clocal -crtscts;"
                         " chat -t 10 '' AT OK </dev/ttyS0 >/dev/ttyS0", timeout=30, check=False).status == 0

    def fetch_payload(self):
        got = guest.fetch(web.url("payload.bin"))
        self.assertEqual((got.size, got.sha256), (len(PAYLOAD), hashlib.sha256(PAYLOAD).hexdigest()))
        # Not a figure (the benchmark has those): a server that keeps the
        # line idle most of the time is a fault, whatever arrives in the end.
        self.assertLess(got.seconds, 3 * len(PAYLOAD) / BYTES_A_SECOND, "the download left the line idle")
        return got


class PppAndSlip(DialupTest):
    PHONEBOOK = {SLIP_NUMBER: "slip"}

    def setUp(self):
        self.telnet_port, self.forward_port = free_port(), free_port()
        self.DIALUP = {"HostPorts": f"{web.port},{self.telnet_port}",
                       "Forward": f"{self.forward_port}:{FORWARDED_GUEST_PORT}"}
        super().setUp()

    def test_ppp_dials_777_and_carries_http_dns_telnet_and_a_forward_until_it_hangs_up(self):
        link = guest.dial("777", speed=RATE)
        self.assertEqual((link.local, link.remote, link.dns), (GUEST_ADDRESS, GATEWAY_ADDRESS, [DNS_ADDRESS]))
        got = self.fetch_payload()
        print(f"\nPPP at {RATE}: link up {link.up_at - link.connected_at:.2f} s after CONNECT;"
              f" {len(PAYLOAD)} bytes in {got.seconds:.1f} s")

        # The host's resolver answers through the server's DNS address.
        expected = sorted({info[4][0] for info in socket.getaddrinfo("localhost", None, socket.AF_INET)})
        self.assertEqual(sorted(guest.resolve("localhost")), expected)

        # The program answers the first line with letters in it (a bare line
        # end does not count) and stays a second after its answer, so that the
        # answer is out before telnetd, seeing the program end, hangs up.
        server = TelnetServer(self.telnet_port, "/bin/sh -c 'echo Welcome; while read line; do case $line in"
                                                " *[a-z]*) echo you said $line; sleep 1; exit;; esac; done'")
        self.peers.append(server)
        # The line is typed once telnetd has had time to negotiate and start the
        # program, as a user waits for the greeting before typing.
        said = guest.telnet(GATEWAY_ADDRESS, self.telnet_port, lines=["hello"], pause=4.0)
        self.assertIn(b"Welcome", said)
        self.assertIn(b"you said hello", said)

        # A server in the machine, reached from this computer through the forward.
        guest.serve_http(FORWARDED_GUEST_PORT, {"inside.txt": SMALL})
        with urllib.request.urlopen(f"http://{LOOPBACK}:{self.forward_port}/inside.txt", timeout=30) as answer:
            self.assertEqual(answer.read(), SMALL)
        guest.run("killall httpd; true")

        guest.hang_up()  # pppd ends the link with LCP Terminate: the server drops the carrier
        self.assertTrue(self.modem_answers(), "the modem is still in the call")

    def test_slip_from_a_phonebook_entry_downloads_the_same_file(self):
        guest.slip_up(chat=chat_script(SLIP_NUMBER), speed=RATE)
        got = self.fetch_payload()
        print(f"\nSLIP at {RATE}: {len(PAYLOAD)} bytes in {got.seconds:.1f} s")
        guest.slip_down()
        # SLIP has no end of its own: the guest hangs the modem up.
        guest.put_file("/etc/hang-up.chat", HANG_UP_CHAT.encode())
        hung_up = guest.run("chat -v -f /etc/hang-up.chat </dev/ttyS0 >/dev/ttyS0", timeout=30, check=False)
        self.assertEqual(hung_up.status, 0, hung_up.output)


class MonitoredCall(DialupTest):
    """The line monitor hears a PPP call with a PAP login; tshark reads its capture."""
    SETTINGS = {**DialupTest.SETTINGS, "MONITOR": "dialup.log", "MONITORCAPTURE": "dialup.pcapng"}

    def setUp(self):
        self.DIALUP = {"HostPorts": str(web.port), "User": LOGIN[0], "Password": LOGIN[1]}
        super().setUp()
        folder = os.path.dirname(self.ini)
        self.log, self.capture = os.path.join(folder, "dialup.log"), os.path.join(folder, "dialup.pcapng")

    def tearDown(self):
        super().tearDown()
        for path in (self.log, self.capture):
            if os.path.exists(path) and not os.environ.get("KEEP_INTEGRATION_FILES"):
                os.remove(path)

    def test_the_capture_decodes_in_tshark_and_neither_file_holds_the_password(self):
        # pppd refuses CHAP, so the server falls back to PAP, whose password travels in the clear.
        guest.dial("777", speed=RATE, authenticate=LOGIN, options=["refuse-chap"])
        self.assertEqual(guest.fetch(web.url("small.txt")).sha256, hashlib.sha256(SMALL).hexdigest())
        guest.hang_up()
        self.assertTrue(self.modem_answers())
        self.sim.quit()  # the monitor's files are whole once the line has closed
        self.sim = None

        fields = ["frame.p2p_dir", "_ws.col.Protocol", "_ws.col.Info", "pap.password", "tcp.flags.str"]
        out = subprocess.run(["tshark", "-r", self.capture, "-T", "fields", "-E", "separator=|"]
                             + [arg for field in fields for arg in ("-e", field)],
                             check=True, capture_output=True, text=True, timeout=120).stdout
        frames = [line.split("|") for line in out.splitlines()]
        sent, received = "0", "1"  # tshark's directions: sent by the emulated PC, received by it

        def seen(direction, protocol, info):
            return any(f[0] == direction and f[1] == protocol and info in f[2] for f in frames)

        for direction in (sent, received):
            self.assertTrue(seen(direction, "PPP LCP", "Configuration Request"), out)
            self.assertTrue(seen(direction, "PPP IPCP", "Configuration Ack"), out)
        self.assertTrue(seen(sent, "PPP LCP", "Termination Request"), out)
        pap = [f for f in frames if f[1] == "PPP PAP" and f[0] == sent]
        self.assertTrue(pap, out)
        self.assertEqual(pap[0][3], "*" * len(LOGIN[1]))
        handshake = [(f[0], f[4].replace("\u00b7", "")) for f in frames if f[1] == "TCP" and "S" in f[4]]
        self.assertEqual(handshake, [(sent, "S"), (received, "AS")], out)  # the SYN and the SYN-ACK

        with open(self.log, encoding="utf-8-sig") as f:
            log = f.read()
        self.assertRegex(log, r"(?s)ATDT777.*CONNECT.*NO CARRIER")
        for path in (self.log, self.capture):
            with open(path, "rb") as f:
                self.assertNotIn(LOGIN[1].encode(), f.read(), path)
