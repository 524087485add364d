# Stage: the product DLL: exports, imports and resources
set -euo pipefail

# Exactly the six entry points, as objdump lists them.
exports_of() {
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' '
}
expected="DeviceConect DeviceConfig DeviceEntry DeviceVer FastGUI SetPath "
for pair in "i686-w64-mingw32-objdump build/win32/RS232C.dll" "x86_64-w64-mingw32-objdump build/win64/RS232C.dll"; do
  set -- $pair
  got=$(exports_of "$1" "$2")
  if [ "$got" != "$expected" ]; then
    echo "$2 exports: $got" >&2
    exit 1
  fi
done

# Machine, exports, system imports only (KERNEL32, USER32, GDI32, COMCTL32,
# msvcrt, ADVAPI32, WS2_32 for network lines); in the product also both
# dialogs, both LED bitmaps and the version resource.
python3 tests/plugin/check_dll.py \
  build/win32/RS232C.dll i386 --resources \
  build/win64/RS232C.dll amd64 --resources
