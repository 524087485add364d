#!/usr/bin/env bash
# The whole test suite. Each stage is a script in scripts/test.d, run in name
# order; any failure stops the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Each stage's time is printed, so that the suite's length can be watched.
for stage in scripts/test.d/*.sh; do
  printf '\n=== %s ===\n' "$(sed -n 's/^# Stage: //p' "$stage")"
  stage_started=$SECONDS
  bash "$stage"
  printf '=== %s: %d s\n' "$(basename "$stage" .sh)" $((SECONDS - stage_started))
done
printf '\n=== All tests passed in %d min %d s ===\n' $((SECONDS / 60)) $((SECONDS % 60))
