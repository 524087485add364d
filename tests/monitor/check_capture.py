#!/usr/bin/env python3
"""tshark, not our own parser, decodes the monitor's capture of a made-up
dial-up exchange: the direction of each frame, LCP and IPCP, a PAP request
whose password is masked, a TCP SYN, and times of the run itself; and
neither the capture nor the log holds the password.

    check_capture.py MONITOR_CAPTURE_SAMPLE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

FIELDS = ["frame.p2p_dir", "_ws.col.Protocol", "_ws.col.Info", "pap.password", "tcp.flags.syn", "frame.time_epoch",
          "frame.interface_name"]
SENT, RECEIVED = "0", "1"  # as tshark numbers the directions of PPP_WITH_DIR: sent by the emulated PC, received by it
EXPECTED = [
    (SENT, "PPP LCP", "Configuration Request", ""),
    (RECEIVED, "PPP IPCP", "Configuration Request", ""),
    (SENT, "PPP PAP", "Authenticate-Request (Peer-ID='guest', Password='*******')", "*******"),
    (SENT, "TCP", "1025 → 80 [SYN] Seq=0 Win=8192 Len=0", ""),
]


def main():
    tshark = shutil.which("tshark")
    if not tshark:
        print("tshark is missing: scripts/setup.sh installs it", file=sys.stderr)
        return 1
    folder = tempfile.mkdtemp(prefix="rs232c-capture-")
    try:
        log, capture = os.path.join(folder, "line.log"), os.path.join(folder, "line.pcapng")
        started = time.time()
        subprocess.run([sys.argv[1], log, capture], check=True)
        ended = time.time()
        out = subprocess.run([tshark, "-r", capture, "-T", "fields", "-E", "separator=|"]
                             + [arg for field in FIELDS for arg in ("-e", field)],
                             check=True, capture_output=True, text=True).stdout
        rows = [line.split("|") for line in out.splitlines()]
        faults = []
        if len(rows) != len(EXPECTED):
            faults.append(f"tshark read {len(rows)} frames: {out}")
        for number, (row, (direction, protocol, info, password)) in enumerate(zip(rows, EXPECTED), 1):
            got = (row[0], row[1], row[2], row[3])
            if got != (direction, protocol, info, password):
                faults.append(f"frame {number}: {got}, expected {(direction, protocol, info, password)}")
            if not started - 1 <= float(row[5]) <= ended + 1:
                faults.append(f"frame {number} is stamped {row[5]}, outside the run ({started}..{ended})")
            if row[6] != "modem":
                faults.append(f"frame {number} is on interface {row[6]!r}")
        if len(rows) == 4 and rows[3][4] != "1":
            faults.append(f"frame 4 is not a SYN: {rows[3]}")
        for path in (log, capture):
            with open(path, "rb") as f:
                if b"passwrd" in f.read():
                    faults.append(f"{os.path.basename(path)} holds the password")
        for fault in faults:
            print("FAULT: " + fault, file=sys.stderr)
        if not faults:
            print(f"tshark decoded the {len(rows)} frames as expected, the password masked")
        return 1 if faults else 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
