"""The modem lines across the virtual cable, both ways, and what they gate."""
from support import HostTest, fields

TX_READY, RX_READY, TX_EMPTY, DSR = 0x01, 0x02, 0x04, 0x80


class ModemLines(HostTest):
    def setUp(self):
        super().setUp()
        self.program()

    def test_port_b_and_dsr_follow_the_far_end(self):
        # Port B holds CI (bit 7), CS (bit 6) and CD (bit 5), each 0 while the
        # signal is on; status bit 7 is DSR.
        cases = [
            (dict(), 0xE0, 0),
            (dict(cts=True), 0xA0, 0),
            (dict(ri=True), 0x60, 0),
            (dict(dcd=True), 0xC0, 0),
            (dict(dsr=True), 0xE0, DSR),
            (dict(cts=True, dsr=True, ri=True, dcd=True), 0x00, DSR),
        ]
        for lines, port_b, dsr in cases:
            with self.subTest(lines=lines):
                self.line.set_lines(**lines)
                self.assertEqual(self.sim.value("portb"), port_b)
                self.assertEqual(self.sim.value("status") & DSR, dsr)

    def test_commands_drive_dtr_rts_and_break(self):
        self.assertEqual(self.line.near_lines()["dtr"], True)  # command 0x37 of setUp
        self.assertEqual(self.line.near_lines()["rts"], True)

        self.sim.command("cmd 40")  # internal reset: DTR, RTS and break off
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (False, False, False))

        self.sim.command("mode 4E")
        breaks = self.line.near_lines()["breaks"]
        self.sim.command("cmd 0A")  # DTR and break, no RTS
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (True, False, True))
        self.assertEqual(near["breaks"], breaks + 1)

        self.sim.command("cmd 20")  # RTS alone ends the break and drops DTR
        near = self.line.near_lines()
        self.assertEqual((near["dtr"], near["rts"], near["break"]), (False, True, False))

    def test_a_written_byte_waits_for_cts(self):
        self.line.set_lines(dsr=True)
        self.sim.command("write 41")
        self.sim.command("ticks 8")
        self.assertEqual(self.line.read(1, timeout=0.5), b"")
        # Held: TxRDY off; TxEMPTY reads on while CTS is off.
        self.assertEqual(self.sim.value("status"), DSR | TX_EMPTY)

        self.line.set_lines(cts=True, dsr=True)
        self.sim.command("ticks 2")  # one to reach the shift register, one to leave
        self.assertEqual(self.line.read(1, timeout=5), b"A")
        self.assertEqual(self.sim.value("status"), DSR | TX_EMPTY | TX_READY)

    def test_received_bytes_wait_one_at_a_time_with_an_interrupt_each(self):
        self.sim.command("out 35 01")  # RxRDY interrupt enable
        self.sim.command("irq clear")
        self.line.write(b"xyz")
        self.assertTrue(self.line.delivered(3))
        self.sim.command("ticks 40")
        # One byte waits in the USART, the rest in the port.
        self.assertEqual(fields(self.sim.command("irq")[0])["count"], "1")
        self.assertEqual(self.sim.value("status") & RX_READY, RX_READY)
        received = bytes([self.sim.value("data")])
        for expected_count in (2, 3):
            self.sim.command("ticks 2")
            self.assertEqual(fields(self.sim.command("irq")[0]), {"count": str(expected_count), "line": "4"})
            received += bytes([self.sim.value("data")])
        self.assertEqual(received, b"xyz")
        self.assertEqual(self.sim.value("status") & RX_READY, 0)
