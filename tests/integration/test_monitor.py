"""The line monitor under Wine: a transfer both ways, control-line changes and
a change of rate, read back from the log the plug-in wrote and from what
hostsim --monitor printed as it went; a modem call's commands, results and
steps; and a log that cannot be written."""
import os
import re

from support import DLL, EXE, HostSim, HostTest, fields, windows_path  # puts tools/host on the path
from network_peers import LoopbackServer  # noqa: E402
from test_modem import CONNECT, NO_CARRIER, ModemTest

ROW = re.compile(r"^ *(\d+\.\d{6})  (TX|RX|  |--)  (.*)$")
BITS = 9  # a character of 8N1 as the device paces it


def parse(lines):
    """(time, direction, bytes) for each row and (time, "--", text) for each event, in order."""
    records = []
    direction = None
    for line in lines:
        match = ROW.match(line)
        if not match:
            continue
        time, label, rest = float(match[1]), match[2], match[3]
        if label == "--":
            records.append((time, "--", rest))
            continue
        direction = label if label != "  " else direction
        records.append((time, direction, bytes.fromhex(rest[:47].replace(" ", ""))))
    return records


class Logged(HostTest):
    """A simulator whose settings name a log beside them, on a timer in real
    time (the log's times are the computer's)."""
    VIRTUAL = False
    KEYS = {}

    def setUp(self):
        self.log_name = f"{self.id()}.log"
        self.INI = dict(LOCK="0", MONITOR=self.log_name, **self.KEYS)
        super().setUp()

    def log_lines(self):
        with open(self.work.path(self.log_name), encoding="utf-8-sig") as f:
            return f.read().splitlines()


class Monitor(Logged):
    def start_sim(self):
        sim = HostSim(self.work.prefix, EXE, DLL, self.ini, line=self.line, cable=self.work.cable, virtual=False,
                      log=self.work.wine_log, options=["--monitor"])
        self.assertEqual(sim.startup[-1], "ready", sim.startup)
        self.printed = []
        return sim

    def run_command(self, text):
        lines = self.sim.command(text)
        self.printed += lines
        return [line for line in lines if not (ROW.match(line) or line.startswith("#") or not line)]

    def quit(self):
        """Ends the simulator and keeps what it printed to the end."""
        self.sim.process.stdin.write(b"quit\n")
        self.sim.process.stdin.close()
        self.printed += [line.rstrip("\r") for line in self.sim.process.stdout.read().decode("latin-1").split("\n")]
        self.sim.process.wait(60)
        self.sim.log.close()
        self.sim = None

    def send(self, data):
        """Returns the seconds the simulator timed from the first byte to the last."""
        result = fields(self.run_command(f"send hex:{data.hex()}")[0])
        self.assertEqual(result["end"], "done")
        self.assertEqual(self.line.read(len(data), timeout=30), data)
        return (int(result["units"]) - int(result["first"])) / 1e5

    def test_a_transfer_both_ways_with_its_signals_and_rate_in_order_and_at_the_lines_pace(self):
        shift_jis = "こんにちは、モニタです。".encode("cp932")
        first = bytes(range(256)) + shift_jis + b"\r\n"             # at 9600 bit/s
        reply = b"\r\nOK " + shift_jis + bytes(range(255, -1, -1))  # the far end's
        second = os.urandom(1000)                                    # at 38400 bit/s

        for command in ("timer2 16", "mode 4E", "cmd 37"):
            self.run_command(command)
        first_took = self.send(first)
        self.line.write(reply)
        received = self.run_command(f"recv {len(reply)}")
        self.assertEqual(bytes.fromhex(fields(next(l for l in received if l.startswith("data hex")))["hex"]), reply)
        self.line.set_lines(cts=True, dsr=False, dcd=False)
        self.run_command("lines")
        self.line.set_lines(cts=True, dsr=True, dcd=True)
        self.run_command("lines")
        self.run_command("cmd 17")  # RTS off
        self.run_command("cmd 37")
        self.run_command("timer2 4")  # 2457600 / (4 x 16) = 38400
        second_took = self.send(second)
        self.run_command("poweroff")
        self.quit()

        log = self.log_lines()
        records = parse(log)
        self.assertEqual(b"".join(r[2] for r in records if r[1] == "TX"), first + second)
        self.assertEqual(b"".join(r[2] for r in records if r[1] == "RX"), reply)
        events = [r[2] for r in records if r[1] == "--"]
        at = 0
        for text in ["open COM1", "format 9600 bit/s 8N1", "DTR on", "RTS on", "CTS on  DSR on  CD on  RI off",
                     "DSR off  CD off", "DSR on  CD on", "RTS off", "RTS on", "rate 38400 bit/s",
                     f"close COM1: {len(first) + len(second)} bytes sent, {len(reply)} received"]:
            self.assertIn(text, events[at:], events)
            at += events[at:].index(text) + 1

        # Times follow the line's pace. Each block spans the time the simulator
        # timed it (with the same clock, the computer's); the character time
        # within a group is the rate's, from row to row (the median, since a
        # shared machine may stall the emulator now and then), and follows the
        # change of rate.
        rate_at = next(i for i, r in enumerate(records) if r[2] == "rate 38400 bit/s")
        slow = [r for r in records[:rate_at] if r[1] == "TX"]
        fast = [r for r in records[rate_at:] if r[1] == "TX"]
        self.assertEqual(b"".join(r[2] for r in slow), first)

        def character_time(rows):
            gaps = sorted((b[0] - a[0]) / len(a[2]) for a, b in zip(rows, rows[1:]) if len(a[2]) == 16)
            return gaps[len(gaps) // 2]

        for rows, took in ((slow, first_took), (fast, second_took)):
            span = rows[-1][0] - rows[0][0] + (len(rows[-1][2]) - 1) * character_time(rows)
            self.assertAlmostEqual(span, took, delta=0.05 * took + 0.005)
        self.assertAlmostEqual(character_time([r for r in records if r[1] == "RX"]), BITS / 9600,
                               delta=0.1 * BITS / 9600)
        self.assertGreater(character_time(slow) / character_time(fast), 2.5)
        times = [r[0] for r in records]
        self.assertEqual(times, sorted(times))

        # hostsim --monitor printed the same lines as they came.
        printed = [line for line in self.printed if ROW.match(line)]
        self.assertEqual([line.encode("latin-1").decode("utf-8") for line in printed],
                         [line for line in log if ROW.match(line)])


class ModemCall(ModemTest):
    PHONEBOOK = {"555": "127.0.0.1:{port}"}
    SETTINGS = {"MONITOR": "modem-call.log"}

    def test_a_calls_commands_results_and_steps_in_their_order(self):
        self.peers.append(LoopbackServer(self.port))
        self.command("ATDT555", ending=CONNECT)
        self.peers[0].accept().close()  # the far end hangs up
        self.hear_until(NO_CARRIER)
        self.sim.quit()
        with open(self.work.path("modem-call.log"), encoding="utf-8-sig") as f:
            events = [r[2] for r in parse(f.read().splitlines()) if r[1] == "--" and r[2].startswith(("modem ", "call"))]
        self.assertEqual(events, ["modem command: ATE0", "modem result: OK", "modem command: ATDT555",
                                  f"call: dialling 555 (phonebook: 127.0.0.1:{self.port})", "call: connected",
                                  "modem result: CONNECT 9600", "call: hung up by the far end",
                                  "modem result: NO CARRIER"])


class MonitorFailure(HostTest):
    MISSING = "no such folder\\line.log"
    INI = dict(LOCK="0", MONITOR=MISSING)

    def test_a_log_that_cannot_be_written_is_told_once_and_the_line_carries_on(self):
        lines = []
        for command in ("timer2 16", "mode 4E", "cmd 37"):
            lines += self.sim.command(command)
        for _ in range(20):
            if self.alerts(lines):
                break
            lines += self.sim.command("wait 250")
        folder = windows_path(self.work.directory)
        self.assertEqual(self.alert_texts(lines), [f"モニタの書き込みに失敗、モニタを停止: {folder}\\{self.MISSING}"])
        self.assertEqual(self.send_text(b"still carried\r\n"), b"still carried\r\n")
        # The line opened again: the monitor stays off for that log, without a second message.
        for command in ("poweroff", "reset", "timer2 16", "mode 4E", "cmd 37", "wait 500"):
            self.assertEqual(self.alerts(self.sim.command(command)), [], command)
        self.assertEqual(self.send_text(b"again\r\n"), b"again\r\n")
