"""What tests read off a host simulator session: the comm trace, the message
boxes, the panel, and a few bytes each way over the virtual line. Mixed into
the test classes of the 64-bit integration run and of the product's own run,
which set `sim`, `line` and, for slower hosts, `WAIT_SECONDS`."""
from winehost import fields


class HostSimChecks:
    WAIT_SECONDS = 5

    def comm_calls(self):
        return self.sim.command("comm")

    def dcbs(self, calls):
        return [fields(call) for call in calls if call.startswith("comm dcb")]

    def alerts(self, lines):
        return [bytes.fromhex(fields(line)["text"]) for line in lines if line.startswith("alert")]

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
