"""GET /traffic-snapshot latency of the helper under Wine, with the stand-in engine
running and its /traffic stream never ending, beside a floor measured in the same run
and interleaved with it: two bare controller round trips (the same ControllerGet calls
the snapshot makes) and the four socket-table reads. bench/traffic_floor.cpp does the
timing, so all three see the same socket tables. Then 8 snapshot requests at once,
several times: the wall time until all 8 are answered, against one request alone.

A report, not a test: run it through bench/run-traffic.sh.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402
from pelno_engine import engine_config, free_port  # noqa: E402


CONCURRENT = 8


def snapshots_at_once(count):
    """Seconds until `count` snapshot requests sent at once are all answered."""
    def ask():
        if b'"processes"' not in pelno_wine.request("GET", "/traffic-snapshot"):
            raise RuntimeError("no snapshot")
    threads = [threading.Thread(target=ask) for _ in range(count)]
    started = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--requests", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=10, help="rounds of requests at once")
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
        alone, together = [], []
        for _ in range(args.rounds):
            alone.append(snapshots_at_once(1))
            together.append(snapshots_at_once(CONCURRENT))
        pelno_wine.request("POST", "/stop")
    figures = json.loads(floor.stdout)
    p50, p99 = figures["snapshotP50"], figures["snapshotP99"]
    print(f"snapshot:                    p50 {p50:.3f} ms  p99 {p99:.3f} ms  ({args.requests} requests)")
    print(f"two controller round trips:  p50 {figures['roundTripsP50']:.3f} ms  "
          f"p99 {figures['roundTripsP99']:.3f} ms")
    print(f"four table reads:            p50 {figures['tablesP50']:.3f} ms  "
          f"p99 {figures['tablesP99']:.3f} ms")
    print(f"{CONCURRENT} snapshots at once:        median {statistics.median(together) * 1000:.0f} ms until all are "
          f"answered; one alone {statistics.median(alone) * 1000:.0f} ms  ({args.rounds} rounds)")
    floor_p50 = figures["roundTripsP50"] + figures["tablesP50"]
    print(("PASS" if p50 <= 3 * floor_p50 else "FAIL") +
          f": snapshot p50 {p50:.3f} ms within 3x the floor's {floor_p50:.3f} ms")
    print(("PASS" if p99 < 1200 / 4 else "FAIL") +
          f": snapshot p99 {p99:.3f} ms far below the 1,200 ms controller time-out")


if __name__ == "__main__":
    main()
