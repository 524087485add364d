"""Machine reset, power-off, the status panel, and the save block across two runs of the host."""
import os
import struct

from support import DLL, EXE, HostSim, HostTest, fields, windows_path, write_ini

# The save block: version, then the 18 register bytes, the applied settings,
# the Timer2 count, the baud factor, the computed speed and the mode byte.
BLOCK_SIZE = 315
CHIP = 4
PORT_READY = CHIP + 17
PROGRAM_STATE = CHIP + 13
TX_ENABLE = CHIP + 8
TX_SHIFT, TX_HOLDING, TX_SHIFT_FULL, TX_HOLDING_FULL = CHIP + 9, CHIP + 10, CHIP + 11, CHIP + 12
PORT_B = CHIP + 3
SETTINGS = 22
TAIL = 302

VERSION_TEXT = "セーブデータのバージョンが違います".encode("cp932")


class ResetAndPowerOff(HostTest):
    LINES = dict(cts=True, dsr=True, dcd=True)  # RI off

    def test_reset_keeps_the_port_and_the_panel_shows_the_lines(self):
        self.program()
        self.comm_calls()
        self.sim.command("reset")
        calls = self.comm_calls()
        self.assertIn("comm purge flags=0F result=1", calls)
        self.assertFalse([c for c in calls if c.startswith(("comm close", "comm open"))], calls)

        expected = {"CS": "lit", "CI": "dark", "CD": "lit", "DSR": "lit"}
        self.assertEqual(self.refreshed_leds(expected), expected)
        _, figures = self.panel()
        self.assertEqual(figures, {"1013": "2457600", "1011": "16", "1014": "1/16", "1007": "9600", "1008": "9600"})

        # The guest programs the USART again on the port it kept.
        self.program()
        self.assertFalse([c for c in self.comm_calls() if c.startswith("comm open")])
        self.assertEqual(self.send_text(b"still here"), b"still here")

    def test_power_off_closes_the_port_and_darkens_the_leds(self):
        self.program()
        self.line.set_lines(cts=True, dsr=True, ri=True, dcd=True)
        all_lit = dict.fromkeys(("CS", "CI", "CD", "DSR"), "lit")
        self.assertEqual(self.refreshed_leds(all_lit), all_lit)

        self.sim.command("poweroff")
        self.assertIn("comm close result=1", self.comm_calls())
        self.assertTrue(self.line.near_closed(), f"still held by {self.line.near_holders()}")
        leds, _ = self.panel()
        self.assertEqual(set(leds.values()), {"dark"})
        self.sim.command("wait 700")  # no refresh lights them again
        leds, _ = self.panel()
        self.assertEqual(set(leds.values()), {"dark"})
        # No port: DSR, CI, CS and CD off; both transmit registers empty.
        self.assertEqual((self.sim.value("status"), self.sim.value("portb")), (0x05, 0xE0))
        self.assertEqual(fields(self.sim.command("timer")[0])["halts"], "1")


class StatusPanel(HostTest):
    def test_tab_comes_first_with_the_item_the_host_expects(self):
        lines = self.sim.command("panel")
        self.assertEqual(lines[0], "tabs 232C,System")
        # Text mask with right-to-left reading (5), a four-character limit and
        # no image, though the mask does not announce one.
        self.assertEqual([l for l in lines if l.startswith("tab inserted")],
                         ["tab inserted position=0 mask=5 text=232C limit=4 image=-1"])

    def test_leds_go_dark_when_the_port_goes_away_without_a_power_off(self):
        self.program()
        self.line.set_lines(cts=True, dsr=True, ri=True, dcd=True)
        all_lit = dict.fromkeys(("CS", "CI", "CD", "DSR"), "lit")
        self.assertEqual(self.refreshed_leds(all_lit), all_lit)

        # The user picks a port that cannot be opened; the next mode byte
        # closes COM1 and fails to open COM9.
        self.assertEqual(self.sim.command("config select 1000 COM9 ok")[-1], "config result=1")
        self.sim.command("cmd 40")
        lines = self.sim.command("mode 4E")
        self.assertEqual(self.alerts(lines), ["COM9のオープンに失敗".encode("cp932")])
        self.assertIn("comm close result=1", self.comm_calls())
        all_dark = dict.fromkeys(("CS", "CI", "CD", "DSR"), "dark")
        self.assertEqual(self.refreshed_leds(all_dark), all_dark)
        self.sim.command("wait 700")  # and the refreshes keep them dark
        self.assertEqual(self.panel()[0], all_dark)


class SaveAndLoad(HostTest):
    def save(self, name):
        path = self.work.path(name)
        self.assertEqual(self.sim.command(f"save {windows_path(path)}"), [f"saved bytes={BLOCK_SIZE}"])
        with open(path, "rb") as f:
            return f.read()

    def load(self, block, name="load.bin"):
        path = self.work.path(name)
        with open(path, "wb") as f:
            f.write(block)
        lines = self.sim.command(f"load {windows_path(path)}")
        return lines, int(fields(lines[-1])["result"])

    def test_block_restores_the_port_in_a_new_host(self):
        self.program(mode=0x7E)  # x16, 8 bits, even parity, one stop bit
        self.assertEqual(self.send_text(b"before"), b"before")
        block = self.save("saved.bin")
        self.assertEqual(len(block), BLOCK_SIZE)
        self.assertEqual(struct.unpack_from("<I", block, 0)[0], 1)
        self.assertEqual((block[PORT_READY], block[PROGRAM_STATE], block[TX_ENABLE]), (1, 3, 1))
        self.assertEqual(block[SETTINGS + 20:SETTINGS + 25], b"COM1\0")
        self.assertEqual(struct.unpack_from("<iIIB", block, TAIL), (16, 16, 9600, 0x7E))

        # The host stops and starts again; the plug-in starts with no port.
        self.sim.quit()
        self.assertTrue(self.line.near_closed())
        self.line.drain()
        self.sim = self.start_sim()
        self.assertEqual(self.sim.value("status"), 0x05)

        lines, result = self.load(block)
        self.assertEqual(result, 1)
        self.assertFalse(self.alerts(lines))
        calls = self.comm_calls()
        self.assertTrue([c for c in calls if c.startswith("comm open") and "result=ok" in c], calls)
        programmed = [d for d in self.dcbs(calls) if d["flags"] == "000020A3"]
        self.assertTrue(programmed, calls)
        self.assertEqual((programmed[0]["baud"], programmed[0]["size"], programmed[0]["parity"]), ("9600", "8", "2"))
        self.assertEqual(self.line.near_termios(), (9600, 1))
        # The commanded DTR and RTS are not re-issued: the restore programs
        # the USART afresh. (RTS itself may come back on: Wine reads the
        # flow-control flags back from the pseudo-terminal as "RTS enabled",
        # and the re-rate writes that record back.)
        escapes = [c.split()[2] for c in calls if c.startswith("comm escape")]
        self.assertEqual(sorted(set(escapes)), ["CLRBREAK", "CLRDTR", "CLRRTS"])
        self.assertFalse(self.line.near_lines()["dtr"])

        self.assertEqual(self.save("again.bin"), block)
        self.assertEqual(self.send_text(b"after"), b"after")
        self.assertEqual(self.receive_text(b"and back"), b"and back")

    def test_block_of_another_version_is_refused_with_a_message(self):
        self.program()
        block = bytearray(self.save("saved.bin"))
        struct.pack_into("<I", block, 0, 2)
        self.comm_calls()
        lines, result = self.load(bytes(block))
        self.assertEqual(result, 0)
        self.assertEqual(self.alerts(lines), [VERSION_TEXT])
        self.assertFalse(self.comm_calls())
        self.assertEqual(self.save("unchanged.bin")[4:], bytes(self.save("saved.bin")[4:]))

    def test_block_naming_an_ordinary_file_never_writes_to_it_nor_keeps_it(self):
        notes = os.path.join(self.work.prefix.path, "drive_c", "notes.txt")
        content = b"The user's own notes.\r\n" * 20
        with open(notes, "wb") as f:
            f.write(content)
        self.program()
        self.assertEqual(self.send_text(b"x"), b"x")

        # Someone else's block: aimed at the file, with a byte in each
        # transmit register, as a guest leaves them in the middle of a send.
        block = bytearray(self.save("saved.bin"))
        block[SETTINGS + 20:SETTINGS + 280] = b"C:/notes.txt".ljust(260, b"\0")
        block[TX_SHIFT:TX_HOLDING_FULL + 1] = b"!?\x01\x01"
        self.comm_calls()

        for attempt in range(2):
            lines, result = self.load(bytes(block))
            self.assertEqual(result, 1)
            self.assertEqual(self.alerts(lines), ["C:/notes.txtのオープンに失敗".encode("cp932")])
            calls = self.comm_calls()
            # Wine does open the file; the plug-in finds no line settings
            # behind it and closes it before anything else.
            opens = [c for c in calls if c.startswith("comm open")]
            self.assertEqual(len(opens), 1, calls)
            self.assertIn("path=//./C:/notes.txt", opens[0])
            self.assertIn("result=ok", opens[0])
            self.assertIn("comm close result=1", calls)
            self.assertFalse([c for c in calls if c.startswith(("comm dcb", "comm escape", "comm purge"))], calls)
            self.assertEqual(fields(self.sim.command("ticks 20")[0])["fired"], "20")

        with open(notes, "rb") as f:
            self.assertEqual(f.read(), content)
        # No one holds the file: another process opens it with no sharing.
        other_ini = self.work.path("other.ini")
        write_ini(other_ini, PORT="COM9", LOCK="0")
        other = HostSim(self.work.prefix, EXE, DLL, other_ini, log=self.work.wine_log)
        try:
            self.assertEqual(other.command(f"exclusive {windows_path(notes)}"), ["exclusive result=ok"])
        finally:
            other.quit()

    def test_port_b_bits_of_the_rest_of_the_machine_are_never_restored(self):
        self.program()
        block = bytearray(self.save("saved.bin"))
        block[PORT_B] = 0x1F
        lines, result = self.load(bytes(block))
        self.assertEqual(result, 1)
        self.assertEqual(self.sim.value("portb") & 0x1F, 0)
        self.assertEqual(self.save("again.bin")[PORT_B] & 0x1F, 0)
