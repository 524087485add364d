"""A dial-up client in a small virtual machine: Debian's kernel and pppd,
chat, slattach and busybox (tools/dialup/guest_image.py), booted by
qemu-system-x86_64 under TCG, driven from Python.

The machine has three serial ports, each a chardev on the host:
- ttyS0, the modem line: a Unix socket QEMU listens on (`line_socket`).
  join() connects it to a pseudo-terminal (the host simulator's terminal
  line, where the guest's communication software belongs) or to another
  machine's line, through socat. QEMU's UART has no pace of its own on a
  socket: the pace is whatever lies beyond it (the plug-in's, or a paced
  relay). Its modem inputs read on (CTS, DSR, DCD), so pppd runs with
  `local` and chat checks no carrier.
- ttyS1, the control line: a small agent in the machine runs commands sent
  there (see guest-root/bin/agent) and answers with their output and exit
  status; run() waits for them with a timeout.
- ttyS2, the kernel's console, kept in `console.log` beside the sockets.

Every qemu and socat process this module starts is ended by its own id when
its object closes (a with-block or close()), on the interpreter's exit, and,
through the kernel's parent-death signal, when this process dies.

A test dials through the modem and fetches a file:

    with GuestVM(folder) as guest, guest.join(terminal_pty):
        link = guest.dial("777")
        assert link.local == "10.0.2.15"
        got = guest.fetch(f"http://10.0.2.2:{port}/file.bin")
        assert got.sha256 == hashlib.sha256(payload).hexdigest()
"""
import atexit
import base64
import collections
import ctypes
import hashlib
import os
import re
import select
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import guest_image  # noqa: E402

QEMU = "qemu-system-x86_64"
GUEST_ADDRESS, GATEWAY_ADDRESS, DNS_ADDRESS = "10.0.2.15", "10.0.2.2", "10.0.2.3"
INIT_STRING = "ATZ"
# What a modem or server says when a call fails; chat stops on any of them.
CALL_FAILURES = ("BUSY", "NO CARRIER", "NO DIALTONE", "NO ANSWER", "ERROR")
# pppd's disconnect script for a modem whose DTR the line does not carry (a
# pseudo-terminal has no modem lines): two seconds of silence on each side
# of the escape, then ATH0.
HANG_UP_CHAT = "ABORT ERROR\nTIMEOUT 10\n'' '\\d\\d+++\\d\\d\\c'\nOK ATH0\nOK\n"

_running = set()  # processes to end at exit


def _die_with_parent():
    """In the child, before exec: the kernel ends it when this process dies."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def _start(args, log_path):
    with open(log_path, "ab") as log:
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   preexec_fn=_die_with_parent)
    _running.add(process)
    return process


def _end(process, grace=5):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    _running.discard(process)


@atexit.register
def _end_all():
    for process in list(_running):
        _end(process, grace=1)


class GuestError(RuntimeError):
    pass


class CommandFailed(GuestError):
    def __init__(self, script, status, output):
        super().__init__(f"{script!r} exited with {status}:\n{output.decode(errors='replace')[-2000:]}")
        self.status = status
        self.output = output


Result = collections.namedtuple("Result", "status output")
# The link pppd brought up: its interface, addresses, the DNS servers the
# peer gave, and the machine's uptime when pppd started, when chat saw the
# call connect (None when no chat ran) and when IPCP came up.
Link = collections.namedtuple("Link", "interface local remote dns started_at connected_at up_at")
# A fetched file: its size, digest and bytes (None unless asked for), and the
# seconds the transfer took, timed inside the machine.
Download = collections.namedtuple("Download", "size sha256 data seconds")


def chat_script(number="777", init=INIT_STRING, login=None, start=None, prompt=None, timeout=45):
    """A chat script that dials like a period dialler: the init string, ATDT
    and the number, CONNECT; then, for a text login, the name at `login:`
    and the password at `Password:` (login is a (name, password) pair), and
    `start` (the word `ppp` or `slip`) once `prompt` is seen, or at once
    without one. With number None it dials nothing: just the login."""
    lines = [f"ABORT {shlex.quote(failure)}" for failure in CALL_FAILURES] + [f"TIMEOUT {timeout}"]
    if number is not None:
        lines += [f"'' {shlex.quote(init)}", f"OK {shlex.quote('ATDT' + number)}"]
        lines.append("CONNECT '\\c'" if login or start else "CONNECT")
    if login:
        name, password = login
        lines += [f"ogin: {shlex.quote(name)}", f"ssword: {shlex.quote(password)}"]
    if start:
        lines.append(f"{shlex.quote(prompt or '')} {shlex.quote(start)}")
    return "\n".join(lines) + "\n"


class LineJoin:
    """socat between a machine's line socket and a pseudo-terminal or another socket."""

    def __init__(self, socket_path, other, log_path):
        other_address = (f"UNIX-CONNECT:{other}" if stat.S_ISSOCK(os.stat(other).st_mode)
                         else f"FILE:{other},raw,echo=0")
        self.process = _start(["socat", "-d", "-d", f"UNIX-CONNECT:{socket_path}", other_address], log_path)

    def close(self):
        _end(self.process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class GuestVM:
    """One machine. `directory` holds its sockets and logs (console.log,
    qemu.log, and the files the harness fetched)."""

    def __init__(self, directory, name="guest", memory_mb=256, image=None):
        self.directory = os.path.join(directory, name)
        os.makedirs(self.directory, exist_ok=True)
        self.name = name
        self.memory_mb = memory_mb
        self.image = image
        self.line_socket = os.path.join(self.directory, "line.sock")
        self.control_socket = os.path.join(self.directory, "control.sock")
        self.console_log = os.path.join(self.directory, "console.log")
        self.process = None
        self.control = None
        self.boot_seconds = None  # from starting qemu to the agent's first word
        self._buffer = b""
        self._next_id = 1
        self._joins = []

    # ---- life of the machine --------------------------------------------------------

    def start(self, timeout=60):
        for program, package in ((QEMU, "qemu-system-x86"), ("socat", "socat")):
            if not shutil.which(program):
                raise GuestError(f"{program} is missing: it comes with the Debian package {package}"
                                 " (scripts/setup.sh installs it)")
        if len(self.control_socket.encode()) > 100:  # a Unix socket's path has room for 107 bytes
            raise GuestError(f"the machine's folder has too long a path for its sockets: {self.directory}")
        image = self.image or guest_image.ensure()
        for path in (self.line_socket, self.control_socket):
            if os.path.lexists(path):
                os.unlink(path)
        # The control line's socket is ours and QEMU connects to it, so that no
        # word of the agent is lost before we listen.
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(self.control_socket)
        listener.listen(1)
        started = time.monotonic()
        try:
            self.process = _start([
                QEMU, "-nodefaults", "-no-user-config", "-machine", "pc,accel=tcg", "-m", str(self.memory_mb),
                "-display", "none", "-no-reboot",
                # The guest times transfers by its own clock: the HPET follows
                # the host's, where the TSC's calibration under TCG on a busy
                # machine was seen 1 % off.
                "-kernel", image.kernel, "-initrd", image.initrd,
                "-append", "console=ttyS2 quiet panic=-1 clocksource=hpet",
                "-chardev", f"socket,id=line,path={self.line_socket},server=on,wait=off", "-serial", "chardev:line",
                "-chardev", f"socket,id=control,path={self.control_socket}", "-serial", "chardev:control",
                "-chardev", f"file,id=console,path={self.console_log}", "-serial", "chardev:console",
            ], os.path.join(self.directory, "qemu.log"))
            listener.settimeout(0.5)
            while self.control is None:
                try:
                    self.control, _ = listener.accept()
                except socket.timeout:
                    if self.process.poll() is not None or time.monotonic() > started + timeout:
                        raise GuestError(f"qemu did not start: {self._qemu_log()}") from None
            ready = self._read_line(started + timeout)
            if not ready.startswith("@@ready"):
                raise GuestError(f"the machine's agent said {ready!r} first")
            self.boot_seconds = time.monotonic() - started
        except BaseException:
            self.close()
            raise
        finally:
            listener.close()
        return self

    def close(self):
        """Powers the machine off, and ends qemu by its id if it does not stop at once."""
        for join in self._joins:
            join.close()
        self._joins = []
        if self.process and self.process.poll() is None and self.control:
            try:
                self.control.sendall(self._command_line(0, 5, "poweroff -f"))
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        if self.process:
            _end(self.process)
        if self.control:
            self.control.close()
            self.control = None

    def __enter__(self):
        return self if self.process else self.start()

    def __exit__(self, *exc):
        self.close()

    def join(self, other):
        """Connects the modem line to a pseudo-terminal's path, or to another
        machine (its line joined to ours, serial to serial). Ends with the
        machine, or earlier by its close()."""
        target = other.line_socket if isinstance(other, GuestVM) else other
        join = LineJoin(self.line_socket, target, os.path.join(self.directory, "socat.log"))
        self._joins.append(join)
        return join

    def _qemu_log(self):
        try:
            with open(os.path.join(self.directory, "qemu.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    # ---- the control line --------------------------------------------------------------

    @staticmethod
    def _command_line(command_id, seconds, script):
        return f"{command_id} {int(seconds)} ".encode() + base64.b64encode(script.encode()) + b"\n"

    def _read_line(self, deadline):
        while b"\n" not in self._buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise GuestError(f"the machine did not answer in time (console: {self._console_tail()})")
            ready, _, _ = select.select([self.control], [], [], min(remaining, 1.0))
            if ready:
                chunk = self.control.recv(65536)
                if not chunk:
                    raise GuestError(f"the machine's control line closed (console: {self._console_tail()})")
                self._buffer += chunk
            elif self.process.poll() is not None:
                raise GuestError(f"qemu ended with {self.process.returncode}: {self._qemu_log()}")
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("ascii", errors="replace")

    def _console_tail(self):
        try:
            with open(self.console_log, errors="replace") as f:
                return f.read()[-1500:]
        except OSError:
            return ""

    def run(self, script, timeout=30, check=True, send=None):
        """Runs a shell script in the machine (busybox sh), its standard input
        empty. Returns its exit status and output (standard output and error
        together). The machine kills it after `timeout` seconds (status 137);
        with check, any status but 0 raises CommandFailed.

        With `send`, the script reads those bytes itself from the control
        line, raw: it says `@@send $ID` there first (the command's id is in
        $ID), and they follow."""
        if not self.process or self.process.poll() is not None:
            raise GuestError("the machine is not running")
        command_id = self._next_id
        self._next_id += 1
        self.control.sendall(self._command_line(command_id, timeout, f"ID={command_id}\n" + script))
        deadline = time.monotonic() + timeout + 30  # the machine's own timeout comes first
        try:
            while (line := self._read_line(deadline)) != f"@@output {command_id}":
                if send is not None and line == f"@@send {command_id}":
                    self.control.sendall(send)
                    send = None
            encoded = []
            while not (line := self._read_line(deadline)).startswith(f"@@status {command_id} "):
                encoded.append(line)
        except GuestError as error:
            raise GuestError(f"{script[:300]!r}: {error}") from None
        status = int(line.split()[2])
        output = base64.b64decode("".join(encoded))
        if check and status != 0:
            raise CommandFailed(script, status, output)
        return Result(status, output)

    def text(self, script, timeout=30):
        """A script's output as text (it must succeed)."""
        return self.run(script, timeout).output.decode(errors="replace")

    def put_file(self, path, data, timeout=120):
        """Writes a file in the machine: its bytes go raw over the control
        line (a raw terminal passes every byte) and are checked by digest."""
        quoted = shlex.quote(path)
        self.run(f"mkdir -p $(dirname {quoted}) && echo @@send $ID >/dev/ttyS1 &&"
                 f" head -c {len(data)} /dev/ttyS1 >{quoted}", timeout, send=data)
        digest = self.text(f"sha256sum {quoted}").split()[0]
        if digest != hashlib.sha256(data).hexdigest():
            raise GuestError(f"{path} arrived damaged in the machine")

    def get_file(self, path, timeout=120):
        return self.run(f"cat {shlex.quote(path)}", timeout).output

    def uptime(self):
        return float(self.text("cut -d' ' -f1 /proc/uptime"))

    # ---- PPP ---------------------------------------------------------------------------------

    def _pppd(self, options, chat=None, speed=115200, disconnect=None):
        """Starts pppd on the modem line in the background; its log, its exit
        status and the link's state land in /tmp (see wait_link)."""
        script = ("rm -f /tmp/ppp-up /tmp/ppp-down /tmp/ppp-connected /tmp/pppd.status /tmp/pppd.log /tmp/chat.log\n"
                  "cut -d' ' -f1 /proc/uptime >/tmp/ppp-started\n")
        connect = []
        if chat is not None:
            self.put_file("/etc/ppp/dial.chat", chat.encode())
            # The time the call connected, for the time from CONNECT to the link being up.
            connect = ["connect", "chat -v -s -S -f /etc/ppp/dial.chat 2>/tmp/chat.log && "
                                  "cut -d' ' -f1 /proc/uptime >/tmp/ppp-connected"]
        if disconnect is not None:
            self.put_file("/etc/ppp/hang-up.chat", disconnect.encode())
            connect += ["disconnect", "chat -v -s -S -f /etc/ppp/hang-up.chat 2>>/tmp/chat.log"]
        arguments = ["/dev/ttyS0", str(speed), "local", "nocrtscts", "nodetach", "maxfail", "1", "debug",
                     "logfile", "/tmp/pppd.log", *connect, *options]
        script += (f"( pppd {' '.join(shlex.quote(a) for a in arguments)} >/tmp/pppd.out 2>&1;"
                   " echo $? >/tmp/pppd.status ) &\n")
        self.run(script)

    def dial(self, number="777", init=INIT_STRING, login=None, start=None, prompt=None, chat=None,
             authenticate=None, disconnect=None, options=(), speed=115200, timeout=90):
        """Dials with chat and brings PPP up with pppd, as a period client: it
        asks the peer for its address and DNS servers, takes a default route
        through the link, and answers PAP or CHAP with `authenticate` (a
        (name, password) pair) if the peer asks. `chat` replaces the whole
        chat script (see chat_script for the rest); number None with no
        login dials nothing (a direct line). `disconnect` is a chat script
        pppd runs on the line when the link ends (HANG_UP_CHAT hangs up a
        Hayes modem). Returns the Link once IPCP is up."""
        if chat is None and (number is not None or login or start):
            chat = chat_script(number, init, login, start, prompt)
        options = ["noauth", "noipdefault", "defaultroute", "usepeerdns", *options]
        if authenticate:
            options += ["user", authenticate[0], "password", authenticate[1]]
        self._pppd(options, chat, speed, disconnect)
        return self.wait_link(timeout)

    def serve_ppp(self, local=GATEWAY_ADDRESS, remote=GUEST_ADDRESS, dns=DNS_ADDRESS, options=(), speed=115200):
        """pppd as the server of a direct line: a fixed address pair, no
        authentication asked, the DNS address given (not served). Returns at
        once; wait_link() tells when the link is up."""
        self._pppd(["noauth", f"{local}:{remote}", "ms-dns", dns, *options], None, speed)

    def wait_link(self, timeout=90):
        """Waits until pppd's IPCP is up; raises with pppd's and chat's logs if pppd ends first."""
        state = self.text(f"end=$(($(cut -d. -f1 /proc/uptime) + {int(timeout)}));"
                          " while [ $(cut -d. -f1 /proc/uptime) -lt $end ]; do"
                          " [ -f /tmp/ppp-up ] && break; [ -f /tmp/pppd.status ] && break; sleep 0.1; done;"
                          " cat /tmp/ppp-up 2>/dev/null; echo started=$(cat /tmp/ppp-started);"
                          " [ -f /tmp/ppp-connected ] && echo connected=$(cat /tmp/ppp-connected);"
                          " [ -f /tmp/pppd.status ] && echo pppd-status=$(cat /tmp/pppd.status); true",
                          timeout=timeout + 10)
        fields = dict(line.split("=", 1) for line in state.splitlines() if "=" in line)
        if "interface" not in fields:
            raise GuestError(f"the link did not come up ({state.strip() or 'no answer in time'}):\n"
                             + self.ppp_log())
        return Link(fields["interface"], fields["local"], fields["remote"],
                    list(dict.fromkeys(fields[k] for k in ("dns1", "dns2") if fields.get(k))),
                    float(fields["started"]), float(fields["connected"]) if fields.get("connected") else None,
                    float(fields["uptime"]))

    def ppp_log(self):
        """pppd's debug log and chat's, for a failure's message."""
        return self.text("for f in /tmp/chat.log /tmp/pppd.out /tmp/pppd.log; do"
                         " [ -s $f ] && { echo \"--- $f\"; tail -c 4000 $f; }; done; true")

    def hang_up(self, timeout=20):
        """Ends pppd (it sends LCP Terminate) and waits for it to exit; returns its exit status."""
        state = self.text("[ -f /run/ppp0.pid ] && kill $(head -1 /run/ppp0.pid) 2>/dev/null;"
                          " killall pppd 2>/dev/null;"
                          f" end=$(($(cut -d. -f1 /proc/uptime) + {int(timeout)}));"
                          " while [ ! -f /tmp/pppd.status ] && [ $(cut -d. -f1 /proc/uptime) -lt $end ]; do"
                          " sleep 0.1; done; cat /tmp/pppd.status 2>/dev/null; true", timeout + 10)
        return int(state.split()[0]) if state.split() else None

    # ---- SLIP ---------------------------------------------------------------------------------

    def slip_up(self, local=GUEST_ADDRESS, remote=GATEWAY_ADDRESS, protocol="slip", chat=None, mtu=1006,
                dns=DNS_ADDRESS, speed=115200, default_route=True, timeout=90):
        """Dials with chat (when given a script, see chat_script), then
        attaches SLIP to the modem line with slattach (protocol slip or
        cslip) and sets the fixed addresses, the default route and the DNS
        server; returns the interface's name."""
        script = (f"stty -F /dev/ttyS0 {speed} raw -echo clocal -crtscts -hupcl\n"
                  "rm -f /tmp/chat.log /tmp/slattach.log\n")
        if chat is not None:
            self.put_file("/etc/dial.chat", chat.encode())
            script += "chat -v -s -S -f /etc/dial.chat </dev/ttyS0 >/dev/ttyS0 2>/tmp/chat.log || exit 10\n"
        script += (f"slattach -L -p {shlex.quote(protocol)} -s {speed} /dev/ttyS0 >/tmp/slattach.log 2>&1 &\n"
                   "i=0; while ! ip link show sl0 >/dev/null 2>&1; do"
                   " sleep 0.1; i=$((i+1)); [ $i -lt 100 ] || exit 11; done\n"
                   f"ifconfig sl0 {local} pointopoint {remote} mtu {mtu} up\n")
        if default_route:
            script += f"route add default gw {remote}\n"
        if dns:
            script += f"echo nameserver {dns} >/etc/resolv.conf\n"
        result = self.run(script, timeout, check=False)
        if result.status != 0:
            raise GuestError(f"SLIP did not come up (status {result.status}): {result.output!r}\n"
                             + self.text("tail -c 3000 /tmp/chat.log /tmp/slattach.log 2>/dev/null; true"))
        return "sl0"

    def slip_down(self):
        self.run("killall slattach 2>/dev/null; true")

    # ---- using the network --------------------------------------------------------------

    def addresses(self):
        """The IPv4 addresses of the machine's interfaces, lo left out: {interface: address}."""
        found = {}
        for line in self.text("ip -4 -o addr show").splitlines():
            words = line.split()
            if len(words) > 3 and words[1] != "lo":
                found[words[1]] = words[3].split("/")[0]
        return found

    def fetch(self, url, keep=False, timeout=300):
        """Fetches a URL with busybox wget. With keep, the bytes come back too
        (over the control line); the digest is computed in the machine. (The
        machine's own timeout ends a wget that hangs: busybox 1.35's wget
        crashes when given one with -T.)"""
        target = "/tmp/fetched"
        result = self.run(f"rm -f {target}; a=$(cut -d' ' -f1 /proc/uptime);"
                          f" wget -q -O {target} {shlex.quote(url)} || exit $?;"
                          " b=$(cut -d' ' -f1 /proc/uptime);"
                          f" echo seconds $a $b; wc -c <{target}; sha256sum {target}", timeout + 10, check=False)
        if result.status != 0:
            raise CommandFailed(f"wget {url}", result.status, result.output)
        words = result.output.decode().split()
        seconds = float(words[2]) - float(words[1])
        data = self.get_file(target) if keep else None
        return Download(int(words[3]), words[4], data, seconds)

    def resolve(self, name, server=None, timeout=30):
        """The IPv4 addresses busybox nslookup finds for a name (through the
        machine's resolv.conf, or a server named)."""
        result = self.run(f"nslookup {shlex.quote(name)} {shlex.quote(server) if server else ''}", timeout,
                          check=False)
        return parse_nslookup(result.output.decode(errors="replace"))

    def telnet(self, host, port=23, lines=(), pause=1.0, linger=2.0, timeout=60):
        """A Telnet session with busybox telnet: each line typed (CR LF) after
        a pause, then the session held open for `linger` seconds. Returns what
        the session printed."""
        typing = "; ".join(f"sleep {pause}; printf '%s\\r\\n' {shlex.quote(line)}" for line in lines)
        script = f"( {typing + '; ' if typing else ''}sleep {linger} ) | telnet {shlex.quote(host)} {int(port)}"
        return self.run(script, timeout, check=False).output

    def serve_http(self, port, files, root="/tmp/www"):
        """busybox httpd on a port of the machine, serving `files` ({name: bytes})."""
        for name, data in files.items():
            self.put_file(f"{root}/{name}", data)
        self.run(f"httpd -p {int(port)} -h {shlex.quote(root)}")

    def serve_telnet(self, port=23):
        """busybox telnetd giving a shell, for a peer's Telnet session."""
        self.run(f"telnetd -p {int(port)} -l /bin/sh")


def parse_nslookup(output):
    """The addresses in busybox nslookup's answer section (after the first
    "Name:"), without the server's own address."""
    addresses, answered = [], False
    for line in output.splitlines():
        if line.startswith("Name:"):
            answered = True
        elif answered and line.startswith("Address"):
            address = line.split(":", 1)[1].strip()
            if re.fullmatch(r"\d+\.\d+\.\d+\.\d+", address):
                addresses.append(address)
    return addresses
