"""What tests read off a host simulator session: the comm trace, the message
boxes, the panel, and a few bytes each way over the virtual line. Mixed into
the test classes of the 64-bit integration run and of the product's own run,
which set `sim`, `line` and, for slower hosts, `WAIT_SECONDS`."""
import os
import random
import threading
import time

from winehost import ALERT, fields, windows_path


def periods(sim):
    """The timer periods the plug-in armed since the last "timer clear", in 10 us units."""
    return [int(p) for p in fields(sim.command("timer")[0])["periods"].split(",") if p]


def guest_busy_for(sim, seconds):
    """A guest polls for a byte that never comes while the ticks run, for
    `seconds` of real time; returns the longest tick and port access meanwhile."""
    sim.command("longest clear")
    sim.command("idle 250")
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        sim.command("recv 1", check=False)
    return {key: int(value) for key, value in fields(sim.command("longest")[0]).items()}


class HostSimChecks:
    WAIT_SECONDS = 5

    def comm_calls(self):
        return self.sim.command("comm")

    def dcbs(self, calls):
        return [fields(call) for call in calls if call.startswith("comm dcb")]

    def alerts(self, lines):
        """The ANSI bytes of each message box's text."""
        return [bytes.fromhex(match[2]) for match in map(ALERT.match, lines) if match]

    def alert_texts(self, lines):
        """Each message box's text as the simulator decoded it."""
        return [match[3].encode("latin-1").decode("utf-8") for match in map(ALERT.match, lines) if match]

    def panel(self):
        lines = self.sim.command("panel")
        leds = {k: v.split("(")[0] for k, v in fields(next(l for l in lines if l.startswith("leds"))).items()}
        figures = fields(next(l for l in lines if l.startswith("fields")))
        return leds, figures

    def refreshed_leds(self, expected, timeout=None):
        """The LEDs once a 500 ms refresh of the panel has shown `expected` (or the last seen)."""
        for _ in range(int((timeout or self.WAIT_SECONDS) / 0.25)):
            leds, _ = self.panel()
            if leds == expected:
                break
            self.sim.command("wait 250")
        return leds

    def send_text(self, data):
        """Guest to far end: returns what the far end read."""
        result = fields(self.sim.command(f"send hex:{data.hex()}")[0])
        self.assertEqual(result["end"], "done")
        return self.line.read(len(data), timeout=self.WAIT_SECONDS)

    def receive_text(self, data):
        """Far end to guest: returns what the guest read."""
        self.line.write(data)
        self.assertTrue(self.line.delivered(len(data)))
        lines = self.sim.command(f"recv {len(data)}")
        return bytes.fromhex(fields(next(l for l in lines if l.startswith("data hex")))["hex"])

    def exchange_random_block(self, count, seed, folder, timeout=300, far=None):
        """`count` random bytes each way at once through the guest's xfer, with
        the far end of the line (or `far`); both must arrive whole and in order."""
        far_end = far or self.line
        rng = random.Random(seed)
        outgoing = bytes(rng.getrandbits(8) for _ in range(count))
        incoming = bytes(rng.getrandbits(8) for _ in range(count))
        out_file, in_file = os.path.join(folder, f"{seed}.out"), os.path.join(folder, f"{seed}.in")
        with open(out_file, "wb") as f:
            f.write(outgoing)
        got = {}
        worker = threading.Thread(target=lambda: got.update(data=far_end.exchange(incoming, count)))
        worker.start()
        lines = self.sim.command(f"xfer file:{windows_path(out_file)} {count} file:{windows_path(in_file)}",
                                 timeout=timeout)
        worker.join()
        self.assertEqual(fields(lines[0])["end"], "done")
        self.assertEqual(got["data"], outgoing, "guest to far end")
        with open(in_file, "rb") as f:
            self.assertEqual(f.read(), incoming, "far end to guest")
        os.remove(out_file)
        os.remove(in_file)
