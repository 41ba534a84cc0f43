#!/usr/bin/env bash
# Builds PelnoVPN, the stand-in engine library and engine, the helper and the probes in
# build/bench-win and measures, under Wine and Xvfb ($PELNO_XVFB_DISPLAY, else :71),
# how long an unknown method waits for its reply while a slow call runs.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVPN PelnoVpnHelperService pelno-stand-in-engine \
  pelno-service-probe pelno-window-probe
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/platform_thread_bench.py "$@"
