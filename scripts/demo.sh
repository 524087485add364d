#!/usr/bin/env bash
# Sets up the machine, builds everything and leaves the product at
# build/win32/RS232C.dll.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh native win32 win64
echo
echo "Built: build/win32/RS232C.dll"
