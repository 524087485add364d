"""pyserial's RFC 2217 server (serial.rfc2217.PortManager, from Debian's
python3-serial) serving one serial device on a loopback port, one client at
a time. Run by Debian's own Python, where the package puts the module:

    /usr/bin/python3 pyserial_rfc2217_server.py DEVICE PORT

Every setting the client makes is logged to standard error by PortManager
("set baud rate: ...", "set data size: ..."), which is how a test
sees the byte size and parity that a pseudo-terminal itself does not keep."""
import logging
import select
import socket
import sys

import termios

import serial
import serial.rfc2217


class PseudoTerminal(serial.Serial):
    """A pseudo-terminal refuses some byte sizes and parities outright. The
    server still takes the client's setting (and logs it); the device gets
    the rate and stop bits with the 8N it can hold."""

    def _reconfigure_port(self, *args, **kwargs):
        try:
            super()._reconfigure_port(*args, **kwargs)
        except termios.error:
            wanted = self._bytesize, self._parity
            self._bytesize, self._parity = serial.EIGHTBITS, serial.PARITY_NONE
            try:
                super()._reconfigure_port(*args, **kwargs)
            finally:
                self._bytesize, self._parity = wanted


class Connection:
    def __init__(self, client):
        self.client = client

    def write(self, data):
        self.client.sendall(data)


def serve(device, port):
    logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(message)s")
    line = PseudoTerminal(device, timeout=0)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(1)
    while True:
        client, _ = server.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        manager = serial.rfc2217.PortManager(line, Connection(client), logger=logging.getLogger("rfc2217"))
        while True:
            ready, _, _ = select.select([client, line.fileno()], [], [], 0.1)
            manager.check_modem_lines()
            if client in ready:
                data = client.recv(4096)
                if not data:
                    break
                line.write(b"".join(manager.filter(data)))
            if line.fileno() in ready:
                data = line.read(4096)
                if data:
                    client.sendall(b"".join(manager.escape(data)))
        client.close()


if __name__ == "__main__":
    serve(sys.argv[1], int(sys.argv[2]))
