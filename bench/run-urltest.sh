#!/usr/bin/env bash
# Builds the helper, the stand-in engine and the bare launcher in build/bench-win and
# runs the POST /urltest benchmark under Wine in that build's own prefix.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVpnHelperService pelno-stand-in-engine pelno_bench_bare_launcher
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/urltest_bench.py "$@"
