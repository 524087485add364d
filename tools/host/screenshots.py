"""Takes the README's pictures: the status panel in the host's window and the
configuration dialog, under Xvfb inside a Wine desktop, with Japanese fonts.

Run as: xvfb-run -a -s "-screen 0 800x600x24" python3 tools/host/screenshots.py BUILD_DIR OUT_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools/virtual-cable")]

from virtual_line import build_cable  # noqa: E402
from winehost import WINE, prefix_on_a_line, require, windows_path  # noqa: E402

SCRIPT = """\
timer2 16
mode 4E
cmd 37
send text:Hello from the guest
wait 1500
echo shoot panel
wait 3000
config wait 3000 cancel
wait 500
"""


def shoot(path):
    time.sleep(0.7)  # let the window finish painting
    subprocess.run(["import", "-window", "root", "-crop", "460x320+10+10", "+repage", path], check=True)
    print("took", path)


def main(build, out):
    require()
    directory = tempfile.mkdtemp(prefix="rs232c-shots-")
    try:
        line, prefix = prefix_on_a_line(directory)
        ini = os.path.join(directory, "RS232C.ini")
        with open(ini, "w", newline="\r\n") as f:
            f.write("[RS-232C]\nPORT=COM1\nLOCK=0\nBAUDRATE=9600\nPARITY=NONE\nSTOPBITS=1\nBYTESIZE=8\n")
        script = os.path.join(directory, "shots.txt")
        with open(script, "w") as f:
            f.write(SCRIPT)
        env = prefix.env(build_cable(), line.cable_path)
        args = [WINE, "explorer", "/desktop=shot,640x480", os.path.join(build, "hostsim.exe"), "--virtual",
                "--dll", windows_path(os.path.join(build, "RS232C.dll")), "--ini", windows_path(ini),
                windows_path(script)]
        with open(os.path.join(directory, "wine.log"), "ab") as log:
            process = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, stderr=log)
            for raw in process.stdout:
                text = raw.decode("latin-1").strip()
                if text == "shoot panel":
                    shoot(os.path.join(out, "panel.png"))
                elif text == "config open":
                    shoot(os.path.join(out, "config-dialog.png"))
            process.wait(60)
        line.stop()
        prefix.stop_server()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
