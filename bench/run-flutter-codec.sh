#!/usr/bin/env bash
# Builds the codec benchmark (Windows, Release) in build/bench-win and runs it
# under Wine in that build's own prefix. Arguments: [rounds] (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PELNO_BENCH_BUILD:-build/bench-win}
cmake --preset win -B "$build" >/dev/null
cmake --build "$build" -j2 --target pelno_bench_flutter_codec
export WINEPREFIX="$PWD/$build/wineprefix"
trap '"$PWD/$build/wine-exec" --down' EXIT
"$PWD/$build/wine-exec" "$PWD/$build/bench/pelno_bench_flutter_codec.exe" "$@"
