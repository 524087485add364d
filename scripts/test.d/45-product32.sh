# Stage: the product itself: the 32-bit plug-in in the 32-bit host simulator under 32-bit Wine (run by the kernel, or emulated where it cannot)
set -euo pipefail
scripts/build.sh win32
tools/virtual-cable/build.sh i386 >/dev/null
# The qemu-i386 entry of binfmt_misc goes back to the state it was found in,
# however the run ends (the runner does the same; this covers a killed runner).
entry=/proc/sys/fs/binfmt_misc/qemu-i386
if [ -e "$entry" ]; then
  found=$(head -n1 "$entry")
  restore_entry() {
    local value=0
    [ "$found" = enabled ] && value=1
    echo "$value" >"$entry" 2>/dev/null || echo "$value" | sudo -n tee "$entry" >/dev/null || true
  }
  trap restore_entry EXIT
fi
xvfb-run -a python3 tests/product/run.py
