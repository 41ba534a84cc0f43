# Sourced by the bench/run*.sh scripts: builds the given targets (Windows, Release) in
# build/bench-win (or $PELNO_BENCH_BUILD), points the Python drivers at that build,
# and warms its own Wine prefix, which is taken down again when the script ends.
# Benchmarks that use port 17891 run under flock /tmp/pelno-17891.lock, shared with
# the test suites on this machine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${PELNO_BENCH_BUILD:-build/bench-win}
cmake --preset win -B "$build" >/dev/null
cmake --build "$build" -j2 --target "$@"
export PELNO_BIN_DIR="$PWD/$build/bin" PELNO_WINE_EXEC="$PWD/$build/wine-exec"
export PELNO_BENCH_DIR="$PWD/$build/bench" WINEPREFIX="$PWD/$build/wineprefix"
trap '"$PELNO_WINE_EXEC" --down' EXIT
"$PELNO_WINE_EXEC" --up
