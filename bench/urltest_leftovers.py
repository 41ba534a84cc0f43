"""What latency tests leave in the helper under Wine, counted three ways:

- stalled clients: 4 clients each send a /urltest of 20 tags of 1 MiB and never read;
  counted while they stall, 3 s after two of the runs are canceled, 12 s later (past
  the connection's send time-out) and after the clients have closed;
- a cancel storm: 36 runs of 12 slow nodes (6 at a time), each canceled 300 ms after
  its stream began; counted 3 s after the last ended and again once the control
  server's idle connection threads have ended (60 s);
- 20 runs of 12 nodes at once (fetches of 2 s): the most engines and helper threads
  seen at once, and the wall time.

Threads, handles and memory are the system's own figures for the Windows processes
(bench/process_counts.cpp: the tool-help snapshot's thread counts, the system handle
table, the working set). Engines are processes named sing-box.exe, console hosts
conhost.exe.

A report, not a test: run it through bench/run-urltest-leftovers.sh.
"""
import glob
import json
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402
from pelno_engine import engine_config, open_urltest  # noqa: E402

NAMES = ("PelnoVpnHelperService.exe", "sing-box.exe", "conhost.exe")


def open_stream(request_id, tags, config, receive_buffer=0):
    return open_urltest(tags, config, request_id.encode(), receive_buffer, timeout=120)


def cancel(request_id):
    pelno_wine.request("POST", "/cancel-urltest", request_id)


def counts():
    probe = os.path.join(os.environ["PELNO_BENCH_DIR"], "pelno_bench_process_counts.exe")
    found = json.loads(pelno_wine.run_windows([probe, *NAMES]).stdout)
    helper, engines, hosts = (found[n] for n in NAMES)
    return {"helper threads": helper["threads"], "helper handles": helper["handles"],
            "helper MiB": helper["MiB"],
            "engines": engines["processes"], "console hosts": hosts["processes"],
            "console host MiB": hosts["MiB"], "run files": run_files()}


def show(label, figures):
    print(f"  {label:<34} " + ", ".join(f"{k} {v}" for k, v in figures.items()), flush=True)


def run_files():
    return len(glob.glob(os.path.join(pelno_wine.data_dir(), "sing-box-urltest-*.json")))


def stalled_clients(clients=4):
    print(f"stalled clients: {clients} clients, 20 tags of 1 MiB each, never reading; half of them canceled")
    for stale in glob.glob(os.path.join(pelno_wine.data_dir(), "sing-box-urltest-*.json")):
        os.remove(stale)  # left by a helper killed in an earlier run
    show("idle helper", counts())
    config = engine_config()
    streams = [open_stream(f"stall{c}", [b"%d-%02d-" % (c, i) + b"x" * (1 << 20) for i in range(20)], config,
                           receive_buffer=4096) for c in range(clients)]
    deadline = time.monotonic() + 60
    while run_files() < clients and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(2)
    show("stalled", counts())
    for c in range(clients // 2):
        cancel(f"stall{c}")
    time.sleep(3)
    show("3 s after half were canceled", counts())
    time.sleep(12)
    show("15 s after (send time-out passed)", counts())
    for s in streams:
        s.close()
    time.sleep(3)
    show("3 s after the clients closed", counts())


def drain(s):
    with s:
        while s.recv(65536):
            pass


def canceled_run(request_id, config):
    with open_stream(request_id, [b"n%d" % i for i in range(12)], config) as s:
        s.recv(1)
        time.sleep(0.3)
        cancel(request_id)
        drain(s)


def cancel_storm(rounds=6, parallel=6):
    print(f"cancel storm: {rounds * parallel} runs of 12 nodes ({parallel} at a time), each canceled after 300 ms")
    show("before", counts())
    config = engine_config(fetch={f"n{i}": {"delay_ms": 2500} for i in range(12)})
    for r in range(rounds):
        runs = [threading.Thread(target=canceled_run, args=(f"storm{r}-{p}", config)) for p in range(parallel)]
        [t.start() for t in runs]
        [t.join() for t in runs]
    time.sleep(3)
    show("3 s after the storm", counts())
    time.sleep(62)
    show("65 s after (idle connection threads gone)", counts())


def concurrent_runs(runs=20, nodes=12):
    print(f"{runs} runs of {nodes} nodes at once, fetches of 2 s")
    config = engine_config(fetch={f"n{i}": {"delay_ms": 2000} for i in range(nodes)})
    most = {"engines": 0, "helper threads": 0}
    start = time.monotonic()
    tags = [b"n%d" % k for k in range(nodes)]
    streams = [threading.Thread(target=lambda i=i: drain(open_stream(f"many{i}", tags, config))) for i in range(runs)]
    [t.start() for t in streams]
    while any(t.is_alive() for t in streams):
        now = counts()
        most = {k: max(v, now[k]) for k, v in most.items()}
        time.sleep(0.2)
    wall = time.monotonic() - start
    show("most at once", most)
    print(f"  wall time {wall:.1f} s ({runs * nodes} fetches of 2 s)")


def main():
    with pelno_wine.HelperProcess(with_engine=True):
        stalled_clients()
        cancel_storm()
        concurrent_runs()


if __name__ == "__main__":
    main()
