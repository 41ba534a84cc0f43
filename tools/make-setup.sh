#!/usr/bin/env bash
# Builds build/win/PelnoVPN-Setup.exe (CMake target PelnoVPN-Setup) from the
# distribution folder: dist/PelnoVPN, made by tools/make-dist.sh, or the folder
# named by PELNO_DIST_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${PELNO_DIST_DIR:-$PWD/dist/PelnoVPN}
if [ ! -d "$dist" ]; then
  echo "make-setup: no distribution folder at $dist (tools/make-dist.sh makes it)" >&2
  exit 1
fi
cmake --preset win -DPELNO_DIST_DIR="$dist" >/dev/null
cmake --build --preset win --target PelnoVPN-Setup
echo "setup: $PWD/build/win/PelnoVPN-Setup.exe"
