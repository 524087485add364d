#!/usr/bin/env python3
"""Checks that the release's sample settings file loads as it says.

    check_sample_ini.py SAMPLE_INI BUILD_DIR

Runs the plug-in of BUILD_DIR (the 64-bit build of the same sources, which
Wine runs at full speed) in the host simulator under Wine, with COM1 on a
virtual line, once with the sample file exactly as shipped (Shift-JIS, its
Japanese comments included; every variant is written in the same encoding) and once for each
value its comments document: every line of the file is the file's own, with
only the one value put in. Each run hands the file to the plug-in (SetPath,
Wine's private-profile functions), has the guest ask for another format
(38400 bit/s, 7 data bits, even parity, two stop bits) and reads the port
settings the plug-in wrote, the port it opened and what the configuration
dialog shows. Each network line the sample gives as an example
(";PORT=telnet:bbs.example.org:23") is run too, pointed at this computer: its
host made 127.0.0.1 and its port one that is free here, its kind and listening
address kept. The run checks that the line is of the kind its prefix names
(raw bytes, or a Telnet session opened by the plug-in), and that a listening
line waits on the address the sample says (127.0.0.1 when none is named). The
modem examples run in real time: PORT=modem dials each entry of the sample's
commented phonebook, pointed at a server here of the kind the entry names, by
its number written with a dash; modem:PORT takes a call from here with ATA.
Exit status 1 on any fault.

The documented values are read from the comment above each key: the tokens
before its "Any other value" sentence (so "PARITY: NONE, ODD or EVEN." gives
the three words)."""
import os
import re
import shutil
import socket
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path[:0] = [os.path.join(ROOT, "tools/host"), os.path.join(ROOT, "tools/virtual-cable")]
from winehost import ALERT, PORTS_KEY, WINE, HostSim, HostSimError, fields, prefix_on_a_line  # noqa: E402

KEYS = ("PORT", "LOCK", "BAUDRATE", "PARITY", "STOPBITS", "BYTESIZE")
# What the port's line settings record holds for each value (the Windows codes).
PARITY_CODES = {"NONE": 0, "ODD": 1, "EVEN": 2}
STOP_CODES = {"1": 0, "1.5": 1, "2": 2}
# The guest's own choice, which a locked file overrides: 2457600 Hz / (4 x 16)
# = 38400 bit/s; mode byte 0xFA: factor 16, 7 data bits, even parity, 2 stop bits.
GUEST = dict(count=4, mode=0xFA, baud=38400, size=7, parity=2, stop=2)
DIALOG_LISTS = {"PORT": 1000, "BAUDRATE": 1022, "PARITY": 1024, "STOPBITS": 1026, "BYTESIZE": 1025}
DIALOG_LOCK = 1023
LOOPBACK = "127.0.0.1"
TELNET_IAC = 0xFF
NETWORK_EXAMPLE = re.compile(r"(?i)(tcp|telnet|listen):(?:(\[[^\]]*\]|[^:]*):)?(\d+)")
# PORT=modem, or modem:[ADDRESS:]PORT for a modem that also answers calls.
MODEM_EXAMPLE = re.compile(r"(?i)modem(?::(?:([^:]*):)?(\d+))?")
# A commented phonebook entry: ";NUMBER=ADDRESS", ADDRESS HOST[:PORT],
# telnet:HOST:PORT or tcp:HOST:PORT.
PHONEBOOK_ENTRY = re.compile(r";\s*(\d+)=(?:(telnet|tcp):)?([^:\s]+)(?::(\d+))?")

faults = []


def fault(text):
    faults.append(text)
    print("FAULT: " + text, file=sys.stderr)


def documented(text):
    """({key: value on its line}, {key: [values its comment documents]},
    [the PORT values the comments give as examples])."""
    values, choices, comment, examples = {}, {}, [], []
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith(";"):
            example = re.fullmatch(r";\s*PORT=(\S+)", stripped)
            if example:
                examples.append(example.group(1))
            comment.append(stripped.lstrip(";").strip())
            continue
        match = re.fullmatch(r"([A-Z]+)=(.*)", stripped)
        if match and match.group(1) in KEYS:
            key = match.group(1)
            values[key] = match.group(2)
            said = " ".join(comment)
            said = said.split(key + ":", 1)[-1].split("Any ", 1)[0]
            pattern = r"\bCOM\d+\b" if key == "PORT" else r"(?<![\w.])(?:\d+(?:\.\d+)?|NONE|ODD|EVEN)(?![\w.]*\w)"
            choices[key] = list(dict.fromkeys(re.findall(pattern, said)))
        if not stripped:
            comment = []
    return values, choices, examples


def with_value(text, key, value):
    """The file with only `key`'s value changed, on its own line."""
    changed, count = re.subn(r"(?m)^%s=.*?(\r?)$" % key, lambda m: "%s=%s%s" % (key, value, m.group(1)), text)
    assert count == 1, key
    return changed


def expected_dcb(values):
    if values["LOCK"] != "1":
        return dict(baud=GUEST["baud"], size=GUEST["size"], parity=GUEST["parity"], stop=GUEST["stop"])
    return dict(baud=int(values["BAUDRATE"]), size=int(values["BYTESIZE"]), parity=PARITY_CODES[values["PARITY"]],
                stop=STOP_CODES[values["STOPBITS"]])


def variants(values, choices):
    """(what, file values) for the shipped file and runs that together put in
    every documented value: each run one more rate, with the parities, byte
    sizes and stop bits in turn; then the other lock value and ports.

    Stop bits are paired with a byte size the port takes them with: 1.5 with
    5 data bits, 2 with more (other pairs are changed by the line rules)."""
    runs = [("as shipped", dict(values))]
    rates = [rate for rate in choices["BAUDRATE"] if rate != values["BAUDRATE"]]
    for i, rate in enumerate(rates):
        run = dict(values, BAUDRATE=rate, PARITY=choices["PARITY"][i % len(choices["PARITY"])],
                   BYTESIZE=choices["BYTESIZE"][i % len(choices["BYTESIZE"])],
                   STOPBITS=choices["STOPBITS"][i % len(choices["STOPBITS"])])
        if run["STOPBITS"] == "1.5":
            run["BYTESIZE"] = "5"
        elif run["STOPBITS"] == "2" and run["BYTESIZE"] == "5":
            run["BYTESIZE"] = "8"
        runs.append(("%s %s %s %s" % (rate, run["PARITY"], run["STOPBITS"], run["BYTESIZE"]), run))
    for key in ("LOCK", "PORT"):
        for value in choices[key]:
            if value != values[key]:
                runs.append(("%s=%s" % (key, value), dict(values, **{key: value})))
    for key in ("PARITY", "STOPBITS", "BYTESIZE"):
        missing = set(choices[key]) - {run[key] for _, run in runs}
        if missing:
            fault("no run puts in %s %s" % (key, sorted(missing)))
    return runs


def make_absent(prefix, ports):
    """Names above COM10 made absent as the prefix makes COM2 to COM10: Wine
    would otherwise give them to serial ports of the machine itself."""
    high = [p for p in ports if int(p[3:]) > 10]
    for port in high:
        prefix._run(WINE, "reg", "add", PORTS_KEY, "/v", port, "/d", "/nonexistent/" + port.lower(), "/f")
    prefix.stop_server()
    for port in high:
        link = os.path.join(prefix.path, "dosdevices", port.lower())
        if os.path.lexists(link) and not os.path.isdir(link):
            os.unlink(link)
        os.makedirs(link, exist_ok=True)


def run_once(prefix, line, build, directory, text, values, dialog):
    ini = os.path.join(directory, "settings.ini")
    with open(ini, "w", newline="", encoding="cp932") as f:
        f.write(text)
    sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                  line=line, virtual=True, log=os.path.join(directory, "wine.log"))
    try:
        if sim.startup[-1] != "ready":
            fault("the host simulator did not start: %r" % sim.startup)
            return
        got = {}
        if dialog:
            shown = sim.command("config dump cancel")
            for entry in (fields(l) for l in shown if l.startswith(("list id=", "check id="))):
                got[int(entry["id"])] = entry
        sim.command("comm")
        sim.command("timer2 %d" % GUEST["count"])
        lines = sim.command("mode %02X" % GUEST["mode"])
        calls = sim.command("comm")
        opens = [fields(c) for c in calls if c.startswith("comm open")]
        dcbs = [fields(c) for c in calls if c.startswith("comm dcb")]
        alerts = [bytes.fromhex(match[2]) for match in map(ALERT.match, lines) if match]
    finally:
        sim.quit()

    path = "//./" + values["PORT"]
    if not opens or opens[0].get("path") != path:
        fault("%s: the plug-in opened %r, not %s" % (values, [o.get("path") for o in opens], path))
    if values["PORT"] != "COM1":  # only COM1 is on a line: the others must fail with the port's name
        if opens and opens[0].get("result") != "fail" or len(alerts) != 1:
            fault("%s: expected one open failure for %s, got %r %r" % (values, values["PORT"], opens, alerts))
        return
    want = expected_dcb(values)
    # The last record written: the mode byte's line settings.
    dcb = dcbs[-1] if dcbs else {}
    seen = {k: int(dcb[k]) for k in ("baud", "size", "parity", "stop") if k in dcb}
    # A pseudo-terminal refuses some formats (Linux keeps it at 8 data bits):
    # "SetCommState NG" is then the line's answer to the record checked here.
    alerts = [a for a in alerts if a != b"SetCommState NG"]
    if seen != want or alerts:
        fault("%s: the port was set to %r (alerts %r), expected %r" % (values, seen, alerts, want))
    if dialog:
        shown = {key: got.get(ident, {}).get("selected") for key, ident in DIALOG_LISTS.items()}
        shown["LOCK"] = got.get(DIALOG_LOCK, {}).get("checked")
        if shown != values:
            fault("%s: the dialog opened on %r" % (values, shown))


def free_port():
    with socket.socket() as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def listening_address(port):
    """The IPv4 address something listens on at `port`, from /proc (no connection used up)."""
    with open("/proc/net/tcp") as f:
        for row in f.readlines()[1:]:
            local, state = row.split()[1], row.split()[3]
            address, number = local.split(":")
            if state == "0A" and int(number, 16) == port:
                return socket.inet_ntoa(bytes.fromhex(address)[::-1])
    return None


def receive_until(peer, wanted, seconds=10):
    peer.settimeout(seconds)
    got = b""
    deadline = time.monotonic() + seconds
    while wanted not in got and time.monotonic() < deadline:
        try:
            chunk = peer.recv(4096)
        except socket.timeout:
            break
        if not chunk:
            break
        got += chunk
    return got


def phonebook_entries(text):
    """[(number, kind or None, host, port or None)] of the commented entries
    under the sample's [RS-232C Phonebook] heading."""
    entries, inside = [], False
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("["):
            inside = stripped.lower() == "[rs-232c phonebook]"
        elif inside:
            match = PHONEBOOK_ENTRY.fullmatch(stripped)
            if match:
                entries.append(match.groups())
    return entries


def modem_conversation(sim, typed, ending, seconds=15):
    """The guest types `typed` at the modem and listens until it hears `ending`."""
    sim.command("send hex:" + typed.encode("latin-1").hex())
    heard = b""
    deadline = time.monotonic() + seconds
    while ending not in heard and time.monotonic() < deadline:
        for got in sim.command("listen 200"):
            if got.startswith("data hex="):
                heard += bytes.fromhex(got[len("data hex="):])
    return heard


def run_modem_example(prefix, line, build, directory, text, example):
    """A modem example, run in real time (a modem keeps its own time): with
    PORT=modem, every phonebook entry of the sample, uncommented and pointed at
    a server here of the kind the entry names, is dialled by its number written
    with a dash (as people write numbers), connects and carries the guest's
    bytes; with modem:PORT a caller here rings, ATA answers, and the caller
    gets the guest's bytes. Returns a fault text or None."""
    match = MODEM_EXAMPLE.fullmatch(example)
    address, listen_port = match.group(1), match.group(2)
    calls, servers, book = [], [], []
    if listen_port:
        listen_port = free_port()
        here = "modem:%s%d" % (address + ":" if address else "", listen_port)
    else:
        here = "modem"
        for number, kind, _, _ in phonebook_entries(text):
            server = socket.socket()
            server.bind((LOOPBACK, 0))
            server.listen(1)
            servers.append(server)
            port = server.getsockname()[1]
            book.append("%s=%s%s:%d" % (number, kind + ":" if kind else "", LOOPBACK, port))
            calls.append((number[:3] + "-" + number[3:], kind, server))
        if not calls:
            return "the sample's phonebook has no entry to dial"
    ini = os.path.join(directory, "settings.ini")
    with open(ini, "w", newline="", encoding="cp932") as f:
        f.write(with_value(text, "PORT", here).replace("[RS-232C Phonebook]",
                                                       "\n".join(["[RS-232C Phonebook]"] + book)))
    sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                  line=line, virtual=False, log=os.path.join(directory, "wine.log"))
    peers = []
    try:
        sim.command("mode 4E")
        sim.command("cmd 37")
        if not modem_conversation(sim, "ATE0\r", b"OK").endswith(b"OK\r\n"):
            return "%s: the modem does not answer AT" % here
        if listen_port:
            bound = listening_address(listen_port)
            if bound != (address or LOOPBACK):
                return "%s waits on %s, not on %s" % (here, bound, address or LOOPBACK)
            caller = socket.create_connection((LOOPBACK, listen_port), timeout=5)
            peers.append(caller)
            if b"RING" not in modem_conversation(sim, "", b"RING", seconds=10):
                return "%s: a caller here never rang" % here
            calls = [("ATA", None, caller)]
        for dialled, kind, far in calls:
            typed = dialled if dialled == "ATA" else "ATDT" + dialled
            heard = modem_conversation(sim, typed + "\r", b"CONNECT")
            if b"CONNECT" not in heard:
                return "%s: %s gave %r, not CONNECT" % (here, typed, heard)
            peer = far if dialled == "ATA" else far.accept()[0]
            if dialled != "ATA":
                peers.append(peer)
            sim.command("send text:sample")
            got = receive_until(peer, b"sample")
            # A telnet: number opens with the modem's own offers; the others
            # carry the guest's bytes alone.
            if kind == "telnet":
                if not got.startswith(bytes([TELNET_IAC])) or b"sample" not in got:
                    return "%s: %s: the server got %r, not a Telnet negotiation and then the guest's bytes" % (
                        here, typed, got)
            elif got != b"sample":
                return "%s: %s: the server got %r, not the guest's bytes alone" % (here, typed, got)
            peer.close()
            if b"NO CARRIER" not in modem_conversation(sim, "", b"NO CARRIER"):
                return "%s: %s: the far end's hang-up gave no NO CARRIER" % (here, typed)
    except (OSError, HostSimError) as error:
        return "%s: %s" % (here, error)
    finally:
        for closing in peers + servers:
            closing.close()
        sim.quit()
    return None


def run_network_example(prefix, line, build, directory, text, example):
    """The example pointed at this computer; returns a fault text or None."""
    if MODEM_EXAMPLE.fullmatch(example):
        return run_modem_example(prefix, line, build, directory, text, example)
    match = NETWORK_EXAMPLE.fullmatch(example)
    if not match:
        return "no check knows the kind of line %r" % example
    kind, address, _ = match.group(1).lower(), match.group(2), match.group(3)
    port = free_port()
    if kind == "listen":
        here = "listen:%s%d" % (address + ":" if address else "", port)
    else:
        here = "%s:%s:%d" % (kind, LOOPBACK, port)
    server = None
    if kind != "listen":
        server = socket.socket()
        server.bind((LOOPBACK, port))
        server.listen(1)
    ini = os.path.join(directory, "settings.ini")
    with open(ini, "w", newline="", encoding="cp932") as f:
        f.write(with_value(text, "PORT", here))
    sim = HostSim(prefix, os.path.join(build, "hostsim.exe"), os.path.join(build, "RS232C.dll"), ini,
                  line=line, virtual=True, log=os.path.join(directory, "wine.log"))
    peer = None
    said = []  # a message box is reported in the output of whatever command is running
    try:
        said += sim.command("mode 4E")
        said += sim.command("cmd 37")
        if server:
            server.settimeout(15)
            peer, _ = server.accept()
        else:
            bound = listening_address(port)
            want = address or LOOPBACK
            if bound != want:
                return "%s waits on %s, not on %s" % (here, bound, want)
            peer = socket.create_connection((LOOPBACK, port), timeout=5)
        for _ in range(100):  # the line notices its peer in real time, between ticks
            said += sim.command("lines")
            if fields(said[-1]).get("CS") == "on":
                break
            said += sim.command("ticks 100")
            time.sleep(0.05)
        said += sim.command("send text:sample", check=False)
        got = receive_until(peer, b"sample")
        said += sim.command("idle 200")
    except (OSError, HostSimError) as error:
        return "%s: %s" % (here, error)
    finally:
        for closing in (peer, server):
            if closing:
                closing.close()
        sim.quit()
    alerts = [l for l in said if l.startswith("alert")]
    if alerts:
        return "%s showed %r" % (here, alerts)
    # A Telnet line opens its session with the plug-in's own negotiation; the
    # others carry the guest's bytes and nothing else.
    if kind == "telnet":
        if not got.startswith(bytes([TELNET_IAC])) or b"sample" not in got:
            return "%s: the peer got %r, not a Telnet negotiation and then the guest's bytes" % (here, got)
    elif got != b"sample":
        return "%s: the peer got %r, not the guest's bytes alone" % (here, got)
    return None


def main():
    sample, build = sys.argv[1:3]
    with open(sample, "rb") as f:
        text = f.read().decode("cp932")
    values, choices, examples = documented(text)
    if set(values) != set(KEYS):
        fault("the sample sets %r, not the six keys" % sorted(values))
        return 1
    for key in KEYS:
        if key != "PORT" and values[key] not in choices[key]:
            fault("the sample's %s=%s is not among the values its comment documents, %r"
                  % (key, values[key], choices[key]))
    print("the sample sets %s; its comments document %s" % (
        ", ".join("%s=%s" % kv for kv in values.items()),
        "; ".join("%s %s" % (k, "/".join(v)) for k, v in choices.items())))

    directory = tempfile.mkdtemp(prefix="rs232c-sample-ini-")
    line = prefix = None
    try:
        line, prefix = prefix_on_a_line(directory)
        runs = variants(values, choices)
        make_absent(prefix, {run["PORT"] for _, run in runs})
        for what, run in runs:
            file_text = text
            for key in KEYS:
                if run[key] != values[key]:
                    file_text = with_value(file_text, key, run[key])
            before = len(faults)
            run_once(prefix, line, build, directory, file_text, run, dialog=(what == "as shipped"))
            print("%-20s %s" % (what, "ok" if len(faults) == before else "FAULT"))
        for example in examples:
            problem = run_network_example(prefix, line, build, directory, text, example)
            if problem:
                fault(problem)
            print("%-20s %s" % (example, "FAULT" if problem else "ok"))
        print("%d runs of the sample file, %d faults" % (len(runs) + len(examples), len(faults)))
    finally:
        if line:
            line.stop()
        if prefix:
            prefix.stop_server()
        shutil.rmtree(directory, ignore_errors=True)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
