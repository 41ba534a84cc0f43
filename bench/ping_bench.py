"""GET /ping throughput and latency of the helper under Wine, against a floor responder.

Prints requests per second and p50/p99 latency at 1 and 16 concurrent clients (one
connection per request) for the helper and for the single-threaded floor responder,
the helper's p99 while 200 silent connections are held open, and three target lines.
The 16-client figures alternate between the helper and the floor over several rounds
and the medians are compared, so that a burst of other work on the machine weighs
on both alike.
A report, not a test: run it through bench/run.sh.
"""
import argparse
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402

HELPER_PORT = pelno_wine.CONTROL_PORT
FLOOR_PORT = 17991
FLOOR_EXE = "pelno_bench_floor_responder.exe"
# The helper serves at most 256 connections at once and closes any beyond; the silent
# ones leave room for the measuring client.
SILENT_CONNECTIONS = 200
# The helper drops a connection that stays silent this long; measurements with the
# silent connections held must end well before it.
IDLE_LIMIT_SECONDS = 30


def ping_once(port):
    """One request on a new connection; returns its latency in seconds, or None on failure."""
    started = time.perf_counter()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            s.sendall(b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
            reply = pelno_wine.recv_all(s)
    except OSError:
        return None
    return time.perf_counter() - started if reply.endswith(b"\r\n\r\npong") else None


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(round(fraction * (len(sorted_values) - 1))))]


def measure(port, clients, total):
    """(requests per second, p50 ms, p99 ms, failures) for `total` requests over `clients` threads."""
    latencies, failures = [], [0]
    lock = threading.Lock()
    remaining = [total]

    def client():
        mine, failed = [], 0
        while True:
            with lock:
                if remaining[0] == 0:
                    break
                remaining[0] -= 1
            latency = ping_once(port)
            if latency is None:
                failed += 1
            else:
                mine.append(latency)
        with lock:
            latencies.extend(mine)
            failures[0] += failed

    threads = [threading.Thread(target=client) for _ in range(clients)]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.perf_counter() - started
    latencies.sort()
    if not latencies:
        return 0.0, float("nan"), float("nan"), failures[0]
    return (len(latencies) / elapsed, percentile(latencies, 0.50) * 1000,
            percentile(latencies, 0.99) * 1000, failures[0])


def line(label, result):
    rps, p50, p99, failed = result
    print(f"{label:<44} {rps:9.0f} req/s   p50 {p50:7.3f} ms   p99 {p99:7.3f} ms"
          + (f"   ({failed} failed)" if failed else ""))


def start_floor_responder():
    exe = os.path.join(os.environ.get("PELNO_BENCH_DIR", ""), FLOOR_EXE)
    proc = pelno_wine.subprocess.Popen([pelno_wine.wine_exec(), exe, str(FLOOR_PORT)],
                                       stdin=pelno_wine.subprocess.DEVNULL,
                                       stdout=pelno_wine.subprocess.DEVNULL,
                                       stderr=pelno_wine.subprocess.DEVNULL)
    if not pelno_wine.wait_until(lambda: pelno_wine.port_open(FLOOR_PORT), timeout=30):
        proc.kill()
        raise RuntimeError("floor responder did not listen")
    return proc, os.path.dirname(exe)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--requests", type=int, default=2000, help="requests per measurement")
    parser.add_argument("--warmup", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3, help="alternating 16-client rounds")
    args = parser.parse_args()

    results = {}
    floor_proc, floor_dir = start_floor_responder()
    try:
        helper = pelno_wine.HelperProcess()
    except Exception:
        floor_proc.kill()
        pelno_wine.kill_windows_processes_under(floor_dir)
        raise
    try:
        for name, port in (("helper", HELPER_PORT), ("floor", FLOOR_PORT)):
            measure(port, 1, args.warmup)
            results[name, 1] = measure(port, 1, args.requests)
            line(f"{name} /ping,  1 client", results[name, 1])
        for round_number in range(args.rounds):
            for name, port in (("helper", HELPER_PORT), ("floor", FLOOR_PORT)):
                results[name, 16, round_number] = measure(port, 16, args.requests)
                line(f"{name} /ping, 16 clients, round {round_number + 1}", results[name, 16, round_number])

        # The baseline for the silent-connection check, taken right before it.
        results["quiet"] = measure(HELPER_PORT, 1, args.requests)
        line("helper /ping, 1 client, again", results["quiet"])
        silent = []
        try:
            for _ in range(SILENT_CONNECTIONS):
                silent.append(socket.create_connection(("127.0.0.1", HELPER_PORT), timeout=10))
            time.sleep(1.0)  # let the helper start a thread for each
            started = time.monotonic()
            results["silent"] = measure(HELPER_PORT, 1, args.requests)
            held_for = time.monotonic() - started
            line(f"helper /ping, 1 client, {SILENT_CONNECTIONS} silent open", results["silent"])
            still_open = 0
            for s in silent:
                s.setblocking(False)
                try:
                    s.recv(1)  # b"" (closed) or bytes (answered): either way no longer waiting
                except BlockingIOError:
                    still_open += 1
                except OSError:
                    pass
            print(f"silent connections still open afterwards: {still_open}/{SILENT_CONNECTIONS}"
                  + (f" (measurement took {held_for:.0f} s, over the idle limit)"
                     if held_for > IDLE_LIMIT_SECONDS else ""))
        finally:
            for s in silent:
                s.close()
    finally:
        helper.stop()
        floor_proc.kill()
        floor_proc.wait(timeout=30)
        pelno_wine.kill_windows_processes_under(floor_dir)

    helper_rps, floor_rps = (statistics.median(results[name, 16, r][0] for r in range(args.rounds))
                             for name in ("helper", "floor"))
    helper_p50, floor_p50 = results["helper", 1][1], results["floor", 1][1]
    print(f"{'PASS' if helper_rps >= floor_rps else 'FAIL'}: /ping throughput at 16 clients "
          f"{helper_rps:.0f} req/s, {helper_rps / floor_rps:.2f}x the floor's {floor_rps:.0f} req/s "
          f"(medians; target >= 1x)")
    quiet_p99, silent_p99 = results["quiet"][2], results["silent"][2]
    print(f"{'PASS' if helper_p50 <= 2 * floor_p50 else 'FAIL'}: /ping p50 at 1 client "
          f"{helper_p50:.3f} ms within 2x the floor's {floor_p50:.3f} ms")
    print(f"{'PASS' if silent_p99 <= 2 * quiet_p99 else 'FAIL'}: /ping p99 with "
          f"{SILENT_CONNECTIONS} silent connections {silent_p99:.3f} ms within 2x the p99 "
          f"without them {quiet_p99:.3f} ms")


if __name__ == "__main__":
    main()
