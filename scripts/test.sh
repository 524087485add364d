#!/usr/bin/env bash
# The whole test suite: unit tests under sanitizers, the Windows builds and
# their artifact checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

step() { printf '\n=== %s ===\n' "$*"; }

step "Native build, unit tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
scripts/build.sh native
ctest --preset native

step "Windows builds (32-bit product, 64-bit for Wine), warnings as errors"
scripts/build.sh win32 win64

step "All tests passed"
