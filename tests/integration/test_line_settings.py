"""What the mode byte, the Timer2 count and locked settings make of the real port.

Linux forces 8 data bits and no parity on a pseudo-terminal, so byte size and
parity are read from the line-settings record the plug-in hands to
SetCommState (the simulator records it); rate and stop bits are read from the
pseudo-terminal itself."""
from support import HostTest, periods


class GuestSettings(HostTest):
    def test_mode_bytes(self):
        self.sim.command("timer2 16")
        #        mode  rate  size parity stop  flags     Linux stop bits
        cases = [(0x4E, 9600, 8, 0, 0, "000020A1", 1),   # x16 8N1
                 (0x7A, 9600, 7, 2, 0, "000020A3", 1),   # x16 7E1
                 (0xFE, 9600, 8, 2, 2, "000020A3", 2),   # x16 8E2
                 (0xCF, 2400, 8, 0, 2, "000020A1", 2),   # x64 8N2
                 (0x0D, 115200, 8, 0, 0, "000020A1", 1)]  # x1, stop bits 00 taken as one
        for mode, rate, size, parity, stop, flags, linux_stop in cases:
            with self.subTest(mode=f"{mode:02X}"):
                self.comm_calls()
                self.sim.command(f"mode {mode:02X}")
                dcb = self.dcbs(self.comm_calls())[-1]
                self.assertEqual((dcb["baud"], dcb["size"], dcb["parity"], dcb["stop"], dcb["flags"]),
                                 (str(rate), str(size), str(parity), str(stop), flags))
                self.assertEqual(dcb["result"], "1")
                self.assertEqual(self.line.near_termios(), (rate, linux_stop))
                self.sim.command("cmd 40")  # internal reset: the next byte is a mode byte again

    def test_timer2_change_rerates_the_line(self):
        self.program()
        self.assertEqual(self.line.near_termios(), (9600, 1))
        self.sim.command("timer clear")
        self.sim.command("ticks 8")
        self.assertEqual(sorted(set(periods(self.sim))), [93, 94])  # 9 bits at 9600: 93.75 units

        self.comm_calls()
        self.sim.command("timer2 8")  # 2457600 / (8 x 16) = 19200
        self.assertEqual([d["baud"] for d in self.dcbs(self.comm_calls())], ["19200"])
        self.assertEqual(self.line.near_termios(), (19200, 1))
        self.sim.command("timer clear")
        self.sim.command("ticks 8")
        self.assertEqual(sorted(set(periods(self.sim))), [46, 47])  # 46.875 units
        _, figures = self.panel()
        self.assertEqual((figures["1011"], figures["1007"], figures["1008"]), ("8", "19200", "19200"))
        self.assertEqual(self.send_text(b"faster"), b"faster")


class LockedSettings(HostTest):
    INI = dict(PORT="COM1", LOCK="1", BAUDRATE="38400", PARITY="EVEN", STOPBITS="2", BYTESIZE="7")

    def test_locked_settings_win_over_the_guest(self):
        self.sim.command("timer2 16")
        self.sim.command("mode 4E")  # the guest asks for 9600 8N1
        dcb = self.dcbs(self.comm_calls())[-1]
        # Parity enable (the flag word) still follows the mode byte.
        self.assertEqual((dcb["baud"], dcb["size"], dcb["parity"], dcb["stop"], dcb["flags"]),
                         ("38400", "7", "2", "2", "000020A1"))
        self.assertEqual(self.line.near_termios(), (38400, 2))
        _, figures = self.panel()
        self.assertEqual((figures["1007"], figures["1008"]), ("9600", "38400"))

        self.sim.command("timer2 4")  # a faster guest clock changes nothing on the line
        self.assertEqual([d["baud"] for d in self.dcbs(self.comm_calls())], ["38400"])
        self.assertEqual(self.line.near_termios()[0], 38400)
