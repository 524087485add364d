"""The product itself, build/win32/RS232C.dll, in the 32-bit host simulator
under 32-bit Wine: what every check of it shares.

A 32-bit process starts in about a minute here (its Wine runs emulated), so
each test class starts one host process and its tests run in order against
it, each building on the state the one before left (ordered by their names).
The classes get a line, a prefix and a log each; the run shares one folder.
"""
import os
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path[:0] = [os.path.join(ROOT, "tools/host"), os.path.join(ROOT, "tools/virtual-cable")]

from virtual_line import VirtualLine, build_cable  # noqa: E402
from hostsim_checks import HostSimChecks, periods  # noqa: E402
from winehost import WINE32, HostSim, HostSimError, WinePrefix, fields, windows_path  # noqa: E402

BUILD = os.environ.get("PRODUCT_BUILD", os.path.join(ROOT, "build/win32"))
EXE = os.path.join(BUILD, "hostsim.exe")
DLL = os.path.join(BUILD, "RS232C.dll")

# An emulated Wine process takes about a minute to start, more on a busy machine.
STARTUP_SECONDS = 400

# The emulator's own failures, as opposed to the product's: qemu-i386 dies of
# a segmentation fault (the process ends by SIGSEGV, or 139 through a shell),
# and Wine's client library reports the broken channel to its server.
EMULATOR_CRASH_STATUSES = (-11, 139)
EMULATOR_CRASH_TEXTS = (b"wine client error", b"qemu: uncaught target signal")


class Workspace:
    """The run's folder, and the virtual cables: i386 for Wine, the machine's own for servers."""
    _instance = None

    @classmethod
    def get(cls):
        if cls._instance is None:
            cls._instance = cls()
        return cls._instance

    def __init__(self):
        self.directory = tempfile.mkdtemp(prefix="rs232c-product-")
        self.cable = build_cable("i386")
        self.native_cable = build_cable()  # for servers of the machine's own, such as ser2net

    def path(self, name):
        return os.path.join(self.directory, name)

    def close(self, keep=False):
        if keep:
            print(f"product test files kept in {self.directory}")
        else:
            shutil.rmtree(self.directory, ignore_errors=True)


def write_ini(path, **keys):
    with open(path, "w", newline="\r\n") as f:
        f.write("[RS-232C]\n")
        for key, value in keys.items():
            f.write(f"{key}={value}\n")


def read_ini(path):
    with open(path, encoding="latin-1") as f:
        return dict(line.strip().split("=", 1) for line in f if "=" in line)


class ProductHost(HostSimChecks, unittest.TestCase):
    """One 32-bit host process on a virtual line of its own, for the whole class.

    Subclasses set INI (the settings file's keys). The runner asks
    emulator_crashed() of a class that failed, to tell the emulator's crash
    from a failure of the product."""
    INI = {"LOCK": "0"}
    LINES = dict(cts=True, dsr=True, dcd=True)
    WAIT_SECONDS = 10  # an emulated host answers slowly
    COM2 = False  # a second line, COM2, for the guest's side as a terminal line (its far end in `guest_side`)

    @classmethod
    def setUpClass(cls):
        cls.work = Workspace.get()
        cls.folder = tempfile.mkdtemp(prefix=f"{cls.__name__}-", dir=cls.work.directory)
        cls.wine_log = os.path.join(cls.folder, "wine.log")
        cls.ini = os.path.join(cls.folder, "settings.ini")
        write_ini(cls.ini, **cls.INI)
        near = os.path.join(cls.folder, "near")
        cls.line = VirtualLine(cls.folder, near)
        near2 = os.path.join(cls.folder, "near2") if cls.COM2 else None
        cls.prefix = WinePrefix(cls.folder, near, cls.wine_log, com2=near2, crash_debugger=False, wow64=True).create()
        cls.guest_side = VirtualLine(cls.folder, near2, name="2").start() if cls.COM2 else None
        cls.line.start()
        cls.line.set_lines(**cls.LINES)
        cls.hosts = []
        cls.ended_with = []  # exit statuses of hosts that ended while starting
        cls.sim = None
        try:
            cls.sim = cls.start_sim()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_sim(cls):
        try:
            sim = HostSim(cls.prefix, EXE, DLL, cls.ini, line=cls.line, cable=cls.work.cable, virtual=True,
                          log=cls.wine_log, loader=WINE32, startup_timeout=STARTUP_SECONDS)
        except HostSimError as error:
            cls.ended_with.append(error.status)
            raise
        cls.hosts.append(sim)
        if sim.startup[-1] != "ready":
            raise HostSimError(f"the host did not start: {sim.startup}")
        return sim

    @classmethod
    def tearDownClass(cls):
        for sim in cls.hosts:
            sim.quit()
        cls.line.stop()
        if getattr(cls, "guest_side", None):
            cls.guest_side.stop()
        cls.prefix.stop_server()

    @classmethod
    def emulator_crashed(cls):
        statuses = [sim.process.poll() for sim in getattr(cls, "hosts", [])] + getattr(cls, "ended_with", [])
        if any(status in EMULATOR_CRASH_STATUSES for status in statuses):
            return True
        try:
            with open(cls.wine_log, "rb") as log:
                text = log.read()
        except (AttributeError, OSError):
            return False
        return any(marker in text for marker in EMULATOR_CRASH_TEXTS)

    # ---- helpers ------------------------------------------------------------

    def save(self, name):
        path = self.work.path(name)
        self.assertEqual(self.sim.command(f"save {windows_path(path)}"), ["saved bytes=315"])
        with open(path, "rb") as f:
            return f.read()

    def load(self, block, name="load.bin"):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(block)
        lines = self.sim.command(f"load {windows_path(path)}")
        return lines, int(fields(lines[-1])["result"])
