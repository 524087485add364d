"""Runs the shipped 32-bit plug-in in the 32-bit host simulator under 32-bit
Wine, and ends with a 'N passed, N failed' line.

A kernel built with IA-32 emulation runs the 32-bit programs itself. One
without it runs them through QEMU's user-mode emulator, by the qemu-i386 entry
of binfmt_misc that scripts/setup.sh registers for such a kernel; the entry
is then enabled only while the 32-bit hosts run and put back as it was found
at the end, because while it is enabled every fresh 64-bit prefix boots its
32-bit half emulated (and an enabled entry wins over the kernel's own i386
support). RS232C_32BIT=native or =emulated insists on one way.

The Wine prefix is copied from the booted one kept in the cache, booted first
(with the entry disabled, so quickly) when there is none.

A class whose host died of the emulator itself (qemu-i386's segmentation
fault, "wine client error" in Wine's log) runs once more, and the run says so;
any other failure is the product's. When every check passed, the hash of the
DLL that ran is written beside it (RS232C.dll.tested.sha256, as sha256sum
writes it), for the release to prove it ships the tested file.
"""
import hashlib
import os
import signal
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import product_host  # noqa: E402
from winehost import (QEMU_I386_ENTRY, WINE, WINE32, WINESERVER, base_prefix, i386_runs_natively,  # noqa: E402
                      qemu_entry_enabled as entry_enabled, require, set_qemu_entry as set_entry)

BINFMT = "/proc/sys/fs/binfmt_misc"
ENTRY = QEMU_I386_ENTRY
EMULATOR = "/usr/bin/qemu-i386"


def cannot(reason):
    print(f"product: the 32-bit product cannot run on this machine: {reason}")
    return 1


def choose_way(wanted):
    """'native' or 'emulated', or (None, why neither will do). The entry must be off here."""
    for program in (WINE32, product_host.EXE, product_host.DLL):
        if not os.path.exists(program):
            return None, f"{program} is missing (scripts/setup.sh installs Wine, scripts/build.sh win32 builds)"
    if wanted != "emulated" and i386_runs_natively():
        return "native", None
    if wanted == "native":
        return None, "this kernel does not run 32-bit programs itself (RS232C_32BIT=native)"
    if not os.path.exists(os.path.join(BINFMT, "register")):
        return None, f"the kernel runs no 32-bit code and binfmt_misc is not mounted at {BINFMT} (scripts/setup.sh)"
    if not os.path.exists(ENTRY):
        return None, "the kernel runs no 32-bit code and binfmt_misc has no qemu-i386 entry (scripts/setup.sh)"
    if not os.path.exists(EMULATOR):
        return None, f"the kernel runs no 32-bit code and {EMULATOR} is missing (scripts/setup.sh)"
    return "emulated", None


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def stop_running(*_):
    # unittest records any other exception in a test as an error and goes on.
    raise KeyboardInterrupt


def run_once(case):
    try:
        return unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(
            unittest.defaultTestLoader.loadTestsFromTestCase(case))
    except KeyboardInterrupt:
        if getattr(case, "hosts", None) is not None:  # its hosts, line and server
            case.tearDownClass()
        raise


def run_class(case, note, emulated):
    result = run_once(case)
    if result.wasSuccessful() or not emulated or not case.emulator_crashed():
        return result
    note.append(f"{case.__name__}: the emulator itself crashed (qemu-i386 segmentation fault or "
                f"'wine client error'); ran the class again")
    print(f"product: {note[-1]}")
    return run_once(case)


def main():
    # A stopped run still stops its hosts, lines and servers and puts the entry back.
    signal.signal(signal.SIGTERM, stop_running)
    require(WINE, WINESERVER, "socat")
    wanted = os.environ.get("RS232C_32BIT", "")
    if wanted not in ("", "native", "emulated"):
        return cannot(f"RS232C_32BIT={wanted} is neither native nor emulated")
    record = product_host.DLL + ".tested.sha256"
    if os.path.exists(record):
        os.unlink(record)  # no record of a DLL this run has not passed
    has_entry = os.path.exists(ENTRY)
    was_enabled = has_entry and entry_enabled()
    started = time.monotonic()
    notes, passed, failed = [], 0, 0
    work = None
    try:
        # Off while the kernel is asked; on again, where the emulator is the
        # way, while the prefix boots (when not cached), since Wine boots a
        # prefix's 32-bit half only if its 32-bit loader runs.
        if has_entry:
            set_entry(False)
        way, reason = choose_way(wanted)
        if not way:
            return cannot(reason)
        print("product: 32-bit programs run " + ("by the kernel itself" if way == "native" else
                                                  f"through {EMULATOR} (binfmt_misc), emulated"))
        tested_hash = sha256(product_host.DLL)
        log = os.path.join(os.environ.get("TMPDIR", "/tmp"), "rs232c-prefix-boot.log")
        boot_started = time.monotonic()
        if way == "emulated":
            set_entry(True)
        base_prefix(log, wow64=True)
        print(f"product: Wine prefix ready in {time.monotonic() - boot_started:.0f} s")
        work = product_host.Workspace.get()

        import test_product
        cases = [test_product.ProductAtWork, test_product.SaveBlockInANewHost, test_product.NetworkLines,
                 test_product.ModemCallInTheProduct, test_product.DialupInTheProduct]
        for case in cases:
            if way == "emulated":
                set_entry(True)
            result = run_class(case, notes, way == "emulated")
            bad = {test.id() for test, _ in result.failures + result.errors}
            # A class whose host did not start counts once, with none of its tests run.
            ran_bad = {test.id() for test, _ in result.failures + result.errors if isinstance(test, unittest.TestCase)}
            failed += len(bad)
            passed += result.testsRun - len(ran_bad)
            if way == "emulated" and not entry_enabled():
                notes.append("the qemu-i386 entry was disabled by something else during the run")
                print(f"product: {notes[-1]}")
    finally:
        if has_entry:
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
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("product: stopped")
        sys.exit(130)
