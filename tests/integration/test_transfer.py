"""Data through the real plug-in and a real pseudo-terminal, byte for byte and at the line's pace."""

from support import HostTest, fields

BLOCK = 64 * 1024


def character_time(rate, bits=9.0):
    """One character on the line in timer units of 10 us (8N1 counts 9 bits, no start bit)."""
    return bits * 100000 / rate


class Transfer(HostTest):
    def exchange_block(self, seed):
        """A random 64 KiB block each way at once; both arrive whole and in order."""
        self.exchange_random_block(BLOCK, seed, self.work.directory)

    def check_pace(self, rate, count=1000):
        """Sending and receiving `count` bytes take `count` character times of the line."""
        expected = count * character_time(rate)
        data = bytes(range(256)) * (count // 256) + bytes(count % 256)
        sent = fields(self.sim.command(f"send hex:{data.hex()}")[0])
        self.assertEqual(self.line.read(count), data)
        self.assertAlmostEqual(int(sent["units"]), expected, delta=2 * character_time(rate))

        self.line.write(data)
        self.assertTrue(self.line.delivered(count))
        lines = self.sim.command(f"recv {count}")
        self.assertEqual(bytes.fromhex(fields(lines[1])["hex"]), data)
        self.assertAlmostEqual(int(fields(lines[0])["units"]), expected, delta=2 * character_time(rate))

    def test_9600(self):
        self.program()  # 2457600 / (16 x 16) = 9600
        self.assertEqual(self.line.near_termios(), (9600, 1))
        self.assertEqual(self.send_text(b"Hello, far end!\r\n"), b"Hello, far end!\r\n")
        self.assertEqual(self.receive_text(b"Hello, guest.\r\n"), b"Hello, guest.\r\n")
        self.check_pace(9600)
        self.exchange_block(9600)

    def test_115200(self):
        self.program(count=1)  # 2457600 / 16 = 153600, rounded to the fastest rate
        self.assertEqual(self.line.near_termios(), (115200, 1))
        _, figures = self.panel()
        self.assertEqual((figures["1007"], figures["1008"]), ("153600", "115200"))
        self.check_pace(115200)
        self.exchange_block(115200)
