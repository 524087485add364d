#!/usr/bin/env bash
# Builds the optimised native build (no lock-order checks) and runs the device
# benchmarks and the long-run pacing check. Arguments go to the benchmark
# program, e.g. --benchmark_filter=Tick.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target device_benchmarks pacing_check
build/native-release/bench/device_benchmarks --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
echo
build/native-release/bench/pacing_check
