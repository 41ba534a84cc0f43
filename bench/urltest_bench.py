"""POST /urltest under Wine: 48 nodes whose fetch takes 300 ms in the stand-in engine,
measured 12 at a time by the helper, beside the bare launcher (bench/bare_launcher.cpp),
which starts the same 48 fetch commands 12 at a time and nothing else; the two take
turns in the same run. Also the way of each result from its engine's exit (stamped by
the stand-in right before it exits) to its line reaching this client.

A report, not a test: run it through bench/run-urltest.sh.
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402
from pelno_engine import TEST_URL, engine_config, urltest_request  # noqa: E402

NODES, WORKERS, FETCH_MS = 48, 12, 300
URL = TEST_URL
ENDS = "bench-fetch-ends.txt"


def helper_run(config):
    """Wall seconds of one run, and each line's arrival time (Unix seconds) by tag."""
    tags = [b"b%d" % i for i in range(NODES)]
    arrivals, pending = {}, b""
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", pelno_wine.CONTROL_PORT), timeout=60) as s:
        s.sendall(urltest_request(tags, config, b"bench"))
        while chunk := s.recv(65536):
            now = time.time()
            pending += chunk
            head, sep, rest = pending.partition(b"\r\n\r\n")
            lines = (rest if sep else b"").split(b"\n")
            for line in lines[:-1]:
                result = json.loads(line)
                if result["delayMs"] <= 0:
                    raise RuntimeError(f"a node failed: {result}")
                arrivals[result["nodeTag"]] = now
            pending = head + sep + lines[-1] if sep else pending
    return time.monotonic() - start, arrivals


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    config = engine_config(fetch={f"b{i}": {"delay_ms": FETCH_MS} for i in range(NODES)},
                           fetch_end_file=ENDS)
    bare_exe = os.path.join(os.environ["PELNO_BENCH_DIR"], "pelno_bench_bare_launcher.exe")
    helper_walls, bare_walls, latencies, floor = [], [], [], []
    with pelno_wine.HelperProcess(with_engine=True) as helper:
        folder = pelno_wine.data_dir()
        os.makedirs(folder, exist_ok=True)  # a fresh prefix: no run has made it yet
        with open(os.path.join(folder, "bench-config.json"), "w") as f:
            f.write(config)
        ends_path = os.path.join(folder, ENDS)
        for _ in range(args.rounds):
            if os.path.exists(ends_path):
                os.remove(ends_path)
            bare = subprocess.run(
                [pelno_wine.wine_exec(), bare_exe, pelno_wine.windows_path(helper.dir.file("sing-box.exe")),
                 pelno_wine.windows_path(os.path.join(folder, "bench-config.json")), URL, str(NODES),
                 str(WORKERS), "b"], capture_output=True, timeout=600, check=True)
            figures = json.loads(bare.stdout)
            bare_walls.append(figures["wallMs"] / 1000)
            with open(ends_path) as f:
                ends = dict(line.rstrip("\n").split("\t") for line in f)
            floor += [(figures["waitEnds"][tag] - int(stamp)) / 1000 for tag, stamp in ends.items()]
            os.remove(ends_path)
            wall, arrivals = helper_run(config)
            helper_walls.append(wall)
            with open(ends_path) as f:
                ends = dict(line.rstrip("\n").split("\t") for line in f)
            latencies += [(arrivals[tag] - int(stamp) / 1e6) * 1000 for tag, stamp in ends.items()]
            os.remove(ends_path)
    helper_wall, bare_wall = statistics.median(helper_walls), statistics.median(bare_walls)
    cuts = statistics.quantiles(latencies, n=100)
    print(f"helper run:    median {helper_wall * 1000:.0f} ms over {args.rounds} runs "
          f"({', '.join(f'{w * 1000:.0f}' for w in helper_walls)})")
    print(f"bare launcher: median {bare_wall * 1000:.0f} ms over {args.rounds} runs "
          f"({', '.join(f'{w * 1000:.0f}' for w in bare_walls)})")
    print(f"engine exit to line: p50 {statistics.median(latencies):.1f} ms  p90 {cuts[89]:.1f} ms  "
          f"max {max(latencies):.1f} ms  ({len(latencies)} lines)")
    print(f"engine exit to the bare launcher's wait end (floor): p50 {statistics.median(floor):.1f} ms  "
          f"p90 {statistics.quantiles(floor, n=100)[89]:.1f} ms")
    print(("PASS" if helper_wall <= 1.2 * bare_wall else "FAIL") +
          f": helper wall time {helper_wall / bare_wall:.2f}x the bare launcher's (target <= 1.2x)")
    print(("PASS" if statistics.median(latencies) <= 20 else "FAIL") +
          f": engine exit to line p50 {statistics.median(latencies):.1f} ms (target <= 20 ms)")


if __name__ == "__main__":
    main()
