"""Runs the host simulator under Wine on a virtual line.

A WinePrefix is a fresh Wine prefix in a folder of its own (a copy of a
booted prefix kept in a cache outside the tree, see base_prefix), with COM1 mapped
to the near side of a VirtualLine (and COM2 to a second one, if asked) and the
other ports up to COM10 made absent (a missing path in the registry and a
folder where the dosdevices link would go), so that no port of the machine
itself is ever reached. HostSim starts
hostsim.exe there and exchanges commands and results with it line by line.
"""
import hashlib
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

# Where Debian's wine64 and wine32 packages put their programs; nothing is
# looked up on PATH (only the separate "wine" package adds wine and wineserver
# there). WINE32 is the i386 loader for 32-bit programs such as the product's
# own host simulator; on a kernel without 32-bit support it runs through
# qemu-i386, registered in binfmt_misc.
WINE = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
# Where Wine reads which Linux device each COM name stands for.
PORTS_KEY = r"HKLM\Software\Wine\Ports"

# What the Wine tools run, and the Debian package that brings each.
PACKAGE_OF = {WINE: "wine64", WINESERVER: "wine64", "socat": "socat", "gcc": "gcc", "xvfb-run": "xvfb",
              "xauth": "xauth", WINE32: "wine32:i386", "/usr/sbin/ser2net": "ser2net"}


def require(*programs):
    """Ends the run with a plain message naming the package of any program
    that is missing (scripts/setup.sh installs them all)."""
    programs = programs or tuple(p for p in PACKAGE_OF if p != WINE32)  # 32-bit Wine only where asked for
    missing = [p for p in programs if not (os.access(p, os.X_OK) if os.path.isabs(p) else shutil.which(p))]
    for program in missing:
        package = PACKAGE_OF.get(program, program)
        print(f"{program} is missing: it comes with the Debian package {package}. "
              f"Install it with 'sudo apt-get install {package}', or run scripts/setup.sh, "
              f"which installs everything the tests and tools need.", file=sys.stderr)
    if missing:
        sys.exit(2)


QEMU_I386_ENTRY = "/proc/sys/fs/binfmt_misc/qemu-i386"


def qemu_entry_enabled():
    with open(QEMU_I386_ENTRY) as f:
        return f.readline().strip() == "enabled"


def set_qemu_entry(enabled):
    """Enables or disables the qemu-i386 entry of binfmt_misc (as root, or through sudo)."""
    value = "1" if enabled else "0"
    try:
        with open(QEMU_I386_ENTRY, "w") as f:
            f.write(value)
    except PermissionError:
        subprocess.run(["sudo", "-n", "tee", QEMU_I386_ENTRY], input=value.encode(), stdout=subprocess.DEVNULL,
                       check=True)


def i386_runs_natively():
    """Whether the 32-bit loader runs without the emulator: the kernel runs
    i386 programs itself, and no enabled qemu-i386 entry takes them over."""
    try:
        with open(QEMU_I386_ENTRY) as f:
            if f.readline().strip() == "enabled":
                return False
    except OSError:
        pass
    try:
        return subprocess.run([WINE32, "--version"], capture_output=True, timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


# What base_prefix puts into a prefix; a change here must change the key, so
# that an old cached prefix is booted again rather than used.
PREFIX_RECIPE = "wineboot -i, 1"


def windows_path(path):
    """The Z: drive path Wine gives a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def cache_directory():
    """Where booted prefixes are kept between runs: $RS232C_CACHE, else
    /var/cache/rs232c for root, else the user's cache folder."""
    if os.environ.get("RS232C_CACHE"):
        return os.environ["RS232C_CACHE"]
    if os.geteuid() == 0:
        return "/var/cache/rs232c"
    home_cache = os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache")
    return os.path.join(home_cache, "rs232c")


def _installed_wine():
    """The installed Wine packages and their versions: a prefix booted by another Wine is stale."""
    listed = subprocess.run(["dpkg-query", "-W", "-f", "${Package}:${Architecture}=${Version}\n",
                             "wine64", "libwine", "libwine:i386", "wine32:i386"],
                            capture_output=True, text=True, check=False).stdout
    return "".join(sorted(listed.splitlines(True)))


def base_prefix(log, wow64=False):
    """A booted prefix in the cache for the installed Wine, booted first if there is none.

    With wow64, one whose 32-bit half is booted too (syswow64 filled), which
    32-bit programs need: Wine boots that half only when its 32-bit loader
    runs at boot time, so on a kernel without i386 support the qemu-i386
    entry must be enabled meanwhile. A prefix booted without it is kept
    apart, under a key of its own, and a boot that left syswow64 empty is an
    error rather than a cached prefix in which no 32-bit program starts.

    A boot takes 10 s to minutes (with 32-bit Wine and the qemu-i386 entry
    enabled, the prefix's 32-bit half boots emulated); a copy takes a couple
    of seconds. Booted in a folder of its own and renamed into place when
    complete, so an interrupted boot or a second run at the same time never
    leaves a half-booted prefix in the cache. Cached prefixes of another Wine
    are removed."""
    cache = cache_directory()
    installed = _installed_wine()
    names = {half: "wine-prefix-" + hashlib.sha256((PREFIX_RECIPE + half + "\n" + installed).encode()).hexdigest()[:16]
             for half in ("", ", wow64")}
    path = os.path.join(cache, names[", wow64" if wow64 else ""])
    if os.path.isfile(os.path.join(path, ".booted")):
        return path
    os.makedirs(cache, exist_ok=True)
    staging = tempfile.mkdtemp(prefix="booting-", dir=cache)
    try:
        booting = os.path.join(staging, "prefix")
        env = dict(os.environ, WINEPREFIX=booting, WINEDEBUG="-all")
        env.pop("LD_PRELOAD", None)
        with open(log, "ab") as out:
            for args in ([WINE, "wineboot", "-i"], [WINESERVER, "-w"]):
                subprocess.run(args, env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=1800,
                               check=False)
        if not os.path.isfile(os.path.join(booting, "system.reg")):
            raise RuntimeError(f"wineboot did not make a prefix (see {log})")
        if wow64 and not os.path.isfile(os.path.join(booting, "drive_c/windows/syswow64/kernel32.dll")):
            raise RuntimeError("wineboot left the prefix's 32-bit half empty: the 32-bit loader did not run "
                               f"while it booted (see {log})")
        # Debian's wineserver keeps the name of its socket folder here; each
        # copy makes its own.
        if os.path.lexists(os.path.join(booting, "wineserver")):
            os.unlink(os.path.join(booting, "wineserver"))
        open(os.path.join(booting, ".booted"), "w").close()
        try:
            os.rename(booting, path)
        except OSError:
            pass  # another run put one there first
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    for name in os.listdir(cache):
        if name.startswith("wine-prefix-") and name not in names.values():
            shutil.rmtree(os.path.join(cache, name), ignore_errors=True)
    return path


class WinePrefix:
    def __init__(self, directory, com1, log, com2=None, crash_debugger=True, wow64=False):
        self.path = os.path.join(directory, "prefix")
        self.wow64 = wow64  # for 32-bit programs
        self.com1 = com1
        self.com2 = com2
        self.log = log
        # Without it, a program that crashes ends at once instead of waiting
        # for Wine's debugger to write its backtrace (which takes minutes emulated).
        self.crash_debugger = crash_debugger

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
        """Copies the cached booted prefix here and maps the ports, in one
        registry import."""
        subprocess.run(["cp", "-a", base_prefix(self.log, self.wow64), self.path], check=True)
        ports = {"COM1": self.com1}
        absent = range(3 if self.com2 else 2, 11)
        if self.com2:
            ports["COM2"] = self.com2
            os.makedirs(self.com2, exist_ok=True)  # absent until a line is plugged in there
        for n in absent:
            ports[f"COM{n}"] = f"/nonexistent/com{n}"
        # Japanese dialog texts drawn with the metrics they were laid out for.
        # A Unicode .reg file carries the Japanese value name intact, which a
        # command line does not when the locale is not generated.
        settings = os.path.join(os.path.dirname(self.path), "prefix.reg")
        with open(settings, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n")
            for name, target in ports.items():
                f.write(f'"{name}"="{_reg_string(target)}"\r\n')
            f.write("\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
                    '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n')
            if not self.crash_debugger:
                # A debugger that cannot start: the crashed program ends with its exception code.
                for view in ("", "Wow6432Node\\"):
                    f.write(f"\r\n[HKEY_LOCAL_MACHINE\\Software\\{view}Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\r\n"
                            '"Debugger"="no-crash-debugger.exe %ld %ld"\r\n"Auto"="1"\r\n')
        self._run(WINE, "regedit", "/S", windows_path(settings))
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


def _reg_string(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def prefix_on_a_line(directory):
    """A fresh prefix in `directory` with COM1 on a new virtual line whose far
    end is ready (CTS, DSR and DCD on, no ring). Returns (line, prefix)."""
    from virtual_line import VirtualLine  # beside this module's users on sys.path

    line = VirtualLine(directory, os.path.join(directory, "near"))
    prefix = WinePrefix(directory, line.near, os.path.join(directory, "wine.log")).create()
    line.start()
    return line, prefix


class HostSimError(RuntimeError):
    def __init__(self, message, status=None):
        super().__init__(message)
        self.status = status  # the exit status, when the simulator ended


class HostSim:
    """One run of hostsim.exe; `command` sends a line and returns its result lines."""

    def __init__(self, prefix, exe, dll, ini, line=None, cable=None, virtual=True, clock=None, log=None,
                 loader=WINE, startup_timeout=120, host=None, options=()):
        args = [loader, exe, "--dll", windows_path(dll), "--ini", windows_path(ini), *options]
        if virtual:
            args.append("--virtual")
        if host:
            args += ["--host", host]  # emulator (the simulator's default) or threaded
        if clock:
            args += ["--clock", str(clock)]
        self.log = open(log or os.devnull, "ab")
        env = prefix.env(cable, line.cable_path) if line else prefix.env()
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log,
                                        env=env)
        self._buffer = b""
        self.startup = self._lines_until(lambda text: text == "ready" or text.startswith("error"), startup_timeout)

    def _read_line(self, deadline):
        while b"\n" not in self._buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise HostSimError("no answer from the simulator")
            ready, _, _ = select.select([self.process.stdout], [], [], min(remaining, 0.5))
            if not ready and self.process.poll() is not None:
                # Ended, though the wineserver it started may still hold its output open.
                raise HostSimError(f"the simulator ended (exit status {self.process.returncode})",
                                   self.process.returncode)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 65536)
                if not chunk:
                    try:
                        status = self.process.wait(10)
                    except subprocess.TimeoutExpired:
                        status = None
                    raise HostSimError(f"the simulator ended (exit status {status})", status)
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


# A message box: its caption's and text's ANSI bytes in hex, then the text
# decoded (UTF-8 on the pipe, which HostSim hands over as Latin-1 characters).
ALERT = re.compile(r'alert caption=([0-9A-F]*) text=([0-9A-F]*) "(.*)"$')


def fields(line):
    """'key=value key=value' words of a result line, as a dict."""
    return dict(word.split("=", 1) for word in line.split() if "=" in word)
