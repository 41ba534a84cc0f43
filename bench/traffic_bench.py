"""GET /traffic-snapshot latency of the helper under Wine, with the stand-in engine
running and its /traffic stream never ending, beside a floor measured in the same run
and interleaved with it: two bare controller round trips (the same ControllerGet calls
the snapshot makes) and the four socket-table reads. bench/traffic_floor.cpp does the
timing, so all three see the same socket tables.

A report, not a test: run it through bench/run-traffic.sh.
"""
import argparse
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402
from pelno_engine import engine_config, free_port  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--requests", type=int, default=200)
    args = parser.parse_args()

    config = json.loads(engine_config(free_port()))
    config["experimental"] = {"clash_api": {"external_controller": "127.0.0.1:19090"}}
    with pelno_wine.HelperProcess(with_engine=True):
        start = pelno_wine.request("POST", "/start-tun", json.dumps(config))
        if b"connected" not in start:
            raise RuntimeError(f"no engine: {start!r}")
        floor_exe = os.path.join(os.environ["PELNO_BENCH_DIR"], "pelno_bench_traffic_floor.exe")
        floor = subprocess.run([pelno_wine.wine_exec(), floor_exe, str(args.requests)],
                               capture_output=True, timeout=1800, check=True)
        pelno_wine.request("POST", "/stop")
    figures = json.loads(floor.stdout)
    p50, p99 = figures["snapshotP50"], figures["snapshotP99"]
    print(f"snapshot:                    p50 {p50:.3f} ms  p99 {p99:.3f} ms  ({args.requests} requests)")
    print(f"two controller round trips:  p50 {figures['roundTripsP50']:.3f} ms  "
          f"p99 {figures['roundTripsP99']:.3f} ms")
    print(f"four table reads:            p50 {figures['tablesP50']:.3f} ms  "
          f"p99 {figures['tablesP99']:.3f} ms")
    floor_p50 = figures["roundTripsP50"] + figures["tablesP50"]
    print(("PASS" if p50 <= 3 * floor_p50 else "FAIL") +
          f": snapshot p50 {p50:.3f} ms within 3x the floor's {floor_p50:.3f} ms")
    print(("PASS" if p99 < 1200 / 4 else "FAIL") +
          f": snapshot p99 {p99:.3f} ms far below the 1,200 ms controller time-out")


if __name__ == "__main__":
    main()
