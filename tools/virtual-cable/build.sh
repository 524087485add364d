#!/usr/bin/env bash
# Builds the virtual cable (an LD_PRELOAD library) into build/virtual-cable/
# and prints its path. With "i386", builds the library for 32-bit Wine instead
# (build/virtual-cable/i386/), with Debian's i686 Linux cross compiler.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=tools/virtual-cable/virtual_cable.c
case "${1:-}" in
  "") compiler=gcc; out=build/virtual-cable/libvirtualcable.so ;;
  i386) compiler=i686-linux-gnu-gcc; out=build/virtual-cable/i386/libvirtualcable.so ;;
  *) echo "usage: $0 [i386]" >&2; exit 2 ;;
esac
mkdir -p "$(dirname "$out")"
if [ ! -f "$out" ] || [ "$src" -nt "$out" ]; then
  "$compiler" -std=c11 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$out" "$src" -ldl -lpthread
fi
echo "$out"
