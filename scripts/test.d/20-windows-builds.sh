# Stage: Windows builds (32-bit product, 64-bit for Wine), warnings as errors
set -euo pipefail
scripts/build.sh win32 win64
