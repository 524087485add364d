# Stage: the release zip: its files and checksums, the DLL the 32-bit stage ran, the guides, the sample settings file
set -euo pipefail
scripts/package.sh
version=$(sed -n 's/^#define RS232C_VERSION_TEXT "\(.*\)"$/\1/p' ui/resources/Version.h)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same sources' 64-bit build, which Wine runs at full speed: its host
# simulator lists the kinds of line, and its plug-in reads the sample file.
scripts/build.sh win64

# Both checks run, so that one report shows every fault.
status=0
python3 tests/release/check_release.py "dist/RS232C-$version.zip" build/win32/RS232C.dll.tested.sha256 "$work" \
  build/win64 || status=1

# The sample settings file, as unpacked, through the settings code under Wine.
xvfb-run -a python3 tests/release/check_sample_ini.py "$work/RS232C-sample.ini" build/win64 || status=1
exit $status
