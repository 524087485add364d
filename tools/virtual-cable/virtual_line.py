"""A serial line between Wine and a test, with modem lines.

socat joins two pseudo-terminals: Wine opens the near one as a COM port, the
test holds the far one. socat keeps both open itself, so the line outlives
a run of the host, and whether Wine's side holds the port shows in /proc
(near_holders). The virtual cable library, preloaded
into Wine, gives the near side its modem lines through a small shared state
file that this module maps: the far end sets CTS, DSR, RI and DCD there and reads the
DTR, RTS and break that Wine's side drives.

A line can be unplugged and plugged in again (socat ended and started anew on
the same link names), as a USB serial adapter is pulled out and put back.
While it is out, a folder stands where the near link was: Wine then finds the
port absent, where a missing path would make it fall back to a serial port of
the machine itself (/dev/ttyS*).
"""
import fcntl
import mmap
import os
import select
import signal
import struct
import subprocess
import termios
import time
import tty

CABLE_MAGIC = 0x4C424356
CABLE_SIZE = 32
FAR_LINES, NEAR_LINES, BREAK, STATUS_READS, LINE_CHANGES, BREAKS = 1, 2, 3, 4, 5, 6
# TIOCM bits, as the library reports them to Wine.
CTS, CAR, RNG, DSR = 0x020, 0x040, 0x080, 0x100
DTR, RTS = 0x002, 0x004

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def build_cable(arch=None):
    """Builds the preload library if needed and returns its path; with arch
    "i386", the one for 32-bit Wine."""
    out = subprocess.run([os.path.join(ROOT, "tools/virtual-cable/build.sh")] + ([arch] if arch else []),
                         check=True, capture_output=True, text=True).stdout.strip()
    return os.path.join(ROOT, out)


class VirtualLine:
    def __init__(self, directory, near_link, name=""):
        self.directory = directory
        self.near = near_link                  # the path the COM port is mapped to
        self.name = name                       # tells the files of two lines in one folder apart
        self.far = os.path.join(directory, f"far{name}")
        self.cable_path = os.path.join(directory, f"cable{name}")
        self.socat = None
        self.fd = None
        self._map = None
        self._pending = b""

    # ---- life of the line ------------------------------------------------

    def start(self, lines=CTS | DSR | CAR):
        with open(self.cable_path, "wb") as f:
            f.write(struct.pack("<8I", CABLE_MAGIC, lines, 0, 0, 0, 0, 0, 0))
        f = open(self.cable_path, "r+b")
        self._map = mmap.mmap(f.fileno(), CABLE_SIZE)
        f.close()
        return self.plug()

    def plug(self):
        """Starts the pseudo-terminal pair on the line's link names and opens the far end."""
        for link in (self.near, self.far):
            if os.path.isdir(link) and not os.path.islink(link):
                os.rmdir(link)
            elif os.path.lexists(link):
                os.unlink(link)
        log = open(os.path.join(self.directory, f"socat{self.name}.log"), "ab")
        self.socat = subprocess.Popen(
            ["socat", "-d", "-d", f"pty,raw,echo=0,link={self.near}", f"pty,raw,echo=0,link={self.far}"],
            stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        deadline = time.monotonic() + 10
        while not (os.path.exists(self.near) and os.path.exists(self.far)):
            if time.monotonic() > deadline or self.socat.poll() is not None:
                raise RuntimeError("socat did not make the pseudo-terminal pair")
            time.sleep(0.02)
        self.fd = os.open(self.far, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        self._pending = b""
        return self

    def unplug(self):
        """Ends the pair: Wine's handle on the near side is hung up, and the port is absent until plug()."""
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
        if self.socat and self.socat.poll() is None:
            self.socat.send_signal(signal.SIGTERM)
            try:
                self.socat.wait(5)
            except subprocess.TimeoutExpired:
                self.socat.kill()
                self.socat.wait()
        self.socat = None
        if os.path.islink(self.near):
            os.unlink(self.near)
        os.makedirs(self.near, exist_ok=True)

    def stop(self):
        self.unplug()
        if self._map is not None:
            self._map.close()
            self._map = None

    # ---- modem lines -----------------------------------------------------

    def _word(self, index):
        return struct.unpack_from("<I", self._map, index * 4)[0]

    def set_lines(self, cts=False, dsr=False, ri=False, dcd=False):
        """Sets the lines the far end drives toward Wine's side."""
        value = (CTS if cts else 0) | (DSR if dsr else 0) | (RNG if ri else 0) | (CAR if dcd else 0)
        struct.pack_into("<I", self._map, FAR_LINES * 4, value)

    def near_lines(self):
        """The lines Wine's side drives, as the far end sees them."""
        near = self._word(NEAR_LINES)
        return {"dtr": bool(near & DTR), "rts": bool(near & RTS), "break": bool(self._word(BREAK)),
                "breaks": self._word(BREAKS), "status_reads": self._word(STATUS_READS)}

    # ---- data ------------------------------------------------------------

    def write(self, data, timeout=30):
        view = memoryview(data)
        deadline = time.monotonic() + timeout
        while view:
            if time.monotonic() > deadline:
                raise TimeoutError("the line does not take the data")
            select.select([], [self.fd], [], 0.1)
            try:
                view = view[os.write(self.fd, view):]
            except BlockingIOError:
                pass

    def read(self, count, timeout=10):
        """Reads exactly `count` bytes unless `timeout` seconds pass without any."""
        data = bytearray(self._pending[:count])
        self._pending = self._pending[count:]
        last = time.monotonic()
        while len(data) < count and time.monotonic() - last < timeout:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    chunk = os.read(self.fd, count - len(data))
                except (BlockingIOError, OSError):
                    chunk = b""
                if chunk:
                    data += chunk
                    last = time.monotonic()
        return bytes(data)

    def drain(self, quiet=0.2):
        """Discards whatever arrives until the line has been quiet for `quiet` seconds."""
        return self.read(1 << 30, timeout=quiet)

    def exchange(self, outgoing, incoming_count, timeout=60):
        """Writes `outgoing` while reading `incoming_count` bytes, both at once."""
        view = memoryview(outgoing)
        received = bytearray()
        last = time.monotonic()
        while (view or len(received) < incoming_count) and time.monotonic() - last < timeout:
            wants_write = [self.fd] if view else []
            readable, writable, _ = select.select([self.fd], wants_write, [], 0.05)
            if readable:
                try:
                    chunk = os.read(self.fd, 65536)
                except (BlockingIOError, OSError):
                    chunk = b""
                if chunk:
                    received += chunk
                    last = time.monotonic()
            if writable and view:
                try:
                    view = view[os.write(self.fd, view[:4096]):]
                    last = time.monotonic()
                except BlockingIOError:
                    pass
        return bytes(received)

    def delivered(self, count, timeout=10):
        """Waits until `count` bytes written here wait in the near side's input queue.

        In virtual time the guest's ticks run far faster than socat relays,
        so a test that wants bytes there at its next tick waits for them.
        Like near_termios, only while Wine holds the near side."""
        fd = os.open(self.near, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                waiting = struct.unpack("<i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]
                if waiting >= count:
                    return True
                time.sleep(0.01)
            return False
        finally:
            os.close(fd)

    def near_holders(self):
        """The processes other than socat (which keeps it open itself) that hold the near side."""
        # Compared as files, not by name: a process in another root, with a
        # pseudo-terminal instance of its own, can hold a /dev/pts/N of the
        # same name that is another terminal.
        near = os.stat(self.near)
        device = (near.st_dev, near.st_ino)
        holders = set()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            if int(pid) == self.socat.pid:
                continue
            try:
                for fd in os.listdir(f"/proc/{pid}/fd"):
                    try:
                        held = os.stat(f"/proc/{pid}/fd/{fd}")
                        if (held.st_dev, held.st_ino) == device:
                            holders.add(int(pid))
                    except OSError:
                        pass
            except OSError:
                pass
        return holders

    def near_closed(self, timeout=5):
        """True once no process holds the near side: Wine's side has closed the port."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.near_holders():
                return True
            time.sleep(0.05)
        return False

    def near_termios(self):
        """The near side's line settings as Linux holds them: (speed in bit/s, stop bits).

        Opens the near side briefly; only while Wine holds it too, or socat
        would take this close for the last one.
        """
        fd = os.open(self.near, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            attrs = termios.tcgetattr(fd)
        finally:
            os.close(fd)
        speeds = {getattr(termios, f"B{rate}"): rate
                  for rate in (300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}
        return speeds.get(attrs[5], attrs[5]), 2 if attrs[2] & termios.CSTOPB else 1
