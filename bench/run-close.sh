#!/usr/bin/env bash
# Builds PelnoVPN, the stand-in engine library and engine, the helper and the window probe
# in build/bench-win and measures, under Wine and Xvfb ($PELNO_XVFB_DISPLAY, else :71),
# how long a silent listener on the helper's port holds up a proxy connect and closing.
args=("$@")
source "$(dirname "$0")/bench-env.sh" PelnoVPN PelnoVpnHelperService pelno-stand-in-engine pelno-window-probe
set -- "${args[@]}"
flock /tmp/pelno-17891.lock python3 bench/close_bench.py "$@"
