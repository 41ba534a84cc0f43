#!/usr/bin/env bash
# Builds the helper and the floor responder in build/bench-win and runs the /ping
# benchmark under Wine in that build's own prefix. Arguments go to ping_bench.py.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService pelno_bench_floor_responder
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/ping_bench.py "$@"
