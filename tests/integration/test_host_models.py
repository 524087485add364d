"""The emulator's main loop in real time: the guest and the timer on one
thread, the guest's interrupt service routine run at its next step after a
tick raised line 4. First a block each way, then the guest's side handed to
a second serial port, where Linux's lrzsz plays the guest's software."""
import os
import random
import subprocess
import tempfile

from support import HostTest, VirtualLine, fields

COUNT_38400 = 4
RX_AND_TX_INTERRUPTS = "05"


class EmulatorLoop(HostTest):
    VIRTUAL = False
    HOST = "emulator"

    def test_interrupt_driven_guest_moves_a_block_each_way_in_real_time(self):
        self.program(count=COUNT_38400)
        self.sim.command(f"out 35 {RX_AND_TX_INTERRUPTS}")
        self.sim.command("irq clear")
        self.exchange_random_block(2048, 38400, self.work.directory)
        # The guest moved the bytes from its interrupt routine: every byte each way was announced.
        self.assertGreaterEqual(int(fields(self.sim.command("irq")[0])["count"]), 2048)


class TerminalLine(HostTest):
    """COM1 is the plug-in's line; COM2 is the guest's side of the USART, with
    lrzsz at the far end of each."""
    VIRTUAL = False

    def setUp(self):
        super().setUp()
        self.guest_side = VirtualLine(self.work.directory, self.work.near2, name="2").start()
        self.program(count=COUNT_38400)
        self.sim.command(f"out 35 {RX_AND_TX_INTERRUPTS}")
        # Runs until the next command line; its report comes before that command's.
        self.sim.process.stdin.write(b"terminal COM2\n")
        self.sim.process.stdin.flush()

    def tearDown(self):
        super().tearDown()
        self.guest_side.stop()

    def zmodem(self, sender_far, receiver_far, payload, folder):
        """`sz` at one far end sends `payload` to `rz` at the other; returns what rz wrote."""
        for far in (self.line, self.guest_side):
            far.drain(0.5)  # what a session before left in flight: sz's closing "OO" comes after rz has gone
        source = os.path.join(folder, "sent", "payload.bin")
        os.makedirs(os.path.dirname(source))
        with open(source, "wb") as f:
            f.write(payload)
        received = os.path.join(folder, "received")
        os.makedirs(received)
        log = open(os.path.join(folder, "lrzsz.log"), "wb")
        ends = [os.open(path, os.O_RDWR | os.O_NOCTTY) for path in (receiver_far, sender_far)]
        try:
            rz = subprocess.Popen(["rz", "-b", "-y"], cwd=received, stdin=ends[0], stdout=ends[0], stderr=log)
            sz = subprocess.Popen(["sz", "-b", source], stdin=ends[1], stdout=ends[1], stderr=log)
            statuses = (sz.wait(120), rz.wait(30))
        finally:
            for process in (rz, sz):
                if process.poll() is None:
                    process.kill()  # by its own id
                    process.wait()
            for end in ends:
                os.close(end)
            log.close()
        with open(log.name, errors="replace") as said:
            self.assertEqual(statuses, (0, 0), said.read()[-2000:])
        with open(os.path.join(received, "payload.bin"), "rb") as f:
            return f.read()

    def test_lrzsz_sends_both_ways_through_the_plug_in(self):
        rng = random.Random(2)
        there, back = rng.randbytes(4096), bytes(range(256)) * 12  # every byte value, ZMODEM's escapes among them
        with tempfile.TemporaryDirectory(dir=self.work.directory) as folder:
            self.assertEqual(self.zmodem(self.guest_side.far, self.line.far, there, os.path.join(folder, "out")),
                             there, "guest's software to the line")
            self.assertEqual(self.zmodem(self.line.far, self.guest_side.far, back, os.path.join(folder, "in")),
                             back, "line to the guest's software")
        lines = self.sim.command("echo stop")
        report = fields(next(line for line in lines if line.startswith("terminal ")))
        self.assertEqual(report["end"], "stopped")
        self.assertGreater(int(report["sent"]), len(there))
        self.assertGreater(int(report["received"]), len(back))
