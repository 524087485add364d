"""The dial-up guest against a known server: two machines (guest_vm.py)
joined serial port to serial port, one running pppd as the server, the
other dialling with the harness's own pppd and chat set-up.

It proves the harness before our own server exists, and it is the
reference our server's figures compare with:

    python3 tools/dialup/ppp_reference.py [--runs N]
        The proof, N times (default 1). The server machine answers like a
        period ISP's modem line (OK to the init string, CONNECT to ATDT, a
        text login, then pppd on the word "ppp"), so the client's chat
        script is the one a test uses. Then: a file fetched over HTTP from
        the server, byte for byte; a Telnet session to the server; the
        server fetching from an HTTP server in the client (as a port
        forward reaches the guest); the same download over SLIP and CSLIP
        with slattach.

    python3 tools/dialup/ppp_reference.py --rates 9600,38400,115200 [--size BYTES]
        The goodput of the download over PPP (pppd to pppd, no modem) at
        each rate, the line paced by a relay in this process at 10 bits a
        byte (8N1), and once unpaced (QEMU's UART on a socket keeps no pace
        of its own).
"""
import argparse
import hashlib
import os
import random
import select
import shutil
import socket
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from guest_vm import GATEWAY_ADDRESS, GUEST_ADDRESS, GuestVM  # noqa: E402

LOGIN = ("guest", "secret")
# A period ISP's modem line, played by the server machine on its ttyS0: the
# modem's answers to the client's AT commands, CONNECT, a text login, and
# pppd once the caller types "ppp". CR ends each line the caller types.
ANSWERING_LINE = r"""
stty -F /dev/ttyS0 115200 raw -echo icrnl clocal -crtscts
exec </dev/ttyS0 >/dev/ttyS0
while IFS= read -r line; do
  case "$line" in
    ATD*) printf '\r\nCONNECT 115200\r\n'; break ;;
    AT*) printf '\r\nOK\r\n' ;;
  esac
done
printf '\r\nReference ISP\r\n\r\nlogin: '; read -r name
printf 'Password: '; read -r password
printf '\r\nWelcome, %s. Type ppp to start.\r\n> ' "$name"; read -r word
echo "name=$name password=$password word=$word" >/tmp/answered
[ "$word" = ppp ] || exit 1
exec pppd /dev/ttyS0 115200 local nocrtscts nodetach noauth debug logfile /tmp/pppd.log 10.0.2.2:10.0.2.15 ms-dns 10.0.2.3
"""


class PacedLine:
    """Two machines' modem lines joined through this process at a serial
    line's pace: each byte takes 10 bit times (8N1) on its way, each way on
    its own. Bytes are passed on in slices of about 5 ms of the line's time,
    each when the line would have finished carrying it."""

    def __init__(self, first, second, bits_per_second):
        self.byte_rate = bits_per_second / 10
        self.sockets = []
        for machine in (first, second):
            s = socket.socket(socket.AF_UNIX)
            s.connect(machine.line_socket)
            self.sockets.append(s)
        self.running = True
        self.carried = {}  # bytes carried so far, by the machine that sent them
        self.threads = [threading.Thread(target=self._carry, args=(a, b, name), daemon=True)
                        for a, b, name in (self.sockets + [first.name], self.sockets[::-1] + [second.name])]
        for thread in self.threads:
            thread.start()

    def _carry(self, source, destination, sender):
        self.carried[sender] = 0
        slice_bytes = max(1, int(self.byte_rate * 0.005))
        free_at = time.monotonic()  # when the line has carried all it was given
        while self.running:
            # Bytes already waiting follow the last ones without a gap, however
            # late this thread woke; after a quiet spell the line starts afresh.
            waiting, _, _ = select.select([source], [], [], 0)
            if not waiting:
                waiting, _, _ = select.select([source], [], [], 0.2)
                if not waiting:
                    continue
                free_at = max(free_at, time.monotonic())
            try:
                data = source.recv(slice_bytes)
            except OSError:
                return
            if not data:
                return
            free_at += len(data) / self.byte_rate
            self.carried[sender] += len(data)
            delay = free_at - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            try:
                destination.sendall(data)
            except OSError:
                return

    def close(self):
        self.running = False
        for s in self.sockets:
            s.close()
        for thread in self.threads:
            thread.join(2)


def payload(size, seed=1):
    return random.Random(seed).randbytes(size)


def say(text):
    print(text, flush=True)


def proof(directory, size):
    """One run of the proof; raises at the first thing that goes wrong."""
    data = payload(size)
    digest = hashlib.sha256(data).hexdigest()
    with GuestVM(directory, "server") as server, GuestVM(directory, "client") as client:
        say(f"  boot: server {server.boot_seconds:.2f} s, client {client.boot_seconds:.2f} s")
        client.join(server)
        server.put_file("/tmp/www/file.bin", data)
        server.run("httpd -p 80 -h /tmp/www")
        server.serve_telnet(23)

        # PPP through a period ISP's answering line: chat's init string, ATDT, login, "ppp".
        server.run(f"( sh -c {quote(ANSWERING_LINE)} >/tmp/answering.log 2>&1 ) &")
        started = time.monotonic()
        link = client.dial("777", login=LOGIN, start="ppp", prompt=">")
        say(f"  PPP up in {time.monotonic() - started:.2f} s from dialling (the machine's clock:"
            f" {link.connected_at - link.started_at:.2f} s to CONNECT and the login,"
            f" {link.up_at - link.connected_at:.2f} s from there to IPCP up): {link}")
        check(link.local == GUEST_ADDRESS and link.remote == GATEWAY_ADDRESS and link.dns == ["10.0.2.3"], link)
        answered = server.text("cat /tmp/answered")
        check(answered.split() == ["name=guest", "password=secret", "word=ppp"], answered)
        check(client.addresses() == {"ppp0": GUEST_ADDRESS}, client.addresses())

        got = client.fetch(f"http://{GATEWAY_ADDRESS}/file.bin", keep=True)
        check(got.data == data and got.sha256 == digest, f"PPP download differs: {got.size} bytes")
        say(f"  PPP (unpaced): {got.size} bytes byte for byte in {got.seconds:.2f} s"
            f" ({got.size / got.seconds / 1000:.1f} kB/s)")

        session = client.telnet(GATEWAY_ADDRESS, 23, ["echo telnet-$((6 * 7))", "exit"])
        check(b"telnet-42" in session, f"Telnet session: {session!r}")
        say("  Telnet: a shell session on the server ran a command")

        client.serve_http(8080, {"hello.txt": b"served by the client\n"})
        reached = server.fetch(f"http://{GUEST_ADDRESS}:8080/hello.txt", keep=True)
        check(reached.data == b"served by the client\n", reached)
        say("  the server reached an HTTP server in the client")

        status = client.hang_up()
        server_status = server.text("end=$(($(cut -d. -f1 /proc/uptime) + 10));"
                                    " while pidof pppd >/dev/null && [ $(cut -d. -f1 /proc/uptime) -lt $end ];"
                                    " do sleep 0.1; done; pidof pppd || echo ended")
        check(server_status.strip() == "ended", f"the server's pppd did not end: {server_status}")
        say(f"  hung up: the client's pppd ended with status {status}, the server's on the peer's Terminate")

        for protocol in ("slip", "cslip"):
            server.slip_up(GATEWAY_ADDRESS, GUEST_ADDRESS, protocol, default_route=False, dns=None)
            client.slip_up(GUEST_ADDRESS, GATEWAY_ADDRESS, protocol)
            got = client.fetch(f"http://{GATEWAY_ADDRESS}/file.bin")
            check(got.sha256 == digest and got.size == size, f"{protocol} download differs")
            say(f"  {protocol.upper()} (unpaced): {got.size} bytes, same digest, in {got.seconds:.2f} s"
                f" ({got.size / got.seconds / 1000:.1f} kB/s)")
            client.slip_down()
            server.slip_down()


def goodput(directory, size, rate):
    """The download's goodput over PPP, pppd to pppd, at a paced rate (None: unpaced)."""
    data = payload(size)
    with GuestVM(directory, "server") as server, GuestVM(directory, "client") as client:
        server.put_file("/tmp/www/file.bin", data)
        server.run("httpd -p 80 -h /tmp/www")
        line = PacedLine(client, server, rate) if rate else client.join(server)
        try:
            server.serve_ppp()
            link = client.dial(number=None)
            retransmitted = tcp_retransmissions(server)
            carried = getattr(line, "carried", {}).get("server", 0)
            got = client.fetch(f"http://{GATEWAY_ADDRESS}/file.bin", timeout=3600)
            check(got.sha256 == hashlib.sha256(data).hexdigest(), "the download differs")
            retransmitted = tcp_retransmissions(server) - retransmitted
            # What the line carried toward the client: framing, escapes, headers and resent segments.
            carried = getattr(line, "carried", {}).get("server", 0) - carried
            client.hang_up()
        finally:
            line.close()
        return link.up_at - link.started_at, got.seconds, carried, retransmitted


def tcp_retransmissions(machine):
    """The machine's count of retransmitted TCP segments so far."""
    rows = [line.split() for line in machine.text("cat /proc/net/snmp").splitlines() if line.startswith("Tcp:")]
    return int(rows[1][rows[0].index("RetransSegs")])


class ProofFailed(AssertionError):
    pass


def check(condition, what):
    if not condition:
        raise ProofFailed(str(what))


def quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--rates", help="comma-separated bit rates: measure goodput instead of the proof")
    parser.add_argument("--size", type=int, default=300 * 1024)
    parser.add_argument("--keep", action="store_true", help="keep the machines' logs")
    args = parser.parse_args()
    directory = tempfile.mkdtemp(prefix="dialup-reference-")
    ok = False
    try:
        if args.rates:
            say(f"{'rate':>8}  {'PPP up':>7}  {'download':>9}  {'goodput':>9}  {'of the line':>11}"
                "  line bytes a byte  resent segments")
            for rate in [int(r) for r in args.rates.split(",")] + [None]:
                up, seconds, line_bytes, retransmitted = goodput(directory, args.size, rate)
                share = f"{args.size / seconds / (rate / 10) * 100:9.1f} %" if rate else "    unpaced"
                say(f"{rate or '-':>8}  {up:6.2f}s  {seconds:8.2f}s  {args.size / seconds:7.0f}B/s  {share}"
                    f"  {line_bytes / args.size if line_bytes else float('nan'):17.4f}  {retransmitted:15}")
        else:
            for run in range(1, args.runs + 1):
                say(f"run {run}:")
                started = time.monotonic()
                proof(directory, args.size)
                say(f"  run {run} passed in {time.monotonic() - started:.1f} s")
        ok = True
    finally:
        if args.keep or not ok:
            say(f"the machines' logs are in {directory}")
        else:
            shutil.rmtree(directory, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
