"""The configuration dialog, driven by window messages as a user's clicks would send them."""
from support import HostTest, fields, read_ini, write_ini

PORT, LOCK, RATE, PARITY, STOP, SIZE = 1000, 1023, 1022, 1024, 1026, 1025
SIX_KEYS = {"PORT", "LOCK", "BAUDRATE", "PARITY", "STOPBITS", "BYTESIZE"}


class DialogTest(HostTest):
    LINE = False

    def config(self, *actions):
        """Runs the dialog with the actions; returns the dumps it printed as {control id: fields}."""
        lines = self.sim.command("config " + " ".join(actions))
        self.assertEqual(lines[-1], "config result=1")
        dumps = []
        for line in lines:
            if line.startswith("dialog caption"):
                dumps.append({})
            elif line.startswith(("list id=", "check id=")):
                entry = fields(line)
                dumps[-1][int(entry["id"])] = entry
        return dumps

    def file_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()


class ConfigDialog(DialogTest):
    INI = dict(PORT="COM3", BAUDRATE="19200")

    def test_lists_show_the_file_and_ok_writes_all_six_keys(self):
        [shown] = self.config("dump", "ok")
        self.assertEqual([item.split(":")[0] for item in shown[PORT]["items"].split(",")],
                         [f"COM{n}" for n in range(1, 11)])
        self.assertEqual(shown[RATE]["items"].split(",")[0], "300:300")
        self.assertEqual([shown[i]["selected"] for i in (PORT, RATE, PARITY, STOP, SIZE)],
                         ["COM3", "19200", "NONE", "1", "8"])
        self.assertEqual(shown[LOCK]["checked"], "1")  # LOCK absent: locked
        self.assertEqual(read_ini(self.ini), {"PORT": "COM3", "LOCK": "1", "BAUDRATE": "19200", "PARITY": "NONE",
                                              "STOPBITS": "1", "BYTESIZE": "8"})

        self.config("select", str(PORT), "COM2", "select", str(RATE), "38400", "select", str(PARITY), "ODD",
                     "select", str(STOP), "1.5", "select", str(SIZE), "7", "click", str(LOCK), "ok")
        self.assertEqual(read_ini(self.ini), {"PORT": "COM2", "LOCK": "0", "BAUDRATE": "38400", "PARITY": "ODD",
                                              "STOPBITS": "1.5", "BYTESIZE": "7"})

    def test_cancel_and_escape_write_nothing(self):
        before = self.file_bytes()
        self.config("select", str(RATE), "300", "click", str(LOCK), "cancel")
        self.assertEqual(self.file_bytes(), before)
        self.config("select", str(PORT), "COM5", "escape")
        self.assertEqual(self.file_bytes(), before)

    def test_lock_box_enables_and_disables_the_lists(self):
        first, second, third = self.config("dump", "click", str(LOCK), "dump", "click", str(LOCK), "dump", "cancel")
        for shown, locked in ((first, "1"), (second, "0"), (third, "1")):
            self.assertEqual(shown[LOCK]["checked"], locked)
            self.assertEqual({shown[i]["enabled"] for i in (RATE, PARITY, STOP, SIZE)}, {locked})
            self.assertEqual(shown[PORT]["enabled"], "1")


class DialogMendsTheFile(DialogTest):
    INI = dict(PORT="COM15", LOCK="2", BAUDRATE="12345", PARITY="even", STOPBITS="3", BYTESIZE="9")

    def test_values_it_cannot_show(self):
        [shown] = self.config("dump", "ok")
        # A port outside COM1 to COM10 is offered after them and kept.
        self.assertEqual(shown[PORT]["items"].split(",")[-1].split(":")[0], "COM15")
        self.assertEqual(shown[PORT]["index"], "10")
        # What the settings file loads as, not the first item of each list.
        self.assertEqual([shown[i]["selected"] for i in (PORT, RATE, PARITY, STOP, SIZE)],
                         ["COM15", "9600", "EVEN", "1", "8"])
        # LOCK=2 is not "locked": the box is clear and the four lists it governs are disabled.
        self.assertEqual(shown[LOCK]["checked"], "0")
        self.assertEqual({shown[i]["enabled"] for i in (RATE, PARITY, STOP, SIZE)}, {"0"})
        self.assertEqual(shown[PORT]["enabled"], "1")
        self.assertEqual(read_ini(self.ini), {"PORT": "COM15", "LOCK": "0", "BAUDRATE": "9600", "PARITY": "EVEN",
                                              "STOPBITS": "1", "BYTESIZE": "8"})


class DialogReachesThePort(HostTest):
    INI = dict(LOCK="0")

    def test_ok_reaches_the_port_at_the_next_mode_byte(self):
        self.program()
        self.comm_calls()
        lines = self.sim.command(f"config click {LOCK} select {RATE} 38400 ok")
        self.assertEqual(lines[-1], "config result=1")
        self.assertEqual(set(read_ini(self.ini)), SIX_KEYS)
        # Only the configured copy changed: the port keeps its rate for now.
        self.assertFalse(self.dcbs(self.comm_calls()))
        self.assertEqual(self.line.near_termios()[0], 9600)

        self.sim.command("cmd 40")
        self.sim.command("mode 4E")
        self.assertEqual([d["baud"] for d in self.dcbs(self.comm_calls())][-1], "38400")
        self.assertEqual(self.line.near_termios()[0], 38400)
        self.sim.command("cmd 37")
        self.assertEqual(self.send_text(b"locked"), b"locked")
