#!/usr/bin/env python3
"""Writes the committed seed inputs of the fuzzers.

Each guest and snapshot seed is a short, meaningful session in the input
format of fuzz/GuestSession.h, so that the fuzzers start from traffic a real
guest produces; each settings seed is a settings file with dialog edits
(fuzz/settings_fuzzer.cpp); each modem seed is a session of a guest's
communication program and the network (fuzz/modem_fuzzer.cpp). Run it again after changing those formats.
"""
import os
import struct

OPS = ["WriteData", "ReadData", "ReadStatus", "WriteModeCommand", "ReadPortB", "ReadPortC",
       "WritePortC", "SetResetPortC", "Timer2Changed", "Ticks", "LateTick", "Reset", "PowerOff",
       "Save", "LoadSaved", "DialogSettings", "LineSignals", "LineReceives", "PortFaults"]
CTS, DSR, RING, DCD = 0x10, 0x20, 0x40, 0x80
# The second LineSignals byte: receive errors, then what becomes of the line.
OVERRUN_ERROR, PARITY_ERROR, FRAMING_ERROR, GONE, CONNECTING = 0x01, 0x02, 0x04, 0x10, 0x20
# PortFaults: operations that fail (kFaultable in GuestSession.cpp), then features the lines opened from then on lack.
SET_FORMAT_FAILS, SET_RATE_FAILS, READ_FORMAT_FAILS, INPUTS_FAIL = 1 << 1, 1 << 2, 1 << 3, 1 << 5
NO_FORMAT, NO_CONTROLS, NO_BREAK = 1 << 12, 1 << 13, 1 << 14


def op(name, *args):
    return bytes([OPS.index(name)]) + bytes(args)


def faults(mask):
    return op("PortFaults") + struct.pack("<H", mask)


def setup(panel=True, port=1, lock=False, rate_index=5, fmt=27, clock=2457600, long_name=False):
    """Flags, the settings file's settings, the system clock. fmt: parity % 3,
    stop bits // 3 % 3, byte size 5 + // 9 % 4; 27 is 8N1."""
    flags = (1 if panel else 0) | (2 if long_name else 0)
    return bytes([flags, (port - 1) | (0x80 if lock else 0), rate_index, fmt]) + struct.pack("<I", clock)


def running_line():
    """Timer2 count 16 and mode 0x4E: 2457600 / (16 * 16) = 9600 baud, 8N1;
    then transmitter and receiver on, DTR and RTS, CTS and DSR from the line."""
    return (op("Timer2Changed") + struct.pack("<i", 16) + op("WriteModeCommand", 0x4E)
            + op("WriteModeCommand", 0x37) + op("LineSignals", CTS | DSR, 0))


GUEST = {
    "echo": setup() + running_line() + op("LineReceives", 1, ord("Z")) + op("WriteData", ord("A"))
    + op("Ticks", 3) + op("ReadStatus") + op("ReadData") + op("WriteData", ord("B"))
    + op("WriteData", ord("C")) + op("Ticks", 4) + op("ReadStatus"),
    "interrupts-and-faults": setup(lock=True, fmt=2 + 9 * 2) + running_line() + op("WritePortC", 7)
    + op("SetResetPortC", 4) + op("SetResetPortC", 5) + faults(INPUTS_FAIL)
    + op("WriteData", 0x55) + op("Ticks", 2) + op("LineSignals", RING | DCD, PARITY_ERROR | FRAMING_ERROR | 0x40)
    + faults(0) + op("ReadStatus") + op("ReadPortB") + op("WriteModeCommand", 0x17)
    + op("ReadPortC") + op("Ticks", 2),
    "save-load-power": setup(port=3) + running_line() + op("WriteData", 0x41) + op("Save") + op("Ticks", 2)
    + op("DialogSettings", 0x81, 7, 27) + op("LoadSaved") + op("PowerOff") + op("LateTick") + op("Reset")
    + op("LoadSaved") + op("Ticks", 2),
    "sync-mode-and-timer2": setup() + op("WriteModeCommand", 0x00) + op("WriteModeCommand", 0x16)
    + op("WriteModeCommand", 0x16) + op("Timer2Changed") + struct.pack("<i", 0) + op("WriteModeCommand", 0x40)
    + faults(READ_FORMAT_FAILS | SET_FORMAT_FAILS | SET_RATE_FAILS) + op("WriteModeCommand", 0xFE)
    + op("Timer2Changed") + struct.pack("<i", -1) + op("Ticks", 3),
    "line-kinds-and-a-gone-line": setup() + faults(NO_FORMAT | NO_BREAK) + running_line() + op("WriteData", 0x41)
    + op("Ticks", 2) + op("LineSignals", CTS | DSR, CONNECTING) + op("WriteModeCommand", 0x40)
    + op("WriteModeCommand", 0x4E) + op("LineSignals", CTS, GONE | OVERRUN_ERROR) + faults(0)
    + op("WriteModeCommand", 0x40) + op("WriteModeCommand", 0x4E) + op("Timer2Changed") + struct.pack("<i", 8)
    + op("Ticks", 2) + op("ReadStatus"),
}


def saved_block(version=1, port_ready=1, program_state=3, baud_factor=16, timer2=16, mode=0x4E, lock=0,
                rate=9600):
    chip = bytearray(18)
    chip[2] = 0x05  # status: TxRDY, TxEMPTY
    chip[7] = chip[8] = 1  # receiver and transmitter enabled
    chip[13] = program_state
    chip[17] = port_ready
    settings = struct.pack("<5i", lock, rate, 0, 0, 8) + b"COM1".ljust(260, b"\0")
    return (struct.pack("<I", version) + bytes(chip) + settings
            + struct.pack("<iIIB", timer2, baud_factor, 9600, mode))


def snapshot_seed(block, before=b"", stored_length=None):
    length = len(block) if stored_length is None else stored_length
    return setup() + bytes([len(before)]) + before + struct.pack("<H", length) + block[:length] \
        + op("WriteData", 0x41) + op("Ticks", 3) + op("ReadStatus")


SNAPSHOT = {
    "restore-running-port": snapshot_seed(saved_block(), before=running_line()),
    "restore-locked-settings": snapshot_seed(saved_block(lock=1, rate=38400)),
    "other-version": snapshot_seed(saved_block(version=2), before=running_line()),
    "stored-short": snapshot_seed(saved_block(), stored_length=100),
    "stored-long": snapshot_seed(saved_block() + bytes(85)),
    "out-of-sequence": snapshot_seed(saved_block(program_state=5, baud_factor=0, timer2=0)),
}

KEEP = 0x00  # a dialog edit byte that leaves the list as it opened


def settings_seed(text, edits=(KEEP,) * 6, port_refuses=False):
    """Dialog edits (index + 0xC0 selects that item), whether the port refuses
    to open, then the settings file's text."""
    return bytes(edits) + bytes([1 if port_refuses else 0]) + text


SETTINGS = {
    "empty": settings_seed(b""),
    "defaults": settings_seed(b"[RS-232C]\r\nPORT=COM1\r\nLOCK=1\r\nBAUDRATE=9600\r\nPARITY=NONE\r\n"
                              b"STOPBITS=1\r\nBYTESIZE=8\r\n"),
    "out-of-range-values": settings_seed(b"[rs-232c]\nPORT=com3\nLOCK=2\nBAUDRATE=9601\nPARITY=even\n"
                                         b"STOPBITS=3\nBYTESIZE=9\n", edits=(KEEP, 0xC0 + 7, KEEP, KEEP, KEEP, 1)),
    "other-port-and-edits-out-of-range": settings_seed(
        b"[Other]\nPORT=COM9\n[RS-232C]\n PORT = \"/dev/ttyUSB0\" \nBAUDRATE=+038400x\n[RS-232C]\nLOCK=0\n",
        edits=(0xFF, 0x80, 0xC0 + 2, 0xC0 + 1, 0xC0 + 3, 0), port_refuses=True),
    "long-shift-jis-port": settings_seed(b"[RS-232C]\nPORT=" + b"X" * 238 + b"\x83\x5e\x83\x43COM" + b"\nLOCK=1",
                                         port_refuses=True),
}

MODEM_OPS = ["GuestTypes", "RemoteSends", "TimePasses", "Ticks", "Controls", "CallGoes", "CallerComes",
             "LineEvent"]
REFUSED, NOT_RESOLVED = 2, 1  # ConnectFailure values


def m(name, *args):
    return bytes([MODEM_OPS.index(name)]) + bytes(args)


def typed(text):
    data = text.encode("latin-1")
    return b"".join(m("GuestTypes", len(data[i:i + 255])) + data[i:i + 255] for i in range(0, len(data), 255))


def remote(data):
    return m("RemoteSends", len(data)) + data


def wait(ms):
    return m("TimePasses") + struct.pack("<H", ms)


MODEM = {
    "dial-escape-online-hangup": typed("ATE0\r") + typed("ATDT 555-1234\r") + m("CallGoes", 1)
    + remote(b"hello\xff\xfb\x01") + wait(1200) + typed("+++") + remote(b"held") + wait(1200)
    + typed("ATS2?O\r") + m("Ticks", 50) + typed("bye") + wait(1200) + typed("+++") + wait(1200)
    + typed("ATH\r"),
    "incoming-answer-dtr-drop": typed("ATS0=2&D2\r") + m("CallerComes", 0) + wait(7000) + remote(b"\xff\xfd\x18hi")
    + m("CallerComes", 0) + m("Controls", 2) + wait(100) + m("Controls", 3) + m("CallerComes", 0) + typed("ATA\r"),
    "dial-results": typed("ATX4DThost\r") + m("CallGoes", REFUSED << 1) + typed("ATDL\r") + wait(60000)
    + typed("ATDT999\r") + typed("ATX0DT[::1]:99;\r") + m("CallGoes", NOT_RESOLVED << 1)
    + m("LineEvent", 3) + typed("ATDThost\r") + m("LineEvent", 3) + typed("ATDT5551234\r") + typed("x"),
    "command-noise": typed("\x1b+++at%v\rAT&V\rATS300=1S7?\rATI9\rATV0Q0X3\r") + typed("A/")
    + typed("AT" + "E0" * 160 + "\r") + typed("ATS3=64S5=65@ATE1AZ@"),
    "flow-restore": typed("ATDThost\r") + m("CallGoes", 1) + m("CallerComes", 1) + typed("x" * 200)
    + m("Controls", 1) + remote(bytes(range(256))[:255]) + m("Ticks", 255) + m("Controls", 3)
    + m("LineEvent", 1) + m("LineEvent", 2) + struct.pack("<I", 115200) + m("LineEvent", 0) + m("Ticks", 20),
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for fuzzer, seeds in (("guest", GUEST), ("snapshot", SNAPSHOT), ("settings", SETTINGS), ("modem", MODEM)):
        folder = os.path.join(here, "corpus", fuzzer)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as seed:
                seed.write(data)
