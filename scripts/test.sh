#!/usr/bin/env bash
# The whole test suite. Each stage is a script in scripts/test.d, run in name
# order; any failure stops the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

for stage in scripts/test.d/*.sh; do
  printf '\n=== %s ===\n' "$(sed -n 's/^# Stage: //p' "$stage")"
  bash "$stage"
done
printf '\n=== All tests passed ===\n'
