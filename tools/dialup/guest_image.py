"""Builds the dial-up guest: the boot files of a small virtual machine whose
serial port plays a period PC's dial-up client.

The machine runs Debian's own kernel (the linux-image-amd64 package, fetched
with apt-get download and unpacked, never installed here) from an initramfs
holding busybox-static (fetched the same way: it conflicts with the busybox
package a machine may have), pppd and chat from this machine's ppp package
with their shared libraries, net-tools' slattach (busybox has no SLIP applet),
the kernel's modules for PPP, its Van Jacobson compression and SLIP, and a
small init (tools/dialup/guest-root/).

The two files are kept in the project's cache (winehost.cache_directory), in
a folder named after what went into them, and built once:

    python3 tools/dialup/guest_image.py           # builds if needed, prints the folder
    python3 tools/dialup/guest_image.py --rebuild

An interrupted build never leaves a half-made image: it is made in a folder
of its own and renamed into place when complete.
"""
import gzip
import hashlib
import io
import lzma
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zlib
from urllib.parse import unquote

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "host"))
from winehost import cache_directory  # noqa: E402

GUEST_ROOT = os.path.join(HERE, "guest-root")
KERNEL_PACKAGE = "linux-image-amd64"
# The kernel's modules the guest loads, each with what it depends on.
MODULES = ("ppp_async", "slip")
GUEST_PROGRAMS = ("/usr/sbin/pppd", "/usr/sbin/chat")  # from this machine's ppp package
IMAGE_PREFIX = "dialup-guest-"


class Image:
    """A built image: the kernel, the initramfs and what went into them."""

    def __init__(self, directory):
        self.directory = directory
        # The unpacked kernel where there is one, else the bzImage.
        self.kernel = next(path for path in (os.path.join(directory, name) for name in ("vmlinux", "vmlinuz"))
                           if os.path.exists(path))
        self.initrd = os.path.join(directory, "initrd.gz")
        with open(os.path.join(directory, "manifest")) as f:
            self.manifest = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)

    def disk_usage(self):
        """The bytes the image takes on disk (the kernel's holes not counted)."""
        return sum(os.stat(os.path.join(self.directory, name)).st_blocks * 512 for name in os.listdir(self.directory))


def _package_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package], capture_output=True, text=True,
                          check=False).stdout.strip()


def recipe_key():
    """What the image is made of, as a short hash: the guest's own files, this
    builder and the ppp package its programs come from. The kernel and
    busybox are whatever the archive offers when the image is built."""
    digest = hashlib.sha256()
    for folder, _, files in sorted(os.walk(GUEST_ROOT)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(os.path.relpath(path, GUEST_ROOT).encode() + b"\0")
            with open(path, "rb") as f:
                digest.update(f.read())
    with open(os.path.abspath(__file__), "rb") as f:
        digest.update(f.read())
    digest.update(_package_version("ppp").encode())
    return digest.hexdigest()[:16]


def image_path():
    return os.path.join(cache_directory(), IMAGE_PREFIX + recipe_key())


def ensure(log=None, rebuild=False):
    """The image for the current recipe, built first if there is none."""
    path = image_path()
    if rebuild and os.path.isdir(path):
        shutil.rmtree(path)
    if not os.path.isfile(os.path.join(path, "manifest")):
        build(path, log or (lambda text: print(text, file=sys.stderr)))
    return Image(path)


# ---- fetching Debian's packages ---------------------------------------------

def _run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, check=False, **kwargs)


def _kernel_package():
    """The versioned kernel package the metapackage stands for, e.g. linux-image-6.1.0-57-amd64."""
    depends = _run(["apt-cache", "depends", "--important", KERNEL_PACKAGE]).stdout
    names = re.findall(r"Depends: (linux-image-\S+)", depends)
    if not names:
        raise RuntimeError(f"apt knows no {KERNEL_PACKAGE}: run 'apt-get update' (scripts/setup.sh does)")
    return names[0]


def _apt_update(log):
    sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
    log("guest image: the package lists are out of date; running apt-get update")
    return _run(sudo + ["apt-get", "update", "-q"]).returncode == 0


def _download(packages, folder, log):
    """Fetches the packages' .deb files into the folder (apt-get download, no
    installing); once more after an apt-get update when the lists name
    versions the archive no longer has."""
    for attempt in range(2):
        result = _run(["apt-get", "download", *packages], cwd=folder)
        debs = {p: [f for f in os.listdir(folder) if f.startswith(p + "_") and f.endswith(".deb")] for p in packages}
        if result.returncode == 0 and all(debs.values()):
            return {p: os.path.join(folder, names[0]) for p, names in debs.items()}
        if attempt == 0 and not _apt_update(log):
            break
    raise RuntimeError(f"apt-get download {' '.join(packages)} failed: {result.stderr.strip()[-500:]}")


def _members(deb, wanted):
    """The files of a .deb whose paths `wanted` accepts, as {path: (mode, bytes)}."""
    tar_stream = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
    found = {}
    with tarfile.open(fileobj=io.BytesIO(tar_stream)) as tar:
        for member in tar:
            path = member.name.lstrip(".")
            if member.isfile() and wanted(path):
                found[path] = (member.mode, tar.extractfile(member).read())
    return found


# ---- the kernel's modules -----------------------------------------------------

def _module_depends(data):
    match = re.search(rb"(?:^|\0)depends=([^\0]*)\0", data)
    return [name for name in match.group(1).decode().split(",") if name] if match else []


def _module_order(modules, wanted):
    """The modules named and everything they depend on, each after its dependencies."""
    by_name = {os.path.basename(path)[:-3].replace("-", "_"): data for path, (_, data) in modules.items()}
    order = []

    def visit(name, chain=()):
        if name in order:
            return
        if name in chain or name not in by_name:
            raise RuntimeError(f"the kernel package has no module {name} (or a dependency loop)")
        for dependency in _module_depends(by_name[name]):
            visit(dependency.replace("-", "_"), chain + (name,))
        order.append(name)

    for name in wanted:
        visit(name)
    return order, by_name


# ---- programs and their libraries -----------------------------------------------

def _libraries(programs):
    """The shared libraries the programs load (ldd), the loader included: {path in the image: path here}."""
    libraries = {}
    for program in programs:
        output = _run(["ldd", program]).stdout
        for line in output.splitlines():
            match = re.search(r"(?:=>\s*)?(/\S+)\s+\(0x", line)
            if match:
                libraries[match.group(1)] = os.path.realpath(match.group(1))
    return libraries


# ---- the kernel, unpacked ------------------------------------------------------

XEN_ELFNOTE_PHYS32_ENTRY = 18


def _has_pvh_entry(elf):
    """Whether an ELF kernel has the PVH entry point through which QEMU boots it directly."""
    if elf[:4] != b"\x7fELF" or elf[4] != 2:
        return False
    phoff, = struct.unpack_from("<Q", elf, 32)
    phentsize, phnum = struct.unpack_from("<HH", elf, 54)
    for index in range(phnum):
        kind, _, offset, _, _, size = struct.unpack_from("<IIQQQQ", elf, phoff + index * phentsize)
        if kind != 4:  # PT_NOTE
            continue
        position, end = offset, offset + size
        while position + 12 <= end:
            name_size, description_size, note_type = struct.unpack_from("<III", elf, position)
            name = elf[position + 12:position + 12 + name_size].rstrip(b"\0")
            if name == b"Xen" and note_type == XEN_ELFNOTE_PHYS32_ENTRY:
                return True
            position += 12 + (name_size + 3) // 4 * 4 + (description_size + 3) // 4 * 4
    return False


def unpacked_kernel(bzimage):
    """The kernel inside a bzImage, as an ELF file QEMU can start at its PVH
    entry, or None. Booted so, the machine skips the firmware's loading and
    the kernel's own decompression, which take about 3 s under TCG here,
    longer than the rest of the boot."""
    for magic, decompress in ((b"\xfd7zXZ\0", lambda data: lzma.LZMADecompressor().decompress(data)),
                              (b"\x1f\x8b\x08", lambda data: zlib.decompressobj(31).decompress(data))):
        start = bzimage.find(magic)
        if start < 0:
            continue
        try:
            elf = decompress(bzimage[start:])
        except (lzma.LZMAError, zlib.error):
            continue
        if _has_pvh_entry(elf):
            return elf
    return None


def _write_sparse(path, data, block=4096):
    """Writes the data with its blocks of zeros left as holes (the kernel's
    ELF image holds its zeroed memory: half its 63 MB)."""
    zero = bytes(block)
    with open(path, "wb") as f:
        for offset in range(0, len(data), block):
            chunk = data[offset:offset + block]
            if chunk == zero[:len(chunk)]:
                f.seek(len(chunk), os.SEEK_CUR)
            else:
                f.write(chunk)
        f.truncate(len(data))


# ---- the initramfs (cpio "newc", written here so that no root is needed for its device nodes) ----

class Cpio:
    def __init__(self):
        self.out = io.BytesIO()
        self.inode = 1
        self.directories = set()

    def _entry(self, name, mode, data=b"", rdev=(0, 0)):
        name_bytes = name.lstrip("/").encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(name_bytes), 0]
        self.inode += 1
        self.out.write(b"070701" + b"".join(b"%08X" % value for value in fields) + name_bytes)
        self.out.write(b"\0" * (-(110 + len(name_bytes)) % 4))
        self.out.write(data)
        self.out.write(b"\0" * (-len(data) % 4))

    def directory(self, path):
        path = path.rstrip("/")
        if not path or path in self.directories:
            return
        self.directory(os.path.dirname(path))
        self.directories.add(path)
        self._entry(path, 0o040755)

    def file(self, path, data, mode=0o644):
        self.directory(os.path.dirname(path))
        self._entry(path, 0o100000 | (mode & 0o7777), data)

    def symlink(self, path, target):
        self.directory(os.path.dirname(path))
        self._entry(path, 0o120777, target.encode())

    def char_device(self, path, major, minor):
        self.directory(os.path.dirname(path))
        self._entry(path, 0o020600, rdev=(major, minor))

    def finish(self):
        self._entry("TRAILER!!!", 0)
        return self.out.getvalue()


def _executable(folder, name, data):
    """A copy of a program here, for ldd and busybox --list-full to read."""
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o755)
    return path


def _initramfs(busybox, slattach, modules, order, staging):
    """The guest's root: busybox and its applets, pppd, chat and slattach
    with their libraries, the modules in load order, a few files of /etc and
    the guest's own (guest-root/)."""
    cpio = Cpio()
    for directory in ("/dev", "/proc", "/sys", "/tmp", "/run", "/etc", "/root", "/var", "/usr/bin", "/sbin"):
        cpio.directory(directory)
    cpio.char_device("/dev/console", 5, 1)
    cpio.char_device("/dev/null", 1, 3)
    cpio.file("/bin/busybox", busybox, 0o755)
    for applet in _run([_executable(staging, "busybox", busybox), "--list-full"]).stdout.split():
        if applet not in ("bin/busybox", "linuxrc"):
            cpio.symlink("/" + applet, "/bin/busybox")
    for program in GUEST_PROGRAMS:
        with open(program, "rb") as f:
            cpio.file(program, f.read(), 0o755)
    cpio.file("/sbin/slattach", slattach, 0o755)
    for image_name, real in sorted(_libraries([*GUEST_PROGRAMS, _executable(staging, "slattach", slattach)]).items()):
        with open(real, "rb") as f:
            cpio.file(image_name, f.read(), 0o755)
    for name in order:
        cpio.file(f"/lib/modules/{name}.ko", modules[name])
    cpio.file("/etc/modules-order", "".join(name + "\n" for name in order).encode())
    cpio.file("/etc/passwd", b"root:x:0:0:root:/root:/bin/sh\n")
    cpio.file("/etc/group", b"root:x:0:\n")
    cpio.file("/etc/hosts", b"127.0.0.1\tlocalhost\n")
    cpio.file("/etc/resolv.conf", b"")
    cpio.file("/etc/ppp/options", b"# Each call gives its options on pppd's command line.\n")
    cpio.symlink("/var/run", "/run")
    cpio.symlink("/var/lock", "/run/lock")
    for folder, _, files in sorted(os.walk(GUEST_ROOT)):
        for name in sorted(files):
            here = os.path.join(folder, name)
            with open(here, "rb") as f:
                cpio.file("/" + os.path.relpath(here, GUEST_ROOT), f.read(), os.stat(here).st_mode)
    return gzip.compress(cpio.finish(), compresslevel=6, mtime=0)


def build(path, log):
    os.makedirs(cache_directory(), exist_ok=True)
    staging = tempfile.mkdtemp(prefix="building-dialup-guest-", dir=cache_directory())
    try:
        kernel_package = _kernel_package()
        log(f"guest image: fetching {kernel_package}, busybox-static and net-tools")
        debs = _download([kernel_package, "busybox-static", "net-tools"], staging, log)

        module_folders = ("drivers/net/ppp", "drivers/net/slip", "lib")  # lib: CRC and the like, if modules
        kernel_files = _members(debs[kernel_package], lambda p: p.startswith("/boot/vmlinuz-") or (
            p.startswith("/lib/modules/") and p.endswith(".ko") and any(f"/kernel/{d}/" in p for d in module_folders)))
        vmlinuz = [p for p in kernel_files if p.startswith("/boot/")]
        if len(vmlinuz) != 1:
            raise RuntimeError(f"{kernel_package} holds {len(vmlinuz)} kernels")
        kernel_version = vmlinuz[0][len("/boot/vmlinuz-"):]
        order, modules = _module_order({p: v for p, v in kernel_files.items() if p.endswith(".ko")}, MODULES)
        busybox = _members(debs["busybox-static"], lambda p: p == "/bin/busybox")["/bin/busybox"][1]
        slattach_path, (_, slattach) = next(iter(_members(debs["net-tools"], lambda p: p.endswith("/slattach")).items()))

        building = os.path.join(staging, "image")
        os.makedirs(building)
        with open(os.path.join(building, "initrd.gz"), "wb") as f:
            f.write(_initramfs(busybox, slattach, modules, order, staging))
        bzimage = kernel_files[vmlinuz[0]][1]
        elf = unpacked_kernel(bzimage)
        if elf:
            _write_sparse(os.path.join(building, "vmlinux"), elf)
        else:
            with open(os.path.join(building, "vmlinuz"), "wb") as f:
                f.write(bzimage)
        with open(os.path.join(building, "manifest"), "w") as f:
            f.write(f"kernel={kernel_package} {kernel_version}\n"
                    f"busybox={unquote(os.path.basename(debs['busybox-static']))}\n"
                    f"slattach={unquote(os.path.basename(debs['net-tools']))} {slattach_path}\n"
                    f"ppp={_package_version('ppp')}\n"
                    f"modules={' '.join(order)}\n")
        try:
            os.rename(building, path)
        except OSError:
            pass  # another run put one there first
        log(f"guest image: {kernel_package} ({kernel_version}), modules {' '.join(order)}, in {path}")
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    # Images of an older recipe are of no more use.
    for name in os.listdir(cache_directory()):
        if name.startswith(IMAGE_PREFIX) and os.path.join(cache_directory(), name) != path:
            shutil.rmtree(os.path.join(cache_directory(), name), ignore_errors=True)


def main():
    rebuild = "--rebuild" in sys.argv[1:]
    for program in GUEST_PROGRAMS:
        if not os.access(program, os.X_OK):
            print(f"{program} is missing: it comes with the Debian package ppp (scripts/setup.sh installs it)",
                  file=sys.stderr)
            return 2
    image = ensure(rebuild=rebuild)
    print(image.directory)
    return 0


if __name__ == "__main__":
    sys.exit(main())
