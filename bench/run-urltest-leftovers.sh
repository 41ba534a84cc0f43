#!/usr/bin/env bash
# Builds the helper, the stand-in engine and the process counter in build/bench-win
# and counts what stalled clients, a cancel storm and 20 concurrent runs leave in the
# helper under Wine, in that build's own prefix.
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService pelno-stand-in-engine pelno_bench_process_counts
flock /tmp/pelno-17891.lock python3 bench/urltest_leftovers.py
