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

# The dial-up guest's kernel and initramfs, in the cache of the user who runs
# the tests (about 70 MB fetched once, 37 MB kept).
python3 tools/dialup/guest_image.py >/dev/null
