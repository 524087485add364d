#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine. Does nothing
# when everything is already there, and says what it changed otherwise.
#
# The product is a 32-bit Windows DLL, tested under 32-bit Wine (the i386
# architecture) with an i386 build of the virtual cable (an i686 Linux
# compiler). A kernel built without IA-32 emulation runs no 32-bit program
# itself: for one, QEMU's user-mode emulator is registered in binfmt_misc to
# run them, disabled. The 32-bit test stage enables the entry only while it
# runs, because with it enabled every fresh 64-bit Wine prefix boots its
# 32-bit half emulated (very slowly).
#
# The dial-up tests' guest is a small virtual machine (QEMU) running Debian's
# own kernel, pppd and chat; its boot files are built once into the project's
# cache (tools/dialup/guest_image.py), from packages fetched with apt-get
# download and unpacked, not installed here.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libgtest-dev libgmock-dev libbenchmark-dev
  wine64 socat xvfb xauth x11-utils imagemagick fonts-ipafont-gothic
  python3
  ser2net python3-serial
  ppp ckermit lrzsz inetutils-telnetd inetutils-telnet ucspi-tcp netcat-openbsd
  qemu-system-x86
  qemu-user wine32:i386 gcc-i686-linux-gnu libc6-dev-i386-cross
  tshark
  dpkg-dev
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

wait_for_dpkg() {
  while $sudo fuser /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock >/dev/null 2>&1; do sleep 5; done
}

needs_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture to dpkg (for 32-bit Wine)"
  wait_for_dpkg
  $sudo dpkg --add-architecture i386
  needs_update=1
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # tshark reads the line monitor's captures in the tests; it is never run
  # to capture, so wireshark-common's question (let other users capture?)
  # is answered no before it is asked.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
  wait_for_dpkg
  $sudo apt-get update -q
  needs_update=0
  wait_for_dpkg
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
elif [ "$needs_update" = 1 ]; then
  $sudo apt-get update -q
fi

# The emulator for i386 programs, where the kernel does not run them itself
# (flag F: the kernel opens qemu-i386 once, at registration, so it also works
# inside Wine's and other mount namespaces).
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-i386" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if [ ! -e "$binfmt/register" ]; then
    echo "setup: mounting binfmt_misc at $binfmt"
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" || echo "setup: cannot mount binfmt_misc; 32-bit programs will not run" >&2
  fi
  if [ -e "$binfmt/register" ]; then
    echo "setup: this kernel runs no 32-bit programs: registering /usr/bin/qemu-i386 for them in binfmt_misc" \
      "(left disabled; the 32-bit test stage enables it while it runs)"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:F" | $sudo tee "$binfmt/register" >/dev/null; then
      echo 0 | $sudo tee "$binfmt/qemu-i386" >/dev/null
    else
      echo "setup: binfmt_misc refused the qemu-i386 entry; 32-bit programs will not run" >&2
    fi
  fi
fi

# lwIP, the TCP/IP stack of the dial-up server, is built from Debian's source
# package (Debian's binary one has no PPP). Its source is unpacked once into
# the cache outside the tree, where the build looks for it (cmake/lwip.cmake);
# it is never part of the repository. apt-get source needs a deb-src entry:
# one is added beside the machine's own Debian entries, with the same
# archives and suites.
lwip_version=2.1.3+dfsg1
if [ -n "${RS232C_CACHE:-}" ]; then
  cache=$RS232C_CACHE
elif [ "$(id -u)" -eq 0 ]; then
  cache=/var/cache/rs232c
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/rs232c
fi
lwip_dir=$cache/lwip-$lwip_version

add_deb_src() {
  local file sources=/etc/apt/sources.list.d/rs232c-deb-src.sources list=/etc/apt/sources.list.d/rs232c-deb-src.list
  # An entry a user or an earlier run made is enough.
  if grep -qsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
      /etc/apt/sources.list.d/*.sources; then
    return 1
  fi
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    echo "setup: adding $sources (deb-src beside debian.sources) for lwIP's source"
    # Each enabled stanza of binary packages again, for source packages.
    awk 'BEGIN { RS = ""; FS = "\n" }
         { types = ""; enabled = 1
           for (i = 1; i <= NF; i++) {
             if ($i ~ /^Types:/) types = " " substr($i, 7) " "
             if ($i ~ /^Enabled:[ \t]*no/) enabled = 0
           }
           if (!enabled || types !~ /[ \t]deb[ \t]/) next
           print "Types: deb-src"
           for (i = 1; i <= NF; i++) if ($i !~ /^(Types:|#)/) print $i
           print "" }' /etc/apt/sources.list.d/debian.sources | $sudo tee "$sources" >/dev/null
  else
    echo "setup: adding $list (deb-src beside sources.list) for lwIP's source"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$file" ] || continue
      sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file"
    done | $sudo tee "$list" >/dev/null
  fi
  return 0
}

if [ ! -f "$lwip_dir/.unpacked" ]; then
  if add_deb_src || ! apt-get source --print-uris lwip >/dev/null 2>&1; then
    wait_for_dpkg
    $sudo apt-get update -q
  fi
  echo "setup: fetching and unpacking Debian's source package lwip ($lwip_version) into $cache"
  mkdir -p "$cache"
  fetch=$(mktemp -d "$cache/lwip-fetch.XXXXXX")
  # apt-get source checks the files against the archive's signed index and
  # unpacks them with dpkg-source (Debian's patches applied).
  if ! (cd "$fetch" && apt-get source -q lwip >"$fetch/apt.log" 2>&1) || [ ! -d "$fetch/lwip-$lwip_version" ]; then
    tail -n 20 "$fetch/apt.log" >&2
    rm -rf "$fetch"
    echo "setup: apt-get source lwip did not give lwip-$lwip_version" >&2
    exit 1
  fi
  rm -rf "$lwip_dir"
  mv "$fetch/lwip-$lwip_version" "$lwip_dir"
  rm -rf "$fetch"
  touch "$lwip_dir/.unpacked"
fi

# The dial-up guest's kernel and initramfs, in the cache of the user who runs
# the tests (about 70 MB fetched once, 37 MB kept).
python3 tools/dialup/guest_image.py >/dev/null
