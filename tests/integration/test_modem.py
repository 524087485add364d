"""The modem line under Wine, the guest's side scripted through the host
simulator (real-time timer, 9600 bit/s), against real peers: GNU telnetd
under tcpserver, socat servers and callers, and loopback servers that refuse,
never answer or hang up. Every peer process is stopped by its own id."""
import os
import random
import socket
import subprocess
import threading
import time

from support import HostTest, VirtualLine, fields, windows_path, write_ini  # puts tools/host on the path
from modem_guest import hears, receive_all, types  # noqa: E402
from test_network import LOOPBACK, LoopbackServer, SocatServer, free_port, listening, wait_until

INIT = "AT H0 Z S7=45 S0=0 Q0 V1 E0 &C0 X4"  # Device::Modem's init string, as real programs send it
OK = b"\r\nOK\r\n"
NO_CARRIER = b"\r\nNO CARRIER\r\n"
CONNECT = b"\r\nCONNECT 9600\r\n"


class TelnetServer:
    """GNU telnetd under tcpserver, running `program` for each caller."""

    def __init__(self, port, program):
        self.process = subprocess.Popen(["tcpserver", "-R", "-H", LOOPBACK, str(port), "/usr/sbin/telnetd", "-h",
                                         "-E", program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: listening(port)), "tcpserver does not listen"

    def stop(self):
        self.process.kill()
        self.process.wait()


class ModemTest(HostTest):
    LINE = False
    VIRTUAL = False  # guard times, rings and dial limits run on real time, as the guest does
    PORT = "modem"
    PHONEBOOK = {}
    TERMINAL = False  # the guest's side handed to COM2, where Linux programs play the guest
    SETTINGS = {}

    def setUp(self):
        self.port = free_port()
        self.INI = {"LOCK": "0", "PORT": self.PORT.format(port=self.port), **self.SETTINGS}
        self.peers = []
        super().setUp()
        if self.PHONEBOOK:
            with open(self.ini, "a", newline="\r\n") as f:
                f.write("[RS-232C Phonebook]\n")
                for number, address in self.PHONEBOOK.items():
                    f.write(f"{number}={address.format(port=self.port)}\n")
        self.program()
        if self.TERMINAL:
            self.guest_side = VirtualLine(self.work.directory, self.work.near2, name="2").start()
            self.sim.command("out 35 05")  # the guest's driver runs on its interrupts
            self.sim.process.stdin.write(b"terminal COM2\n")  # until the next command line
            self.sim.process.stdin.flush()
            return
        self.assertEqual(self.command("ATE0"), b"ATE0\r" + OK)  # echo on from the start
    def tearDown(self):
        super().tearDown()
        if self.TERMINAL:
            self.guest_side.stop()
        for peer in self.peers:
            peer.stop() if hasattr(peer, "stop") else peer.close()

    # ---- the guest ----------------------------------------------------------

    def type(self, text):
        types(self.sim, text)

    def hear(self, ms=300):
        lines = self.sim.command(f"listen {ms}")
        data = next((line for line in lines if line.startswith("data hex=")), "data hex=")
        return bytes.fromhex(data[len("data hex="):])

    def hear_until(self, ending, timeout=15):
        return hears(self.sim, ending, timeout)

    def command(self, line, ending=OK, timeout=15):
        self.type(line + "\r")
        return self.hear_until(ending, timeout)

    def lines(self):
        return fields(self.sim.command("lines")[0])

    def escape(self):
        """'+++' between a second of silence on each side: back in command mode."""
        time.sleep(1.2)
        self.type("+++")
        return self.hear_until(OK, timeout=5)


class Dialling(ModemTest):
    PHONEBOOK = {"555-1234": "127.0.0.1:{port}"}

    def test_init_string_and_a_dial_to_a_telnet_server_connect_before_its_data_then_its_hang_up(self):
        banner = os.path.join(self.work.directory, f"{self.id()}.banner")
        with open(banner, "wb") as f:
            f.write(b"Welcome to the test BBS, price \xff\xff, +++ and \r are data")
        # The pause keeps telnetd from hanging up before it has sent the banner:
        # it ends the call as soon as its program exits, dropping any output
        # it has not yet read from the terminal.
        self.peers.append(TelnetServer(self.port, f"/bin/sh -c 'cat {banner}; sleep 1'"))
        self.assertTrue(self.command(INIT).endswith(OK))
        self.assertEqual(self.lines()["CD"], "on")  # &C0
        self.command("AT&C1")
        self.assertEqual(self.lines()["CD"], "off")

        heard = self.command("ATDT 555-1234", ending=NO_CARRIER)
        self.assertTrue(heard.startswith(CONNECT), heard)  # before any byte from the server
        # The negotiation never reaches the guest; the data does, 0xFF and all
        # (telnetd's terminal adds nothing to a text without line ends). No CR
        # NUL here: telnetd withdraws binary mode once its terminal is not raw,
        # and sends its first bytes unstuffed until our DONT reaches it, so a
        # CR NUL's meaning there depends on timing. The ZMODEM download carries CR NUL.
        self.assertEqual(heard[len(CONNECT):], b"Welcome to the test BBS, price \xff\xff, +++ and \r are data"
                         + NO_CARRIER)
        self.assertEqual((self.lines()["CD"], self.lines()["DSR"]), ("off", "on"))

    def test_escape_online_again_and_hang_up(self):
        server = SocatServer(self.port)
        self.peers.append(server)
        self.assertEqual(self.command(f"ATDTtcp:127.0.0.1:{self.port}", ending=CONNECT), CONNECT)
        self.assertEqual(self.lines()["CD"], "on")
        self.type("ATH\r+++")  # data in a call
        server.send(b"from the server")
        self.assertEqual(self.hear_until(b"server"), b"from the server")
        self.assertEqual(self.escape(), OK)
        server.send(b"held")
        time.sleep(0.5)
        self.assertEqual(self.command("ATO", ending=b"held"), CONNECT + b"held")
        self.assertEqual(self.escape(), OK)
        self.assertEqual(self.command("ATH"), OK)
        self.assertEqual(self.lines()["CD"], "off")
        sent = b"ATH\r+++" + b"+++" * 2  # each escape's three + went on as data
        self.assertTrue(server.wait_for(len(sent)))
        self.assertEqual(bytes(server.received), sent)

    def test_busy_no_answer_and_a_name_that_does_not_resolve(self):
        refused = free_port()
        self.assertEqual(self.command(f"ATDT127.0.0.1:{refused}", ending=b"BUSY"), b"\r\nBUSY\r\n")
        self.assertEqual(self.command("ATDTno-such-host.invalid", ending=NO_CARRIER), NO_CARRIER)

        # A listener whose queue is full leaves further callers unanswered.
        server = LoopbackServer(self.port, backlog=0)
        self.peers.append(server)
        fillers = [socket.socket() for _ in range(3)]
        for filler in fillers:
            filler.setblocking(False)
            filler.connect_ex((LOOPBACK, self.port))
        self.peers += fillers
        # S7 ends the dial, not the network's own limit on a connect (a
        # network line's is 10 s).
        self.command("ATS7=12")
        started = time.monotonic()
        self.assertEqual(self.command(f"ATDT127.0.0.1:{self.port}", ending=b"NO ANSWER", timeout=30),
                         b"\r\nNO ANSWER\r\n")
        self.assertGreaterEqual(time.monotonic() - started, 11.9)

    def test_dtr_drop_hangs_up_under_d2(self):
        server = SocatServer(self.port)
        self.peers.append(server)
        self.assertEqual(self.command(f"AT&D2DT127.0.0.1:{self.port}", ending=CONNECT), CONNECT)
        self.sim.command("cmd 35")  # DTR off, RTS on
        self.assertEqual(self.hear_until(NO_CARRIER), NO_CARRIER)
        self.assertEqual(self.lines()["CD"], "off")
        self.sim.command("cmd 37")
        self.assertEqual(self.command("AT"), OK)

    def test_a_restored_machine_hears_its_modem_without_writing_a_command_again(self):
        server = SocatServer(self.port)
        self.peers.append(server)
        self.assertEqual(self.command(f"ATDT127.0.0.1:{self.port}", ending=CONNECT), CONNECT)
        path = self.work.path(f"{self.id()}.bin")
        self.sim.command(f"save {windows_path(path)}")
        self.assertIn("result=1", self.sim.command(f"load {windows_path(path)}")[-1])
        self.assertEqual(self.hear_until(NO_CARRIER), NO_CARRIER)  # the call the restore dropped
        self.assertEqual(self.command("AT"), b"AT\r" + OK)  # on hook, defaults again: echo on

    def test_a_flood_while_rts_is_off_waits_and_arrives_whole(self):
        server = SocatServer(self.port)
        self.peers.append(server)
        self.assertEqual(self.command(f"ATDT127.0.0.1:{self.port}", ending=CONNECT), CONNECT)
        flood = os.urandom(16 * 1024)  # four times what the modem keeps; the rest waits in the network
        self.sim.command("cmd 17")  # RTS off
        server.send(flood)
        time.sleep(2)
        self.assertEqual(self.hear(500), b"")
        self.sim.command("cmd 37")
        received = os.path.join(self.work.directory, f"{self.id()}.in")
        result = fields(self.sim.command(f"recv {len(flood)} file:{received}", timeout=300)[0])
        self.assertEqual(result["end"], "done", result)
        with open(received, "rb") as f:
            self.assertEqual(f.read(), flood)


class IncomingCalls(ModemTest):
    PORT = "modem:{port}"

    def call(self):
        caller = socket.create_connection((LOOPBACK, self.port), timeout=10)
        self.peers.append(caller)
        return caller

    def test_answered_after_s0_rings_and_by_ata_a_second_caller_refused(self):
        self.command("ATS0=2")
        caller = self.call()
        started = time.monotonic()
        heard = self.hear_until(CONNECT, timeout=10)
        self.assertEqual(heard, b"\r\nRING\r\n\r\nRING\r\n" + CONNECT)
        self.assertGreaterEqual(time.monotonic() - started, 2.5)  # the second ring comes 3 s after the first
        self.assertEqual(self.lines()["CD"], "on")
        caller.sendall(b"hello emulator")
        self.assertEqual(self.hear_until(b"emulator"), b"hello emulator")
        self.type("hello caller")
        caller.settimeout(5)
        self.assertEqual(receive_all(caller, len(b"hello caller")), b"hello caller")

        second = self.call()
        second.settimeout(5)
        self.assertEqual(second.recv(100), b"BUSY\r\n")
        self.assertEqual(second.recv(100), b"")  # and closed

        caller.close()
        self.assertEqual(self.hear_until(NO_CARRIER), NO_CARRIER)
        self.command("ATS0=0")
        self.call()
        self.assertEqual(self.hear_until(b"RING\r\n"), b"\r\nRING\r\n")
        self.assertEqual(self.command("ATA", ending=CONNECT), CONNECT)


class ManyCalls(ModemTest):
    def test_a_thousand_calls_grow_neither_handles_nor_memory(self):
        server = LoopbackServer(self.port, backlog=64)
        self.peers.append(server)
        stop = []

        def hang_up_on_everyone():
            server.socket.settimeout(0.2)
            while not stop:
                try:
                    client, _ = server.socket.accept()
                    client.close()
                except OSError:
                    pass

        answerer = threading.Thread(target=hang_up_on_everyone, daemon=True)
        answerer.start()
        self.sim.command("cmd 40")
        self.program(count=1)  # 115200 bit/s
        per_call = CONNECT.replace(b"9600", b"115200") + NO_CARRIER
        dial = f"ATDT127.0.0.1:{self.port}\r".encode().hex()
        usage = []
        started = time.monotonic()
        try:
            for batch in range(10):
                # A hundred calls' commands at once, then their results: no round trip per call.
                self.sim.process.stdin.write(f"send hex:{dial}\nrecv {len(per_call)}\n".encode() * 100)
                self.sim.process.stdin.flush()
                for call in range(100):
                    result = fields(self.sim._lines_until(lambda line: line.startswith("recv "), 60)[-1])
                    self.assertEqual(result["end"], "done", f"call {batch * 100 + call}: {result}")
                if batch in (0, 9):
                    self.sim.command("echo settled")  # every result read before the figures
                    usage.append(self.usage())
        finally:
            stop.append(True)
            answerer.join()
        print(f"\n1000 calls in {time.monotonic() - started:.0f} s; after 100: {usage[0]}; after 1000: {usage[1]}")
        self.assertLessEqual(usage[1]["fds"], usage[0]["fds"] + 2)
        self.assertLessEqual(usage[1]["rss_kb"], usage[0]["rss_kb"] + 2048)

    def usage(self):
        pid = self.sim.process.pid
        with open(f"/proc/{pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        return {"fds": len(os.listdir(f"/proc/{pid}/fd")), "rss_kb": rss}


class TerminalLineGuest(ModemTest):
    """Linux programs play the guest's software on the terminal line, at the settings' rate."""
    TERMINAL = True
    PHONEBOOK = {"555-1234": "127.0.0.1:{port}"}

    def run_guest(self, *commands, log_name="guest.log", timeout=120):
        """Runs each command in turn with the guest's side as its standard input and output; their statuses."""
        log = open(os.path.join(self.work.directory, f"{self.id()}-{log_name}"), "ab")
        end = os.open(self.guest_side.far, os.O_RDWR | os.O_NOCTTY)
        statuses = []
        try:
            for command in commands:
                process = subprocess.Popen(command, stdin=end, stdout=end, stderr=log, cwd=self.work.directory)
                try:
                    statuses.append(process.wait(timeout))
                except subprocess.TimeoutExpired:
                    process.kill()  # by its own id
                    process.wait()
                    statuses.append("timeout")
        finally:
            os.close(end)
            log.close()
        return statuses

    def chat(self, number, *extra):
        return ["chat", "-v", "-s", "-t", "15", "ABORT", "BUSY", "ABORT", "NO CARRIER", "", INIT, "OK",
                f"ATDT{number}", "CONNECT", *extra]

    def zmodem_payload(self):
        """Bytes a Telnet call and ZMODEM must carry untouched: 0xFF, CR NUL, +++ and everything else."""
        rng = random.Random(18)
        pieces = [b"\xff", b"\xff\xff", b"\r\x00", b"\r\n", b"+++", b"\x18", b"\x11\x13", bytes(range(256))]
        return b"".join(rng.choice(pieces) if rng.random() < 0.5 else rng.randbytes(8) for _ in range(3000))

    def offer(self, payload):
        """The payload as a file on the server's side; its path."""
        folder = os.path.join(self.work.directory, self.id(), "server-sends")
        os.makedirs(folder)
        offered = os.path.join(folder, "payload.bin")
        with open(offered, "wb") as f:
            f.write(payload)
        return offered

    def download(self, payload, sender, timeout=120):
        """telnetd runs `sender` for the caller; the guest dials with chat and receives with rz."""
        self.peers.append(TelnetServer(self.port, sender))
        statuses = self.run_guest(self.chat("555-1234"), ["rz", "-b", "-y"], log_name="down.log", timeout=timeout)
        self.assertEqual(statuses, [0, 0])
        received = os.path.join(self.work.directory, "payload.bin")
        with open(received, "rb") as f:
            self.assertEqual(f.read(), payload, "ZMODEM from the Telnet server to the guest")
        os.remove(received)


class RealProgramsAsTheGuest(TerminalLineGuest):
    """chat (ppp), lrzsz and C-Kermit as the guest."""
    SETTINGS = {"LOCK": "1", "BAUDRATE": "38400"}

    def test_chat_dial_scripts_tell_busy_no_carrier_and_connect_apart(self):
        server = SocatServer(self.port)
        self.peers.append(server)
        # chat's status names the ABORT string met: 4 the first (BUSY), 5 the second (NO CARRIER).
        statuses = self.run_guest(self.chat(f"127.0.0.1:{free_port()}"), self.chat("no-such-host.invalid"),
                                  self.chat("555-1234", "hello", ""))
        self.assertEqual(statuses, [4, 5, 0])
        self.assertTrue(server.wait_for(len("hello\r")))
        self.assertEqual(bytes(server.received), b"hello\r")  # what chat sent after CONNECT, and only that

    def test_zmodem_both_ways_through_a_telnet_call(self):
        payload = self.zmodem_payload()
        offered = self.offer(payload)
        self.download(payload, f"/usr/bin/sz -b {offered}")
        self.guest_side.drain(2)  # the server's hang-up: NO CARRIER

        # Up: telnetd runs rz; the guest dials and runs sz.
        upload = os.path.join(self.work.directory, self.id(), "server-receives")
        os.makedirs(upload)
        self.peers[-1].stop()
        self.peers.append(TelnetServer(self.port, f"/bin/sh -c 'cd {upload} && exec /usr/bin/rz -b -y'"))
        statuses = self.run_guest(self.chat("555-1234"), ["sz", "-b", offered], log_name="up.log")
        self.assertEqual(statuses, [0, 0])
        self.assertTrue(wait_until(lambda: os.path.exists(os.path.join(upload, "payload.bin"))))
        time.sleep(1)
        with open(os.path.join(upload, "payload.bin"), "rb") as f:
            self.assertEqual(f.read(), payload, "ZMODEM from the guest to the Telnet server")

    def test_kermit_dials_sends_a_file_and_hangs_up(self):
        folder = os.path.join(self.work.directory, self.id())
        received = os.path.join(folder, "received")
        os.makedirs(received)
        payload = self.zmodem_payload()[:8192]
        sent = os.path.join(folder, "kermit.bin")
        with open(sent, "wb") as f:
            f.write(payload)
        self.peers.append(TelnetServer(self.port, f"/bin/sh -c 'cd {received} && exec kermit -Y -x'"))
        script = os.path.join(folder, "dial.ksc")
        with open(script, "w") as f:
            f.write(f"set line {self.guest_side.far}\nset speed 38400\nset carrier-watch off\n"
                    "set modem type hayes\nset dial timeout 30\ndial 555-1234\nif fail exit 1\n"
                    f"set file type binary\nsend {sent}\nif fail exit 2\nfinish\nhangup\nexit 0\n")
        log = open(os.path.join(folder, "kermit.log"), "wb")
        kermit = subprocess.Popen(["kermit", "-Y", "-C", f"take {script}"], stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=log)
        try:
            status = kermit.wait(180)
        finally:
            if kermit.poll() is None:
                kermit.kill()  # by its own id
                kermit.wait()
            log.close()
        with open(log.name, errors="replace") as said:
            self.assertEqual(status, 0, said.read()[-2000:])
        with open(os.path.join(received, "kermit.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)
        self.assertEqual(self.sim.command("echo stop")[0].split()[0], "terminal")  # the guest's side ran on
        self.assertEqual(fields(self.sim.command("lines")[0])["CD"], "off")  # Kermit's +++ and ATH0 hung up


class ADownloadAt9600(TerminalLineGuest):
    """A BBS download at 9600 bit/s, sent as a server for slow callers sends it.

    sz streams a file into whatever buffers lie ahead of the line (its own
    pseudo-terminal, telnetd's socket, the network, the modem's queue) and
    then waits a fixed 60 s for the answer to its end of file. At 9600 bit/s
    this payload needs about 61 s to reach the guest, so an sz without a
    window gives up just before the guest answers, however promptly the modem
    passes the bytes on. With a window at most that much goes unanswered; the
    guest's acknowledgements then have to reach the server while the modem's
    queue toward the guest is full."""
    SETTINGS = {"LOCK": "1", "BAUDRATE": "9600"}

    def test_a_download_longer_than_a_minute_with_a_windowed_sender(self):
        payload = self.zmodem_payload()
        self.download(payload, f"/usr/bin/sz -b -w 8192 {self.offer(payload)}")
