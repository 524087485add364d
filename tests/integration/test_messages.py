"""Failures the user is told about: the message box read off the screen and closed."""
from support import HostTest, fields


class AbsentPort(HostTest):
    INI = dict(PORT="COM9", LOCK="0")  # COM9 is made absent in the prefix
    LINE = False

    def test_each_mode_byte_reports_the_port_it_cannot_open(self):
        self.sim.command("timer2 16")
        lines = self.sim.command("mode 4E")
        self.assertEqual(self.alerts(lines), ["COM9のオープンに失敗".encode("cp932")])
        self.assertEqual(self.alert_texts(lines), ["COM9のオープンに失敗"])
        self.assertIn("comm open path=//./COM9 access=C0000000 share=0 disposition=3 flags=00000000 result=fail",
                      self.comm_calls())
        # The guest carries on without a port: lines off, and a byte it
        # writes stays in the holding register, since only a port takes it.
        self.assertEqual((self.sim.value("status"), self.sim.value("portb")), (0x05, 0xE0))
        self.sim.command("write 6C")
        self.assertEqual(fields(self.sim.command("ticks 10")[0])["fired"], "10")
        self.assertEqual(self.sim.value("status"), 0x04)
        _, figures = self.panel()
        self.assertEqual((figures["1007"], figures["1008"]), ("9600", "9600"))

        self.sim.command("cmd 40")
        lines = self.sim.command("mode 4E")
        self.assertEqual(self.alerts(lines), ["COM9のオープンに失敗".encode("cp932")])
