#!/usr/bin/env bash
# Builds the latency event benchmark in build/bench-win and runs it under Wine in that
# build's own prefix: p50 of helper line -> event at the messenger, lines 100 ms apart.
args=("$@")
source "$(dirname "$0")/bench-env.sh" pelno_bench_latency_events
set -- "${args[@]}"
flock /tmp/pelno-17891.lock "$PELNO_WINE_EXEC" "$PELNO_BENCH_DIR/pelno_bench_latency_events.exe"
