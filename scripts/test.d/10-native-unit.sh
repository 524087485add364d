# Stage: native unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
scripts/build.sh native
ctest --preset native
