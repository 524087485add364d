"""Runs the integration tests under Wine and ends with a 'N passed, N failed' line."""
import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def main():
    from support import require  # the harness finds the Wine tools beside it
    require()
    pattern = sys.argv[1] if len(sys.argv) > 1 else "test_*.py"
    suite = unittest.defaultTestLoader.discover(HERE, pattern=pattern, top_level_dir=HERE)
    started = time.monotonic()
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    # A test counts once however many of its subtests failed.
    failed = len({test.id() for test, _ in result.failures + result.errors})
    passed = result.testsRun - failed - len(result.skipped)
    print(f"integration tests took {time.monotonic() - started:.0f} s")
    print(f"integration: {passed} passed, {failed} failed"
          + (f", {len(result.skipped)} skipped" if result.skipped else ""))
    if failed:
        os.environ["KEEP_INTEGRATION_FILES"] = "1"  # Wine's log and the files stay for a look
    return 0 if failed == 0 and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
