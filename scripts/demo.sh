#!/usr/bin/env bash
# Sets up the machine, builds everything (the product at build/win32/RS232C.dll),
# then shows the plug-in at work: its 64-bit build, loaded by the host
# simulator under Wine, exchanges greetings and a block of data with the far
# end of a virtual serial line, in real time, at the rate the emulated
# machine programs. No hardware and no configuration needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh native win32 win64
tools/virtual-cable/build.sh >/dev/null
echo
echo "Built: build/win32/RS232C.dll (the product) and build/win64/RS232C.dll (for Wine)"
echo
xvfb-run -a python3 tools/host/demo.py build/win64
