#!/usr/bin/env bash
# Builds the helper and the stand-in engine in build/bench-win and runs the storm
# benchmark under Wine in that build's own prefix. Arguments go to storm_bench.py.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService pelno-stand-in-engine
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/storm_bench.py "$@"
