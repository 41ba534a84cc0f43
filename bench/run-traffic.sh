#!/usr/bin/env bash
# Builds the helper, the stand-in engine and the traffic floor in build/bench-win and
# runs the /traffic-snapshot benchmark under Wine in that build's own prefix.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService pelno-stand-in-engine pelno_bench_traffic_floor
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/traffic_bench.py "$@"
