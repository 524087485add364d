"""Runs the shipped 32-bit plug-in in the 32-bit host simulator under 32-bit
Wine, and ends with a 'N passed, N failed' line.

The kernel here runs no 32-bit code: QEMU's user-mode emulator runs it,
through the qemu-i386 entry of binfmt_misc that scripts/setup.sh registers.
That entry is enabled only while the 32-bit hosts run and put back as it was
found at the end, because while it is enabled every fresh 64-bit prefix boots
its 32-bit half emulated. The Wine prefix is copied from the booted one kept
in the cache, booted first (with the entry disabled, so quickly) when there is
none.

A class whose host died of the emulator itself (qemu-i386's segmentation
fault, "wine client error" in Wine's log) runs once more, and the run says so;
any other failure is the product's. When every check passed, the hash of the
DLL that ran is written beside it (RS232C.dll.tested.sha256, as sha256sum
writes it), for the release to prove it ships the tested file.
"""
import hashlib
import os
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import product_host  # noqa: E402
from winehost import WINE, WINE32, WINESERVER, base_prefix, require  # noqa: E402

BINFMT = "/proc/sys/fs/binfmt_misc"
ENTRY = os.path.join(BINFMT, "qemu-i386")
EMULATOR = "/usr/bin/qemu-i386"


def cannot(reason):
    print(f"product: the 32-bit product cannot run on this machine: {reason}")
    return 1


def entry_enabled():
    with open(ENTRY) as f:
        return f.readline().strip() == "enabled"


def set_entry(enabled):
    value = "1" if enabled else "0"
    try:
        with open(ENTRY, "w") as f:
            f.write(value)
    except PermissionError:
        subprocess.run(["sudo", "-n", "tee", ENTRY], input=value.encode(), stdout=subprocess.DEVNULL, check=True)


def why_not_runnable():
    if not os.path.exists(os.path.join(BINFMT, "register")):
        return f"binfmt_misc is not mounted at {BINFMT} (scripts/setup.sh mounts it)"
    if not os.path.exists(ENTRY):
        return "binfmt_misc has no qemu-i386 entry (scripts/setup.sh registers it)"
    for program in (EMULATOR, WINE32):
        if not os.path.exists(program):
            return f"{program} is missing (scripts/setup.sh installs it)"
    for program in (product_host.EXE, product_host.DLL):
        if not os.path.exists(program):
            return f"{program} is not built (scripts/build.sh win32)"
    return None


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run_class(case, note):
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if result.wasSuccessful() or not case.emulator_crashed():
        return result
    note.append(f"{case.__name__}: the emulator itself crashed (qemu-i386 segmentation fault or "
                f"'wine client error'); ran the class again")
    print(f"product: {note[-1]}")
    return unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(
        unittest.defaultTestLoader.loadTestsFromTestCase(case))


def main():
    # A stopped run still stops its hosts, lines and servers and puts the entry back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    require(WINE, WINESERVER, "socat")
    reason = why_not_runnable()
    if reason:
        return cannot(reason)
    record = product_host.DLL + ".tested.sha256"
    if os.path.exists(record):
        os.unlink(record)  # no record of a DLL this run has not passed
    tested_hash = sha256(product_host.DLL)

    was_enabled = entry_enabled()
    started = time.monotonic()
    notes, passed, failed = [], 0, 0
    work = None
    try:
        # The prefix boots (when not cached) with the entry disabled: its
        # 32-bit half is not needed to run 32-bit programs, and would boot emulated.
        set_entry(False)
        log = os.path.join(os.environ.get("TMPDIR", "/tmp"), "rs232c-prefix-boot.log")
        boot_started = time.monotonic()
        base_prefix(log)
        print(f"product: Wine prefix ready in {time.monotonic() - boot_started:.0f} s")
        set_entry(True)
        work = product_host.Workspace.get()

        import test_product
        cases = [test_product.ProductAtWork, test_product.SaveBlockInANewHost]
        for case in cases:
            set_entry(True)
            try:
                result = run_class(case, notes)
            except OSError as error:  # the loader itself would not start
                return cannot(f"{WINE32} does not run ({error})")
            bad = len({test.id() for test, _ in result.failures + result.errors})
            failed += bad
            passed += result.testsRun - bad
            if not entry_enabled():
                notes.append("the qemu-i386 entry was disabled by something else during the run")
                print(f"product: {notes[-1]}")
    finally:
        set_entry(was_enabled)
        if work:
            work.close(keep=failed > 0)

    if failed == 0 and passed > 0 and sha256(product_host.DLL) == tested_hash:
        with open(record, "w") as f:
            f.write(f"{tested_hash}  {os.path.basename(product_host.DLL)}\n")
    print(f"product tests took {time.monotonic() - started:.0f} s")
    for note in notes:
        print(f"product: note: {note}")
    print(f"product: {passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
