#!/usr/bin/env bash
# Writes dist/RS232C-<version>.zip, what a user downloads: the 32-bit product
# RS232C.dll, the 32-bit host simulator hostsim.exe (a cable and adapter
# checker), the user's guide in Japanese and English, a sample settings file,
# the licence and SHA256SUMS over all of them, at the zip's top level: Windows'
# "Extract All" already puts them in a folder named after the zip.
#
# The DLL is the win32 build's product as the tests run it (linked stripped
# and without a time stamp, so that a rebuild of the same sources gives the
# same bytes). When the 32-bit test stage has recorded the hash of the DLL it
# ran, a DLL that differs from it is refused.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win32

version=$(sed -n 's/^#define RS232C_VERSION_TEXT "\(.*\)"$/\1/p' ui/resources/Version.h)
[ -n "$version" ] || { echo "package: no RS232C_VERSION_TEXT in ui/resources/Version.h" >&2; exit 1; }

dll=build/win32/RS232C.dll
tested=build/win32/RS232C.dll.tested.sha256
if [ -f "$tested" ]; then
  want=$(cut -d' ' -f1 "$tested")
  got=$(sha256sum "$dll" | cut -d' ' -f1)
  if [ "$want" != "$got" ]; then
    echo "package: $dll (sha256 $got) is not the DLL the 32-bit test stage ran ($want); run scripts/test.sh again" >&2
    exit 1
  fi
else
  echo "package: note: $tested is missing, so this DLL has not been through the 32-bit test stage yet" >&2
fi

mkdir -p dist
python3 - "$version" <<'EOF'
"""Builds the zip with the standard library: text files get CRLF line ends and
the guides a UTF-8 byte order mark, every entry the last commit's time."""
import hashlib
import os
import subprocess
import sys
import time
import zipfile

version = sys.argv[1]
target = os.path.join("dist", f"RS232C-{version}.zip")


def text(path, bom, encoding="utf-8"):
    with open(path, encoding="utf-8") as f:
        body = f.read().replace("\r\n", "\n").replace("@VERSION@", version)
    if "@" + "VERSION@" in body:
        sys.exit(f"package: {path} still holds a placeholder")
    return (b"\xef\xbb\xbf" if bom else b"") + body.replace("\n", "\r\n").encode(encoding)


def binary(path):
    with open(path, "rb") as f:
        return f.read()


# Notepad on every Windows since XP reads UTF-8 with a byte order mark as UTF-8
# (without one, older versions take the file as Shift-JIS). The sample INI,
# kept here in UTF-8, goes out in Shift-JIS (code page 932) with no mark: the
# profile functions read it in the system's code page, a mark would become
# part of its first line, and Notepad on a Japanese Windows shows its
# Japanese comments as they are. Its keys and values are ASCII, so any code
# page reads them alike.
files = [
    ("RS232C.dll", binary("build/win32/RS232C.dll")),
    ("hostsim.exe", binary("build/win32/hostsim.exe")),
    ("README-ja.txt", text("docs/guide/README-ja.txt", bom=True)),
    ("README-en.txt", text("docs/guide/README-en.txt", bom=True)),
    ("RS232C-sample.ini", text("docs/guide/RS232C-sample.ini", bom=False, encoding="cp932")),
    ("LICENSE", text("LICENSE", bom=False)),
]
sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files)
files.append(("SHA256SUMS", sums.encode("ascii")))

try:
    stamp = int(subprocess.run(["git", "log", "-1", "--format=%ct"], capture_output=True, text=True,
                               check=True).stdout)
except (OSError, subprocess.CalledProcessError, ValueError):
    stamp = int(time.time())
date_time = time.gmtime(stamp)[:6]

partial = target + ".partial"
with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name, data in files:
        entry = zipfile.ZipInfo(name, date_time)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        archive.writestr(entry, data)
os.replace(partial, target)
print(f"{target}: {os.path.getsize(target)} bytes")
for name, data in files:
    print(f"  {name}: {len(data)} bytes")
EOF
