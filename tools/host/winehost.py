"""Runs the host simulator under Wine on a virtual line.

A WinePrefix is a fresh Wine prefix in a folder of its own, with COM1 mapped
to the near side of a VirtualLine (and COM2 to a second one, if asked) and the
other ports up to COM10 made absent (a missing path in the registry and a
folder where the dosdevices link would go), so that no port of the machine
itself is ever reached. HostSim starts
hostsim.exe there and exchanges commands and results with it line by line.
"""
import os
import select
import shutil
import subprocess
import sys
import time

# Where Debian's wine64 package puts its programs; nothing is looked up on PATH
# (only the separate "wine" package adds wine and wineserver there).
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

# What the Wine tools run, and the Debian package that brings each.
PACKAGE_OF = {WINE: "wine64", WINESERVER: "wine64", "socat": "socat", "gcc": "gcc", "xvfb-run": "xvfb",
              "xauth": "xauth", "/usr/sbin/ser2net": "ser2net"}


def require(*programs):
    """Ends the run with a plain message naming the package of any program
    that is missing (scripts/setup.sh installs them all)."""
    programs = programs or tuple(PACKAGE_OF)
    missing = [p for p in programs if not (os.access(p, os.X_OK) if os.path.isabs(p) else shutil.which(p))]
    for program in missing:
        package = PACKAGE_OF.get(program, program)
        print(f"{program} is missing: it comes with the Debian package {package}. "
              f"Install it with 'sudo apt-get install {package}', or run scripts/setup.sh, "
              f"which installs everything the tests and tools need.", file=sys.stderr)
    if missing:
        sys.exit(2)
PORTS_KEY = r"HKLM\Software\Wine\Ports"


def windows_path(path):
    """The Z: drive path Wine gives a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WinePrefix:
    def __init__(self, directory, com1, log, com2=None):
        self.path = os.path.join(directory, "prefix")
        self.com1 = com1
        self.com2 = com2
        self.log = log

    def env(self, cable=None, cable_state=None):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all", LC_ALL="ja_JP.UTF-8")
        env.pop("LANGUAGE", None)
        if cable:
            env["LD_PRELOAD"] = cable
            env["VIRTUAL_CABLE"] = cable_state
        return env

    def _run(self, *args, timeout=120):
        with open(self.log, "ab") as log:
            subprocess.run(list(args), env=self.env(), stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                           timeout=timeout, check=False)

    def create(self):
        self._run(WINE, "wineboot", "-i", timeout=300)
        self._run(WINE, "reg", "add", PORTS_KEY, "/v", "COM1", "/d", self.com1, "/f")
        absent = range(3 if self.com2 else 2, 11)
        if self.com2:
            self._run(WINE, "reg", "add", PORTS_KEY, "/v", "COM2", "/d", self.com2, "/f")
            os.makedirs(self.com2, exist_ok=True)  # absent until a line is plugged in there
        for n in absent:
            self._run(WINE, "reg", "add", PORTS_KEY, "/v", f"COM{n}", "/d", f"/nonexistent/com{n}", "/f")
        # Japanese dialog texts drawn with the metrics they were laid out for.
        # A Unicode .reg file carries the Japanese value name intact, which a
        # command line does not when the locale is not generated.
        fonts = os.path.join(os.path.dirname(self.path), "fonts.reg")
        with open(fonts, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
                    '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n')
        self._run(WINE, "regedit", "/S", windows_path(fonts))
        self.stop_server()
        dosdevices = os.path.join(self.path, "dosdevices")
        for n in absent:
            link = os.path.join(dosdevices, f"com{n}")
            if os.path.lexists(link) and not os.path.isdir(link):
                os.unlink(link)
            os.makedirs(link, exist_ok=True)
        return self

    def stop_server(self):
        self._run(WINESERVER, "-k")
        self._run(WINESERVER, "-w")


def prefix_on_a_line(directory):
    """A fresh prefix in `directory` with COM1 on a new virtual line whose far
    end is ready (CTS, DSR and DCD on, no ring). Returns (line, prefix)."""
    from virtual_line import VirtualLine  # beside this module's users on sys.path

    line = VirtualLine(directory, os.path.join(directory, "near"))
    prefix = WinePrefix(directory, line.near, os.path.join(directory, "wine.log")).create()
    line.start()
    return line, prefix


class HostSimError(RuntimeError):
    pass


class HostSim:
    """One run of hostsim.exe; `command` sends a line and returns its result lines."""

    def __init__(self, prefix, exe, dll, ini, line=None, cable=None, virtual=True, clock=None, log=None):
        args = [WINE, exe, "--dll", windows_path(dll), "--ini", windows_path(ini)]
        if virtual:
            args.append("--virtual")
        if clock:
            args += ["--clock", str(clock)]
        self.log = open(log or os.devnull, "ab")
        env = prefix.env(cable, line.cable_path) if line else prefix.env()
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log,
                                        env=env)
        self._buffer = b""
        self.startup = self._lines_until(lambda text: text == "ready" or text.startswith("error"), 120)

    def _read_line(self, deadline):
        while b"\n" not in self._buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise HostSimError("no answer from the simulator")
            ready, _, _ = select.select([self.process.stdout], [], [], min(remaining, 0.5))
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 65536)
                if not chunk:
                    raise HostSimError("the simulator ended")
                self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def _lines_until(self, last, timeout):
        deadline = time.monotonic() + timeout
        lines = []
        while True:
            text = self._read_line(deadline)
            lines.append(text)
            if last(text):
                return lines

    def command(self, text, timeout=120, check=True):
        """Runs one command; returns its result lines (the closing done/failed line removed)."""
        name = text.split()[0]
        self.process.stdin.write((text + "\n").encode("latin-1"))
        self.process.stdin.flush()
        lines = self._lines_until(lambda line: line in (f"done {name}", f"failed {name}"), timeout)
        if check and lines[-1] != f"done {name}":
            raise HostSimError(f"{text!r} failed: {lines}")
        return lines[:-1]

    def value(self, text):
        """Runs a one-result command such as "status" and returns the hex value it printed."""
        line = self.command(text)[-1]
        return int(line.split()[1], 16)

    def quit(self, timeout=60):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"quit\n")
                self.process.stdin.close()
            except BrokenPipeError:
                pass
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        return self.process.returncode


def fields(line):
    """'key=value key=value' words of a result line, as a dict."""
    return dict(word.split("=", 1) for word in line.split() if "=" in word)
