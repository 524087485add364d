#!/usr/bin/env bash
# The plug-in's speed under Wine, every table of docs/PERFORMANCE.md's "Under
# Wine" sections in one run: for each line kind (COM port on the virtual
# cable, raw TCP, RFC 2217 to ser2net, the modem dialling a raw TCP peer),
# rate and direction, the share of the line's pace, the time per tick, the
# plug-in's share of line time and the comm or socket calls per tick with
# their cost; the COM port's per-call floor; and the longest tick and guest
# access while a connect hangs.
#
#   scripts/bench-product.sh [--emulated]
#   scripts/bench-product.sh --monitor
#
# Tables: the 32-bit product under the emulator host where the kernel runs
# i386 code; the 64-bit twin under the emulator host, and under the threaded
# host for comparison. Where the kernel runs no i386 code the product's
# tables are skipped; --emulated adds one short row of it through qemu-i386,
# labelled as such (its figures describe the emulator). Takes about 9
# minutes (the emulated row 2 more); the machine's load is printed with every
# table. docs/PERFORMANCE.md explains the figures.
#
# --monitor measures instead what the line monitor costs: the twin's 115200
# rows of every line kind with the monitor off and on, twice in turn (off,
# on, off, on), since the machine's load moves more than the monitor does.
# About 8 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
emulated=""
monitor=""
case "${1:-}" in
  "") ;;
  --emulated) emulated=1 ;;
  --monitor) monitor=1 ;;
  *) echo "usage: $0 [--emulated | --monitor]" >&2; exit 2 ;;
esac
scripts/setup.sh
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j2 >/dev/null
done
tools/virtual-cable/build.sh >/dev/null
tools/virtual-cable/build.sh i386 >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
  "$(/usr/lib/wine/wine64 --version 2>/dev/null), load average $(cut -d' ' -f1-3 /proc/loadavg)"
throughput() { xvfb-run -a python3 tools/host/throughput.py "$@"; }

status=0
if [ -n "$monitor" ]; then
  for round in 1 2; do
    for switch in off on; do
      echo; echo "#### The line monitor $switch (round $round): build win64, emulator host, 115200 bit/s"
      throughput --build win64 --host emulator --seconds 6 --rates 115200 --kinds com,raw,rfc2217,modem \
        $([ $switch = on ] && echo --monitor) || status=1
    done
  done
  exit $status
fi
echo; echo "#### The product: build win32, emulator host"
rc=0; throughput --build win32 --host emulator --seconds 6 || rc=$?
if [ $rc = 3 ]; then
  echo "(skipped: its figures need a machine that runs i386 code)"
  if [ -n "$emulated" ]; then
    echo; echo "#### The product under qemu-i386, one short row (EMULATED)"
    throughput --build win32 --emulated --kinds com --rates 9600 --ways "both ways" --seconds 2 || status=1
  fi
elif [ $rc != 0 ]; then
  status=1
fi
echo; echo "#### The 64-bit twin: build win64, emulator host"
throughput --build win64 --host emulator --seconds 6 || status=1
echo; echo "#### The 64-bit twin: build win64, threaded host (for comparison)"
throughput --build win64 --host threaded --kinds com,raw,rfc2217 || status=1
exit $status
