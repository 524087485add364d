"""Faults on the line while data flows: the cable pulled out, the adapter
pulled out and put back, the port renamed in the dialog, a restore in the
middle of a transfer. Nothing may crash or hang, the user hears only of what
really failed, and data flows again byte for byte once the line is back."""
import os
import random
import select
import threading
import time

from support import HostTest, VirtualLine, fields, read_ini, windows_path

OPEN_FAILED_COM1 = "COM1のオープンに失敗".encode("cp932")
PORT_LIST = 1000


def random_block(seed, count):
    return random.Random(seed).randbytes(count)


def with_one_gap(sent, got):
    """True when `got` is `sent` with at most one run of bytes missing, the rest whole and in order."""
    head = 0
    while head < len(got) and head < len(sent) and got[head] == sent[head]:
        head += 1
    tail = len(got) - head
    return len(got) <= len(sent) and got[head:] == sent[len(sent) - tail:]


class FaultTest(HostTest):
    def far_end(self, line, action):
        """Runs `action` (the far end's part) on a thread; returns the thread and what it stores."""
        result = {}
        thread = threading.Thread(target=lambda: result.update(action(line)))
        thread.start()
        return thread, result

    def transfer(self, line, outgoing, incoming, far_end=None, timeout=60):
        """Both ways at once between the guest and `line`'s far end; returns (output lines, far got, guest got).

        The far end writes `incoming` all at once unless `far_end` (the line, the bytes) does it."""
        tag = f"{self.id().rsplit('.', 1)[-1]}-{len(outgoing)}-{time.monotonic_ns()}"
        out_file, in_file = self.work.path(f"{tag}.out"), self.work.path(f"{tag}.in")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        far_end = far_end or (lambda l, data: l.exchange(data, len(outgoing), timeout=3))
        worker, far = self.far_end(line, lambda l: {"data": far_end(l, incoming)})
        lines = self.sim.command(f"xfer file:{windows_path(out_file)} {len(incoming)} file:{windows_path(in_file)}",
                                 timeout=timeout, check=False)
        worker.join()
        with open(in_file, "rb") as f:
            received = f.read()
        os.remove(out_file)
        os.remove(in_file)
        return lines, far["data"], received

    @staticmethod
    def result(lines, name="xfer"):
        """The fields of a transfer's result line (other threads' lines may come before it)."""
        return fields(next(line for line in lines if line.startswith(name + " ")))

    def assert_flows(self, line, seed, count=1000):
        lines, far, guest = self.transfer(line, random_block(seed, count), random_block(seed + 1, count))
        self.assertEqual(self.result(lines)["end"], "done", lines)
        self.assertEqual(far, random_block(seed, count), "guest to far end")
        self.assertEqual(guest, random_block(seed + 1, count), "far end to guest")
        self.assertFalse(self.alerts(lines))


class LineTakenAway(FaultTest):
    VIRTUAL = False  # the host's own timer: the line keeps its pace while the far end acts

    def test_cable_pulled_out_mid_transfer_holds_the_data_until_it_is_back(self):
        self.program()
        outgoing = random_block(1, 2000)

        def far(line):
            got = line.read(500)
            line.set_lines()  # CTS, DSR and DCD drop with the cable
            time.sleep(1.0)
            while_out = line.read(1 << 16, timeout=0.05)
            line.set_lines(cts=True, dsr=True, dcd=True)
            return {"got": got + while_out + line.read(len(outgoing), timeout=5), "while_out": while_out}

        worker, far_got = self.far_end(self.line, far)
        lines = self.sim.command(f"send hex:{outgoing.hex()}")
        worker.join()
        result = self.result(lines, "sent")
        self.assertEqual(result["end"], "done")
        self.assertEqual(far_got["got"], outgoing)
        # What was in the shift register left; the holding register waited for CTS.
        self.assertLessEqual(len(far_got["while_out"]), 3)
        self.assertGreater(int(result["units"]), 2000 * 93 + 80000)
        self.assertFalse(self.alerts(lines))

    def test_adapter_pulled_out_mid_transfer_and_put_back(self):
        self.program()
        self.sim.command("idle 1500")
        outgoing, incoming = random_block(2, 3000), random_block(3, 3000)

        # The far end takes 1000 bytes, then the adapter goes: Wine's handle
        # on the near side is hung up and the device is gone.
        def far(line):
            got = line.exchange(incoming, 1000, timeout=10)
            line.unplug()
            return {"data": got}

        out_file, in_file = self.work.path("pulled.out"), self.work.path("pulled.in")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        worker, far_got = self.far_end(self.line, far)
        lines = self.sim.command(f"xfer file:{windows_path(out_file)} 3000 file:{windows_path(in_file)}", timeout=60,
                                 check=False)
        worker.join()
        result = self.result(lines)
        # The guest sent everything (a write to a vanished port fails and the
        # byte is gone); what it waited for never came, and it gave up.
        self.assertEqual((result["end"], result["sent"]), ("idle", "3000"))
        self.assertFalse(self.alerts(lines))
        with open(in_file, "rb") as f:
            guest_got = f.read()
        # Up to the moment the adapter went, both ways byte for byte.
        self.assertGreaterEqual(len(far_got["data"]), 1000)
        self.assertEqual(far_got["data"], outgoing[:len(far_got["data"])])
        self.assertGreater(len(guest_got), 500)
        self.assertEqual(guest_got, incoming[:len(guest_got)])

        # The guest programs the USART again while the adapter is out: the dead
        # handle is let go and the open fails, with the port's name.
        self.comm_calls()
        self.sim.command("cmd 40")
        lines = self.sim.command("mode 4E")
        self.assertEqual(self.alerts(lines), [OPEN_FAILED_COM1])
        calls = self.comm_calls()
        self.assertIn("comm close result=1", calls)
        self.assertIn("comm open path=//./COM1 access=C0000000 share=0 disposition=3 flags=00000000 result=fail", calls)
        self.assertFalse(self.dcbs(calls))
        self.assertEqual((self.sim.value("status"), self.sim.value("portb")), (0x05, 0xE0))

        # Put back: the next mode byte opens it, and data flows again.
        self.line.plug()
        self.sim.command("cmd 40")
        lines = self.sim.command("mode 4E")
        self.assertFalse(self.alerts(lines))
        calls = self.comm_calls()
        self.assertIn("comm open path=//./COM1 access=C0000000 share=0 disposition=3 flags=00000000 result=ok", calls)
        self.assertEqual([d["baud"] for d in self.dcbs(calls)][-1], "9600")
        self.sim.command("cmd 37")
        self.assertEqual(self.line.near_termios(), (9600, 1))
        self.assert_flows(self.line, 4)
        self.assertEqual(self.sim.quit(), 0)


class PortRenamed(FaultTest):
    def setUp(self):
        super().setUp()
        self.line2 = VirtualLine(self.work.directory, self.work.near2, name="2").start()
        self.line2.set_lines(cts=True, dsr=True, dcd=True)

    def tearDown(self):
        super().tearDown()
        self.line2.stop()

    def recv(self, count):
        lines = self.sim.command(f"recv {count}")
        return bytes.fromhex(fields(next(l for l in lines if l.startswith("data hex")))["hex"])

    def test_new_port_takes_over_at_the_next_mode_byte(self):
        self.program()
        self.comm_calls()
        incoming = random_block(5, 600)
        self.line.write(incoming)
        self.assertTrue(self.line.delivered(len(incoming)))
        self.assertEqual(self.recv(300), incoming[:300])

        lines = self.sim.command(f"config select {PORT_LIST} COM2 ok")
        self.assertEqual(lines[-1], "config result=1")
        self.assertEqual(read_ini(self.ini)["PORT"], "COM2")
        self.assertFalse([c for c in self.comm_calls() if c.startswith(("comm close", "comm open"))])

        # Until the guest's next mode byte the old port carries on, both ways.
        self.assertEqual(self.recv(300), incoming[300:])
        self.assertEqual(self.send_text(b"still on COM1"), b"still on COM1")
        self.assertFalse(self.line2.near_holders())

        self.sim.command("cmd 40")
        lines = self.sim.command("mode 4E")
        self.assertFalse(self.alerts(lines))
        calls = self.comm_calls()
        self.assertEqual([c for c in calls if c.startswith(("comm close", "comm open"))],
                         ["comm close result=1",
                          "comm open path=//./COM2 access=C0000000 share=0 disposition=3 flags=00000000 result=ok"])
        self.assertTrue(self.line.near_closed(), f"COM1 still held by {self.line.near_holders()}")
        self.assertTrue(self.line2.near_holders())
        self.assertEqual(self.line2.near_termios(), (9600, 1))

        self.sim.command("cmd 37")
        self.assert_flows(self.line2, 6)
        self.assertEqual(self.line.read(1, timeout=0.3), b"")


def paced_exchange(line, data, per_second=1000, quiet=2):
    """The far end sends `data` at about `per_second` bytes a second (under
    the line's pace, so the port's input queue stays short) while reading
    whatever comes, until all is sent and the line has been quiet for `quiet` seconds."""
    received = bytearray()
    started = last = time.monotonic()
    sent = 0
    while sent < len(data) or time.monotonic() - last < quiet:
        due = min(len(data), int((time.monotonic() - started) * per_second) + 1)
        if due > sent:
            line.write(data[sent:due])
            sent = due
            last = time.monotonic()
        if select.select([line.fd], [], [], 0.005)[0]:
            try:
                received += os.read(line.fd, 1 << 16)
                last = time.monotonic()
            except BlockingIOError:
                pass
    return bytes(received)


class RestoreMidTransfer(FaultTest):
    VIRTUAL = False
    HOST = "threaded"  # the timer's thread, the guest's and the host's restore, all in the plug-in at once

    def test_restore_while_data_flows_both_ways(self):
        self.program()
        self.assertEqual(self.send_text(b"saved here"), b"saved here")
        block = self.work.path("mid-transfer.bin")
        self.sim.command(f"save {windows_path(block)}")
        self.comm_calls()

        # About 4 s of line each way at 9600; the host restores after 1 s.
        outgoing, incoming = random_block(7, 4000), random_block(8, 4000)
        self.sim.command("idle 1500")
        self.sim.command(f"load {windows_path(block)} after 1000")
        started = time.monotonic()
        lines, far, guest = self.transfer(self.line, outgoing, incoming, far_end=paced_exchange)
        self.assertLess(time.monotonic() - started, 30)
        self.assertIn("loaded result=1", lines)
        self.assertFalse(self.alerts(lines))
        self.assertIn(self.result(lines)["end"], ("done", "idle"))
        # The restore drops what was in flight (the purge, the registers put
        # back as saved) but nothing else, and corrupts nothing; the transfer
        # goes on after it (it came a quarter of the way through).
        self.assertTrue(with_one_gap(outgoing, far), f"guest to far end: {len(far)} bytes")
        self.assertTrue(with_one_gap(incoming, guest), f"far end to guest: {len(guest)} bytes")
        self.assertGreater(min(len(far), len(guest)), 2500)

        # The port was programmed again, as the guest had it, and not reopened.
        calls = self.comm_calls()
        self.assertFalse([c for c in calls if c.startswith(("comm close", "comm open"))], calls)
        self.assertTrue({"comm escape CLRDTR result=1", "comm escape CLRBREAK result=1",
                         "comm escape CLRRTS result=1", "comm purge flags=0F result=1"} <= set(calls), calls)
        self.assertIn(("9600", "8", "0", "0", "000020A1", "1"),
                      [(d["baud"], d["size"], d["parity"], d["stop"], d["flags"], d["result"]) for d in self.dcbs(calls)])

        self.sim.command("listen 300")
        self.line.drain()
        self.assert_flows(self.line, 9)
        self.assertEqual(self.sim.quit(), 0)
