#!/usr/bin/env bash
# Builds the helper in build/bench-win and runs the bounds benchmark (memory under
# unfinished bodies, a new client beside idle connections) under Wine in that
# build's own prefix.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/bounds_bench.py "$@"
