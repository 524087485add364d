"""What every integration test shares: one Wine prefix for the whole run,
a fresh virtual line and a fresh host simulator for each test."""
import atexit
import os
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path[:0] = [os.path.join(ROOT, "tools/host"), os.path.join(ROOT, "tools/virtual-cable")]

from virtual_line import VirtualLine, build_cable  # noqa: E402
from hostsim_checks import HostSimChecks, periods  # noqa: E402
from winehost import HostSim, WinePrefix, fields, require, windows_path  # noqa: E402

BUILD = os.environ.get("HOSTSIM_BUILD", os.path.join(ROOT, "build/win64"))
EXE = os.path.join(BUILD, "hostsim.exe")
DLL = os.path.join(BUILD, "RS232C.dll")

# Mode bytes: factor x16, 8 data bits, no parity, one stop bit; and the count
# of Timer2 that makes 2457600 Hz / (16 x 16) = 9600 bit/s.
MODE_8N1_X16 = 0x4E
COUNT_9600 = 16


class Workspace:
    """The run's folder, its Wine prefix (COM1 and COM2 on the near sides of two lines) and the cable library."""
    _instance = None

    @classmethod
    def get(cls):
        if cls._instance is None:
            cls._instance = cls()
        return cls._instance

    def __init__(self):
        self.directory = tempfile.mkdtemp(prefix="rs232c-integration-")
        self.near = os.path.join(self.directory, "near")
        self.near2 = os.path.join(self.directory, "near2")
        self.wine_log = os.path.join(self.directory, "wine.log")
        self.cable = build_cable()
        self.prefix = WinePrefix(self.directory, self.near, self.wine_log, com2=self.near2).create()
        atexit.register(self.close)

    def close(self):
        self.prefix.stop_server()
        if os.environ.get("KEEP_INTEGRATION_FILES"):
            print(f"integration files kept in {self.directory}")
        else:
            shutil.rmtree(self.directory, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.directory, name)


def write_ini(path, **keys):
    with open(path, "w", newline="\r\n") as f:
        f.write("[RS-232C]\n")
        for key, value in keys.items():
            f.write(f"{key}={value}\n")


def read_ini(path):
    with open(path, encoding="latin-1") as f:
        return dict(line.strip().split("=", 1) for line in f if "=" in line)


class HostTest(HostSimChecks, unittest.TestCase):
    """A test with a host simulator of its own, on a virtual line of its own.

    Subclasses set INI (the settings file's keys), LINE (False for no line),
    LINES (the far end's modem lines at the start), VIRTUAL (False for the
    real-time timer) and HOST (the host model, "emulator" or "threaded";
    None for the simulator's default, the emulator)."""
    INI = {"LOCK": "0"}
    LINE = True
    LINES = dict(cts=True, dsr=True, dcd=True)
    VIRTUAL = True
    HOST = None

    def setUp(self):
        self.work = Workspace.get()
        self.ini = self.work.path(f"{self.id()}.ini")
        write_ini(self.ini, **self.INI)
        self.line = None
        if self.LINE:
            self.line = VirtualLine(self.work.directory, self.work.near).start()
            self.line.set_lines(**self.LINES)
        self.sim = self.start_sim()

    def start_sim(self):
        sim = HostSim(self.work.prefix, EXE, DLL, self.ini, line=self.line, cable=self.work.cable,
                      virtual=self.VIRTUAL, log=self.work.wine_log, host=self.HOST)
        self.assertEqual(sim.startup[-1], "ready", sim.startup)
        return sim

    def tearDown(self):
        if self.sim:
            self.sim.quit()
        if self.line:
            self.line.stop()

    # ---- helpers ------------------------------------------------------------

    def program(self, mode=MODE_8N1_X16, count=COUNT_9600, command=0x37):
        """The guest's usual start: Timer2 count, mode byte, command byte."""
        self.sim.command(f"timer2 {count}")
        self.sim.command(f"mode {mode:02X}")
        self.sim.command(f"cmd {command:02X}")
