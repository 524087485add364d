#!/usr/bin/env bash
# Builds the virtual cable (an LD_PRELOAD library) into build/virtual-cable/.
set -euo pipefail
cd "$(dirname "$0")/../.."
mkdir -p build/virtual-cable
out=build/virtual-cable/libvirtualcable.so
src=tools/virtual-cable/virtual_cable.c
if [ ! -f "$out" ] || [ "$src" -nt "$out" ]; then
  gcc -std=c11 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$out" "$src" -ldl -lpthread
fi
echo "$out"
