#!/usr/bin/env bash
# Builds the codec benchmark (Windows, Release) in build/bench-win and runs it
# under Wine in that build's own prefix. Arguments: [rounds] (default 200).
args=("$@")
source "$(dirname "$0")/bench-env.sh" pelno_bench_flutter_codec
set -- "${args[@]}"
"$PELNO_WINE_EXEC" "$PELNO_BENCH_DIR/pelno_bench_flutter_codec.exe" "$@"
