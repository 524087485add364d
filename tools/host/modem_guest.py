"""A guest's communication program as the host simulator plays it toward the
modem line: it types text at the line's pace and collects what comes back."""
import time


def types(sim, text):
    sim.command("send hex:" + text.encode("latin-1").hex())


def hears(sim, ending, timeout=15, window_ms=200):
    """What the guest receives until it has heard `ending` (or the time is up)."""
    heard = b""
    deadline = time.monotonic() + timeout
    while ending not in heard and time.monotonic() < deadline:
        data = [line for line in sim.command(f"listen {window_ms}") if line.startswith("data hex=")]
        heard += bytes.fromhex(data[0][len("data hex="):]) if data else b""
    return heard


def receive_all(connection, count):
    """`count` bytes from a socket, however the network splits them."""
    got = b""
    while len(got) < count:
        chunk = connection.recv(count - len(got))
        if not chunk:
            break
        got += chunk
    return got
