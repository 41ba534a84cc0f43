#!/usr/bin/env bash
# Builds both presets and runs every test: the portable logic natively under
# AddressSanitizer/UBSan, its libraries once more with Clang's lock checks (a finding
# fails), two release builds compared byte for byte, then the Windows programs under
# Wine in a throwaway prefix.
set -uo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d /tmp/pelno-test.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

status=0
{ cmake --preset native && cmake --build --preset native && ctest --preset native; } || status=1
{ cmake --preset threads && cmake --build --preset threads; } || status=1
bash tools/check-reproducible.sh || status=1
{ cmake --preset win && cmake --build --preset win && ctest --preset win; } || status=1
exit $status
