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

from support import DLL, EXE, HostSim, HostTest, fields, windows_path, write_ini  # puts tools/host on the path
from hostsim_checks import guest_busy_for  # noqa: E402
from network_peers import LOOPBACK, LoopbackServer, Rfc2217Server, free_port, listening, wait_until  # noqa: E402

BLOCK = 64 * 1024


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


class Faults(NetworkTest):
    def assert_lines_off(self):
        lines = self.lines_after_ticks(ticks=50)
        self.assertEqual((lines["CS"], lines["CD"], lines["DSR"]), ("off", "off", "off"))

    def assert_byte_held(self):
        """The guest's byte waits in the USART: not sent, no hang, the simulator answers."""
        self.sim.command("idle 1500")
        result = fields(self.sim.command("send hex:55", check=False)[0])
        self.assertEqual(result["end"], "idle", result)

    def reprogram(self):
        """The guest's internal reset and a fresh start: the line is opened (and connected) again."""
        self.sim.command("cmd 40")
        self.program()

    def test_refused_then_connects_again_at_the_next_mode_byte(self):
        self.program()
        self.assert_lines_off()
        self.assert_byte_held()
        self.assertEqual(self.alerts(self.sim.command("comm")), [])  # nothing to tell the user: the port opened

        server = SocatServer(self.port)
        self.peers.append(server)
        self.reprogram()
        self.sim.command("idle 5000")
        self.sim.command("send text:again")
        self.assertTrue(server.wait_for(5, timeout=10))
        self.assertEqual(bytes(server.received), b"again")

    def test_a_name_that_does_not_resolve(self):
        self.sim.quit()
        write_ini(self.ini, LOCK="0", PORT="tcp:no-such-host.invalid:23")
        self.sim = self.start_sim()
        self.program()
        self.assert_lines_off()
        self.assert_byte_held()

    def guest_busy_for(self, seconds):
        self.program()
        return guest_busy_for(self.sim, seconds)

    def test_an_address_that_never_answers_never_holds_up_the_guest_or_the_tick(self):
        # The same guest on a line with no network work at all (a listener no
        # one calls) shows what the machine itself costs: preemption on a
        # busy machine makes single ticks slow whatever they do.
        self.sim.quit()
        write_ini(self.ini, LOCK="0", PORT=f"listen:{free_port()}")
        self.sim = self.start_sim()
        baseline = self.guest_busy_for(3)
        self.sim.quit()
        write_ini(self.ini, **self.INI)
        self.sim = self.start_sim()

        # A listener whose queue is full drops every further connection request
        # unanswered, so the plug-in's connect waits as on a silent address.
        server = LoopbackServer(self.port, backlog=0)
        self.peers.append(server)
        fillers = []
        for _ in range(3):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex((LOOPBACK, self.port))
            fillers.append(filler)
        time.sleep(0.5)
        try:
            connecting = self.guest_busy_for(3)
            self.assertEqual(self.lines()["CS"], "off")
        finally:
            for filler in fillers:
                filler.close()
        for name, m in (("no network work", baseline), ("connecting, never answered", connecting)):
            print(f"\n{name}: longest tick {m['tick_us']} us ({m['ticks_over_1ms']} of {m['ticks']} over 1 ms), "
                  f"longest port access {m['access_us']} us ({m['accesses_over_1ms']} of {m['accesses']} over 1 ms)")
        # Nothing waits on the connect: slow ticks and accesses are as rare as
        # on a line that does no network work (the machine's own preemption).
        self.assertGreater(connecting["ticks"], 1000)
        for kind in ("ticks", "accesses"):
            share = connecting[f"{kind}_over_1ms"] / connecting[kind]
            self.assertLess(share, 0.01 + 3 * baseline[f"{kind}_over_1ms"] / baseline[kind], kind)

    def test_the_peer_closing_mid_transfer_drops_the_lines_and_loses_nothing_it_sent(self):
        server = LoopbackServer(self.port)
        self.peers.append(server)
        self.program()
        sent_to_guest = random.Random(3).randbytes(2000)

        def hang_up():
            client = server.accept()
            client.sendall(sent_to_guest)
            got = b""
            while len(got) < 1000:
                got += client.recv(1000 - len(got))
            client.close()

        peer = threading.Thread(target=hang_up)
        peer.start()
        self.sim.command("idle 2000")
        result, received = self.xfer(self.sim, random.Random(4).randbytes(8192), len(sent_to_guest) + 1)
        peer.join()
        self.assertEqual(result["end"], "idle", result)
        self.assertEqual(received, sent_to_guest)  # what arrived before the hang-up is all delivered
        self.assert_lines_off()

    def test_a_peer_that_never_reads_holds_the_guests_bytes_without_loss(self):
        server = LoopbackServer(self.port, receive_buffer=4096)
        self.peers.append(server)
        self.program(count=1)
        block = random.Random(5).randbytes(256 * 1024)
        accepted = {}
        acceptor = threading.Thread(target=lambda: accepted.update(client=server.accept()))
        acceptor.start()
        self.sim.command("idle 3000")
        result, _ = self.xfer(self.sim, block, 0)
        acceptor.join()
        self.assertEqual(result["end"], "idle", result)
        held_at = int(result["sent"])
        self.assertLess(held_at, len(block) // 2, "the peer's buffers took far more than they hold")
        self.assertEqual(self.lines()["CS"], "off")

        # The peer starts reading: the rest follows, and every byte arrives once, in order.
        client, got = accepted["client"], bytearray()

        def read_all():
            client.settimeout(30)
            while len(got) < len(block):
                chunk = client.recv(65536)
                if not chunk:
                    return
                got.extend(chunk)

        reader = threading.Thread(target=read_all)
        reader.start()
        self.sim.command("idle 10000")
        rest, _ = self.xfer(self.sim, block[held_at:], 0)
        reader.join()
        self.assertEqual(rest["end"], "done", rest)
        self.assertEqual(len(got), len(block))
        self.assertEqual(bytes(got), block)

    def test_a_flooding_peer_is_held_back_and_memory_stays_bounded(self):
        server = LoopbackServer(self.port)
        self.peers.append(server)
        self.program()
        pattern = bytes(range(256)) * 256
        flooded = {"count": 0}
        stop = threading.Event()

        def flood():
            client = server.accept()
            client.settimeout(0.2)
            while not stop.is_set():
                try:
                    flooded["count"] += client.send(pattern)
                except socket.timeout:
                    pass
                except OSError:
                    return

        flooder = threading.Thread(target=flood)
        flooder.start()
        rss_before = resident_kib(self.sim.process.pid)
        started = time.monotonic()
        while time.monotonic() - started < 4:  # the guest reads nothing meanwhile
            self.sim.command("ticks 2000")
        stop.set()
        flooder.join()
        rss_after = resident_kib(self.sim.process.pid)
        print(f"\nflood: the peer got {flooded['count']} bytes out in 4 s; "
              f"simulator resident {rss_before} KiB -> {rss_after} KiB")
        self.assertLess(flooded["count"], 16 * 1024 * 1024, "the peer was not held back")
        self.assertLess(rss_after - rss_before, 16 * 1024, "memory grew with the flood")
        # What the guest reads now is the flood from its first byte, in order.
        self.sim.command("idle 3000")
        lines = self.sim.command("recv 1000")
        got = bytes.fromhex(fields(next(line for line in lines if line.startswith("data hex")))["hex"])
        self.assertEqual(got, pattern[:1000])


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


class RemoteSerialPort(NetworkTest):
    PORT_FORMAT = "telnet:127.0.0.1:{port}"
    SERVER = None

    def setUp(self):
        if self.SERVER is None:
            self.skipTest("the server is chosen by the subclasses")
        super().setUp()
        self.server = Rfc2217Server(self.work.directory, self.port, self.SERVER, self.work.cable)
        self.peers.append(self.server)

    def wait_for(self, condition, what, timeout=15):
        """Lets the guest's ticks run until `condition()` holds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            self.sim.command("ticks 200")
            time.sleep(0.05)
        self.fail(f"{what} did not happen within {timeout} s; the server's log ends:\n{self.server.log()[-1500:]}")

    def guest_lines(self):
        lines = self.lines()
        return {name: lines[name] for name in ("CS", "CI", "CD", "DSR")}

    def termios_is(self, rate, stop_bits):
        return lambda: self.server.line.near_termios() == (rate, stop_bits)

    def check_remote_port(self):
        line = self.server.line
        self.program()  # 9600 8N1, then DTR and RTS on
        self.wait_for(self.termios_is(9600, 1), "9600 bit/s, one stop bit")
        self.wait_for(lambda: line.near_lines()["dtr"] and line.near_lines()["rts"], "DTR and RTS on")

        # Timer2 re-rates the line; a new mode byte sets two stop bits, 7 bits, even parity.
        self.sim.command("timer2 8")
        self.wait_for(self.termios_is(19200, 1), "19200 bit/s")
        self.sim.command("cmd 40")
        self.sim.command("mode FA")  # two stop bits, even parity, 7 bits, x16
        self.sim.command("cmd 15")  # DTR and RTS off
        self.wait_for(self.termios_is(19200, 2), "two stop bits")
        self.wait_for(lambda: not line.near_lines()["dtr"] and not line.near_lines()["rts"], "DTR and RTS off")

        # The far end's lines reach the guest.
        line.set_lines(cts=True, dsr=False, ri=True, dcd=False)
        self.wait_for(lambda: self.guest_lines() == {"CS": "on", "CI": "on", "CD": "off", "DSR": "off"},
                      "the far end's CTS and RI, without DSR and CD")
        line.set_lines(cts=True, dsr=True, ri=False, dcd=True)
        self.wait_for(lambda: self.guest_lines() == {"CS": "on", "CI": "off", "CD": "on", "DSR": "on"},
                      "the far end's CTS, DSR and CD")

        # Data both ways at once, byte for byte, 8N1 at 115200 again.
        self.sim.command("cmd 40")
        self.program(count=1)
        self.wait_for(self.termios_is(115200, 1), "115200 bit/s")
        line.drain()
        rng = random.Random(2217)
        outgoing, incoming = rng.randbytes(8192), rng.randbytes(8192)
        far = {}
        worker = threading.Thread(target=lambda: far.update(data=line.exchange(incoming, len(outgoing), timeout=10)))
        worker.start()
        result, received = self.xfer(self.sim, outgoing, len(incoming))
        worker.join()
        self.assertEqual(result["end"], "done", result)
        self.assertEqual(far["data"], outgoing, "guest to the remote port")
        self.assertEqual(received, incoming, "remote port to the guest")


class Ser2net(RemoteSerialPort):
    SERVER = "ser2net"

    def test_the_guest_drives_the_remote_port_and_sees_its_lines(self):
        self.check_remote_port()


class PyserialServer(RemoteSerialPort):
    SERVER = "pyserial"

    def test_the_guest_drives_the_remote_port_and_sees_its_lines(self):
        self.check_remote_port()
        # The pseudo-terminal keeps no byte size or parity; the server's own
        # record of what the client set shows them.
        log = self.server.log()
        for setting in ("set data size: 7", "set parity: E", "set stop bits: 2", "set baud rate: 19200",
                        "set baud rate: 115200", "set data size: 8", "set parity: N", "set stop bits: 1"):
            self.assertIn(setting, log)


IAC, SB, SE, WILL, WONT, DO, DONT, NOP = 255, 250, 240, 251, 252, 253, 254, 241
COM_PORT = 44


def com_port_report(command, value):
    return bytes([IAC, SB, COM_PORT, 100 + command, value, IAC, SE])


class ScriptedTelnetServer(NetworkTest):
    """A Telnet server of the test's own that agrees to the COM-PORT option,
    then sends damaged sequences among its data, line errors and modem lines."""
    PORT_FORMAT = "telnet:127.0.0.1:{port}"

    def test_damaged_sequences_are_dropped_and_reports_reach_the_guest(self):
        server = LoopbackServer(self.port)
        self.peers.append(server)
        heard = bytearray()

        def serve():
            client = server.accept()
            client.settimeout(10)
            client.sendall(bytes([IAC, DO, COM_PORT, IAC, WILL, 0, IAC, DO, 0]))
            while bytes([IAC, SB, COM_PORT, 1]) not in heard:  # the client's first SET-BAUDRATE
                heard.extend(client.recv(4096))
            client.sendall(bytes([IAC, SB, COM_PORT, 107]) + bytes([0x10] * 300) + bytes([IAC, SE])  # too long
                           + bytes([IAC, SB, COM_PORT, 107, 0x00, IAC, WILL, 24])                   # cut short
                           + bytes([IAC, SE, IAC, NOP, IAC, SB, IAC, SE])                           # stray, empty
                           + b"ok" + bytes([IAC, IAC]) + b"x"                                      # data, IAC doubled
                           + com_port_report(6, 0x04)                                              # parity error
                           + com_port_report(7, 0x90))                                             # CTS and CD
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and bytes([IAC, DONT, 24]) not in heard:
                try:
                    heard.extend(client.recv(4096))
                except socket.timeout:
                    break

        peer = threading.Thread(target=serve)
        peer.start()
        self.program()
        self.sim.command("idle 5000")
        lines = self.sim.command("recv 4")
        got = bytes.fromhex(fields(next(line for line in lines if line.startswith("data hex")))["hex"])
        peer.join()
        self.assertEqual(got, b"ok\xffx")
        self.assertIn(bytes([IAC, DONT, 24]), heard, "the option inside the cut subnegotiation was answered")
        self.assertIn(bytes([IAC, SB, COM_PORT, 1, 0, 0, 0x25, 0x80, IAC, SE]), heard, "SET-BAUDRATE 9600")
        status = self.sim.value("status")
        self.assertTrue(status & 0x08, f"parity error in status {status:02X}")
        self.assertEqual(self.guest_lines_now(), {"CS": "on", "CI": "off", "CD": "on", "DSR": "off"})

    def guest_lines_now(self):
        self.sim.command("ticks 100")
        lines = self.lines()
        return {name: lines[name] for name in ("CS", "CI", "CD", "DSR")}


class RestoredNetworkLine(NetworkTest):
    """A save block names the line it was saved on. A host whose user chose
    another port must not connect where someone else's block points."""

    def accepted_within(self, server, seconds):
        try:
            server.accept(timeout=seconds)
            return True
        except socket.timeout:
            return False

    def load(self, block):
        path = self.work.path(f"{self.id()}.bin")
        with open(path, "wb") as f:
            f.write(block)
        lines = self.sim.command(f"load {windows_path(path)}")
        return lines, int(fields(lines[-1])["result"])

    def test_a_block_reaches_its_network_line_only_for_the_user_who_chose_it(self):
        server = LoopbackServer(self.port)
        self.peers.append(server)
        self.program()
        self.assertTrue(self.accepted_within(server, 10))
        path = self.work.path(f"{self.id()}-saved.bin")
        self.sim.command(f"save {windows_path(path)}")
        with open(path, "rb") as f:
            block = f.read()
        self.sim.quit()

        # Another user's host: its port is COM5, which this machine lacks.
        write_ini(self.ini, LOCK="0", PORT="COM5")
        self.sim = self.start_sim()
        lines, result = self.load(block)
        self.assertEqual(result, 1)
        self.assertEqual(self.alerts(lines), [f"tcp:127.0.0.1:{self.port}のオープンに失敗".encode("cp932")])
        self.sim.command("ticks 1000")
        self.assertFalse(self.accepted_within(server, 2), "someone else's block made the plug-in connect")
        self.sim.quit()

        # The user whose line it is: the restore connects again.
        write_ini(self.ini, **self.INI)
        self.sim = self.start_sim()
        lines, result = self.load(block)
        self.assertEqual(result, 1)
        self.assertFalse(self.alerts(lines))
        self.sim.command("ticks 1000")
        self.assertTrue(self.accepted_within(server, 10))
