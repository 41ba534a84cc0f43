#!/usr/bin/env bash
# Builds the helper, the stand-in engine and the bare launcher in build/bench-win and
# runs the POST /urltest benchmark under Wine in that build's own prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PELNO_BENCH_BUILD:-build/bench-win}
cmake --preset win -B "$build" >/dev/null
cmake --build "$build" -j2 --target PelnoVpnHelperService pelno-stand-in-engine pelno_bench_bare_launcher
export PELNO_BIN_DIR="$PWD/$build/bin" PELNO_WINE_EXEC="$PWD/$build/wine-exec"
export PELNO_BENCH_DIR="$PWD/$build/bench" WINEPREFIX="$PWD/$build/wineprefix"
trap '"$PELNO_WINE_EXEC" --down' EXIT
"$PELNO_WINE_EXEC" --up
# Port 17891 is shared with the test suites on this machine.
flock /tmp/pelno-17891.lock python3 bench/urltest_bench.py "$@"
