"""The helper's bounds under Wine: its resident memory while 8 clients each announce a
64 MiB body and send 60 MiB of it (and never the rest), and how long a new client waits
for GET /ping while 300 idle connections are held open.

A report, not a test: run it through bench/run-bounds.sh.
"""
import contextlib
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_wine  # noqa: E402

CLIENTS, ANNOUNCED, SENT = 8, 64 * 1024 * 1024, 60 * 1024 * 1024
IDLE_CONNECTIONS = 300


def resident_mib(helper):
    def rss(pid):
        with open(f"/proc/{pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:")) / 1024
    return max(rss(pid) for pid, cmdline in pelno_wine.processes_under(helper.dir.path)
               if pelno_wine.HELPER_EXE in cmdline)


def unfinished_bodies(helper, stack):
    """Starts the clients; returns how many were refused before sending all they meant to."""
    refused = [0]
    lock = threading.Lock()
    chunk = b"x" * (1024 * 1024)

    def client():
        s = stack.enter_context(socket.create_connection(("127.0.0.1", pelno_wine.CONTROL_PORT), timeout=60))
        try:
            s.sendall(b"POST /start HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %d\r\n\r\n" % ANNOUNCED)
            for _ in range(SENT // len(chunk)):
                s.sendall(chunk)
        except OSError:
            with lock:
                refused[0] += 1

    threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return refused[0]


def main():
    with pelno_wine.HelperProcess() as helper:
        idle = resident_mib(helper)
        with contextlib.ExitStack() as stack:
            refused = unfinished_bodies(helper, stack)
            time.sleep(1.0)  # the helper has taken in what was sent
            held = resident_mib(helper)
        print(f"helper resident memory: {idle:.0f} MiB idle, {held:.0f} MiB with {CLIENTS} clients that announced "
              f"{ANNOUNCED >> 20} MiB and sent {SENT >> 20} MiB ({refused} of them refused before their body)")
        time.sleep(1.0)
        with contextlib.ExitStack() as stack:
            for _ in range(IDLE_CONNECTIONS):
                stack.enter_context(socket.create_connection(("127.0.0.1", pelno_wine.CONTROL_PORT), timeout=10))
            time.sleep(1.0)
            started, answered = time.monotonic(), False
            while not answered and time.monotonic() - started < 60:
                try:
                    answered = pelno_wine.raw_request(b"GET /ping HTTP/1.1\r\n\r\n", timeout=60).endswith(b"pong")
                except OSError:
                    time.sleep(0.1)
            waited = time.monotonic() - started
        print(f"/ping with {IDLE_CONNECTIONS} idle connections held: "
              + (f"answered after {waited:.3f} s" if answered else f"not answered within {waited:.0f} s"))


if __name__ == "__main__":
    main()
