#!/usr/bin/env bash
# Sets up the machine, builds everything (the product at build/win32/RS232C.dll),
# then shows the plug-in at work: its 64-bit build, loaded by the host
# simulator under Wine, exchanges greetings and a block of data with the far
# end of a virtual serial line, in real time, at the rate the emulated
# machine programs. No hardware and no configuration needed.
#
# With --product, the same run on the product itself: the 32-bit plug-in in
# the 32-bit host simulator under 32-bit Wine, where the kernel runs 32-bit
# programs itself.
#
# With --modem, the plug-in as a modem: a guest's init string, a dial to a
# Telnet server on this computer, CONNECT, a screen of text, +++ and ATH, as
# a transcript.
#
# With --dialup, the plug-in as a dial-up ISP: a small virtual machine's
# pppd dials 777 through the modem, brings PPP up, downloads a file from
# this computer, resolves a name and hangs up, as a transcript.
set -euo pipefail
cd "$(dirname "$0")/.."
product=""
modem=""
dialup=""
case "${1:-}" in
  "") ;;
  --product) product=1 ;;
  --modem) modem=1 ;;
  --dialup) dialup=1 ;;
  *) echo "usage: $0 [--product | --modem | --dialup]" >&2; exit 2 ;;
esac
scripts/setup.sh
scripts/build.sh native win32 win64
tools/virtual-cable/build.sh >/dev/null
echo
echo "Built: build/win32/RS232C.dll (the product) and build/win64/RS232C.dll (for Wine)"
echo
if [ -n "$dialup" ]; then
  xvfb-run -a python3 tools/host/dialup_demo.py build/win64
elif [ -n "$modem" ]; then
  xvfb-run -a python3 tools/host/modem_demo.py build/win64
elif [ -n "$product" ]; then
  tools/virtual-cable/build.sh i386 >/dev/null
  xvfb-run -a python3 tools/host/demo.py --product build/win32
else
  xvfb-run -a python3 tools/host/demo.py build/win64
fi
