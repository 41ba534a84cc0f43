#!/usr/bin/env bash
# Builds the latency event benchmark in build/bench-win and runs it under Wine in that
# build's own prefix: p50 of helper line -> event at the messenger, lines 100 ms apart.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PELNO_BENCH_BUILD:-build/bench-win}
cmake --preset win -B "$build" >/dev/null
cmake --build "$build" -j2 --target pelno_bench_latency_events
export WINEPREFIX="$PWD/$build/wineprefix"
trap '"$PWD/$build/wine-exec" --down' EXIT
"$PWD/$build/wine-exec" --up
# Port 17891 is shared with the test suites on this machine.
flock /tmp/pelno-17891.lock "$PWD/$build/wine-exec" "$PWD/$build/bench/pelno_bench_latency_events.exe"
