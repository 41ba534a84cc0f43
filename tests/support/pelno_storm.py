"""A storm of clients against the helper for a fixed time: /ping threads and optionally /urltest
threads, each back to back. Used by the Wine suite (seconds) and bench/run-storm.sh (longer)."""
import threading
import time

import pelno_wine
from pelno_engine import engine_config, urltest_request

PING = b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"


def scripted_urltest(nodes):
    tags = [f"s{i}" for i in range(nodes)]
    return urltest_request([t.encode() for t in tags], engine_config(fetch={t: {} for t in tags}))


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.answered = {"ping": 0, "urltest": 0}
        self.unanswered = {"ping": 0, "urltest": 0}
        self.first_unanswered = None  # seconds into the storm

    def count(self, kind, ok, at):
        with self.lock:
            (self.answered if ok else self.unanswered)[kind] += 1
            if not ok and self.first_unanswered is None:
                self.first_unanswered = at


def storm(seconds, ping_clients=4, urltest_clients=0, nodes=12, timeout=5.0):
    """Returns a Tally; a /urltest run is answered when all its nodes' lines arrive."""
    tally, started = Tally(), time.monotonic()
    end = started + seconds
    long_request = scripted_urltest(nodes)

    def client(kind, data, answered, request_timeout):
        while time.monotonic() < end:
            try:
                # Reset: tens of thousands of TIME_WAIT sockets would slow later socket-table reads.
                ok = answered(pelno_wine.raw_request(data, timeout=request_timeout, reset=True))
            except OSError:
                ok = False
            tally.count(kind, ok, time.monotonic() - started)

    threads = [threading.Thread(target=client, args=("ping", PING, lambda r: r.endswith(b"\r\n\r\npong"), timeout))
               for _ in range(ping_clients)]
    # The stand-in engine answers at once; a run of 12 nodes takes well under a second.
    threads += [threading.Thread(target=client, args=("urltest", long_request,
                                                   lambda r: r.count(b'"delayMs"') == nodes, 6 * timeout))
                for _ in range(urltest_clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return tally
