# Stage: integration under Wine: the 64-bit plug-in in the host simulator on a virtual serial line
set -euo pipefail
scripts/build.sh win64
tools/virtual-cable/build.sh >/dev/null
HOSTSIM_BUILD="$PWD/build/win64" xvfb-run -a python3 tests/integration/run.py
