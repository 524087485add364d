# Stage: thread stress under ThreadSanitizer: no data race, no lock-order inversion, no deadlock
set -euo pipefail
cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan --target stress_tests
export RS232C_STRESS_SECONDS=${RS232C_STRESS_SECONDS:-5}
TSAN_OPTIONS=${TSAN_OPTIONS:-second_deadlock_stack=1} ctest --preset native-tsan -L stress --verbose
