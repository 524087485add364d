"""The shipped 32-bit plug-in in the 32-bit host: what differs from the 64-bit
twin (the host calling convention of every handler and callback, the byte
offsets of the host records, the timer slot, the 32-bit runtime, its
Winsock), checked through everything a host and a guest do with it.

Each class is one host process; its tests run in name order against it."""
import functools
import hashlib
import http.server
import os
import random
import socket
import struct
import sys
import threading
import time

from product_host import ProductHost, fields, periods, read_ini, windows_path, write_ini  # puts tools/host on the path
from modem_guest import hears, receive_all, types  # noqa: E402
from network_peers import LOOPBACK, Rfc2217Server, TcpFarEnd, free_port  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools/dialup"))
from guest_vm import GATEWAY_ADDRESS, GUEST_ADDRESS, GuestVM  # noqa: E402

TX_READY, RX_READY, TX_EMPTY, DSR = 0x01, 0x02, 0x04, 0x80
PORT_LIST, LOCK_BOX, RATE_LIST = 1000, 1023, 1022

BLOCK_SIZE = 315
CHIP = 4
PORT_READY = CHIP + 17
PROGRAM_STATE = CHIP + 13
TX_ENABLE = CHIP + 8
PORT_B = CHIP + 3
SETTINGS = 22
PORT_NAME = SETTINGS + 20
PORT_NAME_SIZE = 240
TAIL = 302

OPEN_FAILED = "{}のオープンに失敗"
VERSION_TEXT = "セーブデータのバージョンが違います".encode("cp932")
SAVED_BLOCK = "product-saved.bin"

REGISTRATIONS = ["reset", "write 30", "write 32", "read 30", "read 32", "save 315", "load", "poweroff",
                 "hook-constant 33", "hook-constant 35", "hook-constant 37", "hook-read 33", "hook-read 35",
                 "hook-write 35", "hook-write 37", "timer2"]


class ProductAtWork(ProductHost):
    """From loading to power-off in one host: registration, line settings,
    modem lines, data, interrupts, the panel, the save block, the dialog and
    both messages."""

    def test_01_loads_and_registers_through_the_host_records(self):
        startup = self.sim.startup
        self.assertIn("version=RS-232C Interface Ver1.00 length=25", startup[0])
        self.assertEqual(startup[2:5], ["entry result=1", "conect result=1", "fastgui panel=created"])
        self.assertEqual([line.split(" ", 1)[1] for line in self.sim.command("registrations")], REGISTRATIONS)
        # No port before the guest programs the USART: lines off, both transmit registers empty.
        self.assertEqual((self.sim.value("status"), self.sim.value("portb")), (0x05, 0xE0))

    def test_02_mode_bytes_reach_the_dcb_and_the_terminal(self):
        self.sim.command("timer2 16")
        #        mode  rate  size parity stop  flags     Linux stop bits
        cases = [(0x7A, 9600, 7, 2, 0, "000020A3", 1),   # x16 7E1
                 (0xFE, 9600, 8, 2, 2, "000020A3", 2),   # x16 8E2
                 (0xCF, 2400, 8, 0, 2, "000020A1", 2),   # x64 8N2
                 (0x0D, 115200, 8, 0, 0, "000020A1", 1),  # x1
                 (0x4E, 9600, 8, 0, 0, "000020A1", 1)]   # x16 8N1, kept for what follows
        for mode, rate, size, parity, stop, flags, linux_stop in cases:
            with self.subTest(mode=f"{mode:02X}"):
                self.comm_calls()
                self.sim.command(f"mode {mode:02X}")
                dcb = self.dcbs(self.comm_calls())[-1]
                self.assertEqual((dcb["length"], dcb["baud"], dcb["size"], dcb["parity"], dcb["stop"], dcb["flags"],
                                  dcb["result"]), ("28", str(rate), str(size), str(parity), str(stop), flags, "1"))
                self.assertEqual(self.line.near_termios(), (rate, linux_stop))
            # Internal reset (the next byte is a mode byte again), or for the
            # last one transmit and receive on with DTR and RTS.
            self.sim.command("cmd 37" if mode == 0x4E else "cmd 40")

    def test_03_timer_paces_characters_and_timer2_rerates(self):
        self.sim.command("timer clear")
        self.sim.command("ticks 8")
        self.assertEqual(sorted(set(periods(self.sim))), [93, 94])  # 9 bits at 9600: 93.75 units
        self.comm_calls()
        self.sim.command("timer2 8")  # 2457600 / (8 x 16) = 19200
        self.assertEqual([d["baud"] for d in self.dcbs(self.comm_calls())], ["19200"])
        self.assertEqual(self.line.near_termios(), (19200, 1))
        self.sim.command("timer clear")
        self.sim.command("ticks 8")
        self.assertEqual(sorted(set(periods(self.sim))), [46, 47])
        self.sim.command("timer2 16")
        self.assertEqual(self.line.near_termios(), (9600, 1))

        # Sending takes a character time per byte.
        data = bytes(range(64))
        sent = fields(self.sim.command(f"send hex:{data.hex()}")[0])
        self.assertEqual(self.line.read(len(data)), data)
        self.assertAlmostEqual(int(sent["units"]), len(data) * 93.75, delta=2 * 93.75)

    def test_04_modem_lines_both_ways(self):
        # Far end to guest: port B holds CI, CS and CD, each 0 while on; status bit 7 is DSR.
        cases = [(dict(), 0xE0, 0), (dict(cts=True), 0xA0, 0), (dict(ri=True), 0x60, 0),
                 (dict(dcd=True), 0xC0, 0), (dict(dsr=True), 0xE0, DSR),
                 (dict(cts=True, dsr=True, ri=True, dcd=True), 0x00, DSR)]
        for lines, port_b, dsr in cases:
            with self.subTest(lines=lines):
                self.line.set_lines(**lines)
                self.assertEqual(self.sim.value("portb"), port_b)
                self.assertEqual(self.sim.value("status") & DSR, dsr)
        self.line.set_lines(cts=True, dsr=True, dcd=True)

        # Guest to far end: the command byte drives DTR, RTS and break.
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (True, True, False))
        self.sim.command("cmd 40")
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (False, False, False))
        self.sim.command("mode 4E")
        breaks = near["breaks"]
        self.sim.command("cmd 0A")  # DTR and break, no RTS
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"], near["breaks"]), (True, False, True, breaks + 1))
        self.sim.command("cmd 37")
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (True, True, False))

    def test_05_cts_holds_a_written_byte(self):
        self.line.set_lines(dsr=True)
        self.sim.command("write 41")
        self.sim.command("ticks 8")
        self.assertEqual(self.line.read(1, timeout=0.5), b"")
        self.assertEqual(self.sim.value("status"), DSR | TX_EMPTY)
        self.line.set_lines(cts=True, dsr=True, dcd=True)
        self.sim.command("ticks 2")
        self.assertEqual(self.line.read(1, timeout=5), b"A")
        self.assertEqual(self.sim.value("status"), DSR | TX_EMPTY | TX_READY)

    def test_06_interrupts_through_the_system_port(self):
        # Port 0x35 (hooked) holds the enables; port 0x37 sets and resets one of them.
        self.sim.command("out 35 00")
        self.sim.command("irq clear")
        self.sim.command("out 37 05")  # TxRDY enable on, with the holding register empty: one request
        self.assertEqual(self.sim.value("portc"), 0x04)
        self.assertEqual(fields(self.sim.command("irq clear")[0]), {"count": "1", "line": "4"})
        self.sim.command("out 37 04")
        self.sim.command("out 35 01")  # RxRDY alone
        self.assertEqual(self.sim.value("portc"), 0x01)

        self.line.write(b"xyz")
        self.assertTrue(self.line.delivered(3))
        self.sim.command("ticks 40")
        self.assertEqual(fields(self.sim.command("irq")[0])["count"], "1")
        received = bytes([self.sim.value("data")])
        for expected_count in (2, 3):
            self.sim.command("ticks 2")
            self.assertEqual(fields(self.sim.command("irq")[0]), {"count": str(expected_count), "line": "4"})
            received += bytes([self.sim.value("data")])
        self.assertEqual(received, b"xyz")
        self.sim.command("out 35 00")

    def test_07_kilobytes_each_way_byte_for_byte(self):
        self.exchange_random_block(4096, 32, self.work.directory, timeout=600)

    def test_08_panel_shows_the_lines_and_the_rate(self):
        self.line.set_lines(cts=True, ri=True, dcd=True)
        expected = {"CS": "lit", "CI": "lit", "CD": "lit", "DSR": "dark"}
        self.assertEqual(self.refreshed_leds(expected), expected)
        _, figures = self.panel()
        self.assertEqual(figures, {"1013": "2457600", "1011": "16", "1014": "1/16", "1007": "9600", "1008": "9600"})
        self.line.set_lines(cts=True, dsr=True, dcd=True)

    def test_09_save_block_and_a_block_of_another_version(self):
        self.sim.command("reset")  # the machine's reset keeps the port
        calls = self.comm_calls()
        self.assertIn("comm purge flags=0F result=1", calls)
        self.assertFalse([c for c in calls if c.startswith(("comm close", "comm open"))], calls)
        self.sim.command("timer2 16")
        self.sim.command("mode 7E")  # after the reset a mode byte: x16, 8 bits, even parity, one stop bit
        self.sim.command("cmd 37")
        block = self.save(SAVED_BLOCK)
        self.assertEqual(len(block), BLOCK_SIZE)
        self.assertEqual(struct.unpack_from("<I", block, 0)[0], 1)
        self.assertEqual((block[PORT_READY], block[PROGRAM_STATE], block[TX_ENABLE]), (1, 3, 1))
        self.assertEqual(block[PORT_NAME:PORT_NAME + 5], b"COM1\0")
        self.assertEqual(struct.unpack_from("<iIIB", block, TAIL), (16, 16, 9600, 0x7E))

        other = bytearray(block)
        struct.pack_into("<I", other, 0, 2)
        self.comm_calls()
        lines, result = self.load(bytes(other))
        self.assertEqual(result, 0)
        self.assertEqual(self.alerts(lines), [VERSION_TEXT])
        self.assertFalse(self.comm_calls())

    def test_10_dialog_ok_writes_the_file_and_a_port_that_fails_is_reported(self):
        lines = self.sim.command(f"config select {PORT_LIST} COM9 click {LOCK_BOX} select {RATE_LIST} 38400 ok")
        self.assertEqual(lines[-1], "config result=1")
        self.assertEqual(read_ini(self.ini), {"PORT": "COM9", "LOCK": "1", "BAUDRATE": "38400", "PARITY": "NONE",
                                              "STOPBITS": "1", "BYTESIZE": "8"})
        self.sim.command("cmd 40")
        self.comm_calls()
        lines = self.sim.command("mode 4E")  # COM9 is absent in the prefix
        self.assertEqual(self.alerts(lines), [OPEN_FAILED.format("COM9").encode("cp932")])
        self.assertIn("comm open path=//./COM9 access=C0000000 share=0 disposition=3 flags=00000000 result=fail",
                      self.comm_calls())
        self.assertTrue(self.line.near_closed(), f"COM1 still held by {self.line.near_holders()}")

    def test_11_power_off(self):
        self.sim.command("poweroff")
        leds, _ = self.panel()
        self.assertEqual(set(leds.values()), {"dark"})
        self.assertEqual((self.sim.value("status"), self.sim.value("portb")), (0x05, 0xE0))
        self.assertEqual(fields(self.sim.command("timer")[0])["halts"], "1")


class SaveBlockInANewHost(ProductHost):
    """The block the first host saved, loaded by a second one; and blocks
    made to harm: a port name that runs past its field, bits of port B that
    belong to the rest of the machine, a port name that is an ordinary file."""

    def test_01_block_restores_the_port(self):
        with open(self.work.path(SAVED_BLOCK), "rb") as f:
            block = f.read()
        self.assertEqual(self.sim.value("status"), 0x05)
        lines, result = self.load(block)
        self.assertEqual(result, 1)
        self.assertFalse(self.alerts(lines))
        calls = self.comm_calls()
        self.assertTrue([c for c in calls if c.startswith("comm open path=//./COM1") and "result=ok" in c], calls)
        programmed = [d for d in self.dcbs(calls) if d["flags"] == "000020A3"]
        self.assertTrue(programmed, calls)
        self.assertEqual((programmed[0]["baud"], programmed[0]["size"], programmed[0]["parity"]), ("9600", "8", "2"))
        self.assertEqual(self.line.near_termios(), (9600, 1))
        self.assertEqual(self.save("saved-again.bin"), block)
        self.assertEqual(self.send_text(b"restored"), b"restored")
        self.assertEqual(self.receive_text(b"and back"), b"and back")

    def saved_block(self):
        with open(self.work.path(SAVED_BLOCK), "rb") as f:
            return bytearray(f.read())

    def test_02_port_name_without_an_end_is_never_opened(self):
        block = self.saved_block()
        block[PORT_NAME:PORT_NAME + PORT_NAME_SIZE] = b"N" * PORT_NAME_SIZE
        self.comm_calls()
        lines, result = self.load(bytes(block))
        # What is shown is the name cut to its field, and nothing is opened by it.
        self.assertEqual(self.alerts(lines), [OPEN_FAILED.format("N" * (PORT_NAME_SIZE - 1)).encode("cp932")])
        calls = self.comm_calls()
        self.assertIn("comm close result=1", calls)  # COM1, restored by the block before
        self.assertFalse([c for c in calls if c.startswith("comm open")], calls)
        self.assertEqual(result, 1)
        self.assertEqual((self.sim.value("status") & DSR, self.sim.value("portb")), (0, 0xE0))

    def test_03_port_b_bits_of_the_rest_of_the_machine_are_not_restored(self):
        block = self.saved_block()
        block[PORT_B] = 0x1F
        lines, result = self.load(bytes(block))
        self.assertEqual((result, self.alerts(lines)), (1, []))
        self.assertEqual(self.sim.value("portb") & 0x1F, 0)
        self.assertEqual(self.save("port-b.bin")[PORT_B] & 0x1F, 0)

    def test_04_port_name_that_is_an_ordinary_file_is_left_alone(self):
        notes = os.path.join(self.prefix.path, "drive_c", "notes.txt")
        content = b"The user's own notes.\r\n" * 20
        with open(notes, "wb") as f:
            f.write(content)
        block = self.saved_block()
        block[PORT_NAME:SETTINGS + 280] = b"C:/notes.txt".ljust(260, b"\0")
        self.comm_calls()
        lines, result = self.load(bytes(block))
        self.assertEqual(result, 1)
        self.assertEqual(self.alerts(lines), [OPEN_FAILED.format("C:/notes.txt").encode("cp932")])
        calls = self.comm_calls()
        # Wine opens the file; the plug-in finds no line settings behind it and closes it.
        self.assertEqual(len([c for c in calls if c.startswith("comm open")]), 1, calls)
        self.assertFalse([c for c in calls if c.startswith(("comm dcb", "comm escape", "comm purge"))], calls)
        self.assertEqual(fields(self.sim.command("ticks 20")[0])["fired"], "20")
        with open(notes, "rb") as f:
            self.assertEqual(f.read(), content)


class NetworkLines(ProductHost):
    """Both network lines in one host: raw TCP, then, once the host hands
    over another settings file, RFC 2217 to ser2net serving a virtual line.
    A few KiB each way, byte for byte, and the modem lines following the
    connection."""
    RAW_PORT = free_port()
    INI = {"LOCK": "0", "PORT": f"tcp:{LOOPBACK}:{RAW_PORT}"}

    @classmethod
    def tearDownClass(cls):
        for peer in getattr(cls, "peers", []):
            peer.stop()
        super().tearDownClass()

    def program(self):
        """9600 bit/s 8N1, receiver and transmitter on with DTR and RTS: the mode byte opens the line."""
        self.sim.command("timer2 16")
        self.sim.command("mode 4E")
        self.sim.command("cmd 37")

    def lines_become(self, expected, timeout=60):
        """The guest's CS, CD and DSR once the line has had real time to notice a change."""
        deadline = time.monotonic() + timeout
        while True:
            seen = {name: value for name, value in fields(self.sim.command("lines")[0]).items()
                    if name in ("CS", "CD", "DSR")}
            if seen == expected or time.monotonic() > deadline:
                return seen
            self.sim.command("ticks 200")
            time.sleep(0.2)

    def test_01_raw_tcp_lines_follow_the_connection_and_bytes_cross_both_ways(self):
        off, on = dict(CS="off", CD="off", DSR="off"), dict(CS="on", CD="on", DSR="on")
        self.program()  # nobody listens yet: refused
        # The lines are off from the start, so they cannot tell when the refusal
        # came; under emulation it may take seconds. Past the line's own limit
        # on a connect (10 s) the attempt has surely ended, and only then does
        # the next mode byte connect anew rather than wait on the old attempt.
        settled = time.monotonic() + 11
        while time.monotonic() < settled:
            self.sim.command("ticks 200")
            time.sleep(0.2)
        self.assertEqual(self.lines_become(off, timeout=5), off)

        peer = TcpFarEnd(self.RAW_PORT)
        type(self).peers = [peer]
        self.sim.command("cmd 40")
        self.program()  # the next mode byte connects again
        self.assertTrue(peer.connected(60), "the plug-in did not connect")
        self.assertEqual(self.lines_become(on), on)
        self.exchange_random_block(2048, 6, self.work.directory, timeout=900, far=peer)

        peer.hang_up()
        self.assertEqual(self.lines_become(off), off)

    def test_02_rfc2217_to_ser2net_drives_the_remote_port_and_sees_its_lines(self):
        server = Rfc2217Server(self.folder, free_port(), "ser2net", self.work.native_cable)
        type(self).peers.append(server)
        server.line.set_lines(cts=True, dsr=True, dcd=True)
        settings = os.path.join(self.folder, "rfc2217.ini")
        write_ini(settings, LOCK="0", PORT=f"telnet:{LOOPBACK}:{server.port}")
        self.sim.command(f"setpath {windows_path(settings)}")
        self.sim.command("cmd 40")
        self.program()
        deadline = time.monotonic() + 60
        while server.line.near_termios() != (9600, 1) and time.monotonic() < deadline:
            self.sim.command("ticks 200")
        self.assertEqual(server.line.near_termios(), (9600, 1), "SET-BAUDRATE did not reach the remote port")
        on = dict(CS="on", CD="on", DSR="on")
        self.assertEqual(self.lines_become(on), on)
        server.line.drain()
        self.exchange_random_block(2048, 7, self.work.directory, timeout=900, far=server.line)

        server.line.set_lines(cts=True)  # the remote port's DSR and CD drop
        expected = dict(CS="on", CD="off", DSR="off")
        self.assertEqual(self.lines_become(expected), expected)


class ModemCallInTheProduct(ProductHost):
    """The product as a modem: a call to a local server, a few bytes each way,
    the escape and the hang-up."""
    INI = {"LOCK": "0", "PORT": "modem"}

    def guest_hears(self, ending):
        return hears(self.sim, ending, timeout=60, window_ms=500)

    def guest_types(self, text):
        types(self.sim, text)

    def test_01_dial_exchange_escape_and_hang_up(self):
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        server.settimeout(120)
        port = server.getsockname()[1]
        self.sim.command("timer2 16")
        self.sim.command("mode 4E")
        self.sim.command("cmd 37")
        self.guest_types("ATE0\r")
        self.assertEqual(self.guest_hears(b"OK\r\n"), b"ATE0\r\r\nOK\r\n")  # echoed while echo was still on
        self.guest_types(f"ATDT127.0.0.1:{port}\r")
        caller, _ = server.accept()
        caller.sendall(b"hello guest")
        self.assertEqual(self.guest_hears(b"guest"), b"\r\nCONNECT 9600\r\nhello guest")
        self.guest_types("hello host")
        caller.settimeout(60)
        self.assertEqual(receive_all(caller, len(b"hello host")), b"hello host")
        time.sleep(1.5)  # the guard time before and after the escape, in real time
        self.guest_types("+++")
        time.sleep(1.5)
        self.assertEqual(self.guest_hears(b"OK\r\n"), b"\r\nOK\r\n")
        self.guest_types("ATH\r")
        self.assertEqual(self.guest_hears(b"OK\r\n"), b"\r\nOK\r\n")
        self.assertEqual(caller.recv(100), b"+++")
        self.assertEqual(caller.recv(100), b"")  # hung up
        caller.close()
        server.close()


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class DialupInTheProduct(ProductHost):
    """The product as the dial-up ISP: the virtual machine's pppd dials 777
    through the 32-bit modem on the terminal line and fetches a small file.
    The host's time is virtual, so the line goes as fast as the emulated
    host steps, whatever rate the guest programs."""
    INI = {"LOCK": "1", "BAUDRATE": "9600", "PORT": "modem"}
    COM2 = True

    def test_01_pppd_brings_the_link_up_and_a_download_arrives_byte_for_byte(self):
        payload = random.Random(45).randbytes(16 * 1024)
        folder = os.path.join(self.folder, "www")
        os.makedirs(folder)
        with open(os.path.join(folder, "payload.bin"), "wb") as f:
            f.write(payload)
        web = http.server.ThreadingHTTPServer((LOOPBACK, 0), functools.partial(QuietFiles, directory=folder))
        threading.Thread(target=web.serve_forever, daemon=True).start()
        with open(self.ini, "a", newline="\r\n") as f:
            f.write(f"[RS-232C Dialup]\nHostPorts={web.server_address[1]}\n")
        for command in ("timer2 16", "mode 4E", "cmd 37", "out 35 05"):
            self.sim.command(command)
        self.sim.process.stdin.write(b"terminal COM2\n")  # until the next command line
        self.sim.process.stdin.flush()
        try:
            with GuestVM(self.folder) as guest, guest.join(self.guest_side.far):
                link = guest.dial("777", speed=9600, timeout=300)
                self.assertEqual((link.local, link.remote), (GUEST_ADDRESS, GATEWAY_ADDRESS))
                got = guest.fetch(f"http://{GATEWAY_ADDRESS}:{web.server_address[1]}/payload.bin", timeout=600)
                self.assertEqual(got.sha256, hashlib.sha256(payload).hexdigest())
                print(f"\nproduct: link up {link.up_at - link.connected_at:.1f} s after CONNECT,"
                      f" {len(payload)} bytes in {got.seconds:.1f} s")
                guest.hang_up()
                self.assertEqual(self.sim.command("echo stop", timeout=120)[0].split()[0], "terminal")
        finally:
            web.shutdown()
            web.server_close()
