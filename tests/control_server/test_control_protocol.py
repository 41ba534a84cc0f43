"""The control server of the helper under Wine: the bytes it answers with, its read loop, a
storm of clients, and the bounds that floods of connections and of request bytes meet."""
import contextlib
import functools
import os
import resource
import selectors
import socket
import sys
import threading
import time
import unittest

import pelno_storm
import pelno_wine
from pelno_wine import CONTROL_PORT, HELPER_EXE, processes_under, raw_request, recv_all


def reply(status, body):
    return (f"HTTP/1.1 {status}\r\nContent-Type: text/plain\r\nContent-Length: {len(body)}\r\n"
            f"Connection: close\r\n\r\n{body}").encode()


PONG = reply("200 OK", "pong")
PING = b"GET /ping HTTP/1.1\r\n\r\n"
HEADER_LIMIT = 1048576
IDLE_LIMIT_SECONDS = 30
REQUEST_DEADLINE_SECONDS = 60
MAX_CONNECTIONS = 256
HELD_CONNECTIONS = 1000
REORDERED = 16  # twice the threads that accept at once
MEMORY_LIMIT_BYTES = 300 * 1000 * 1000
STORM_SECONDS = 6
BODY_LIMIT = 64 * 1024 * 1024
LIMIT_LINE = b"] Control connections at the limit of 256; the oldest still sending their request are closed\r\n"


def setUpModule():
    global helper, stale_run_file
    # The configuration file of a latency test whose helper was killed during the run.
    os.makedirs(pelno_wine.data_dir(), exist_ok=True)
    stale_run_file = os.path.join(pelno_wine.data_dir(), "sing-box-urltest-4000001-7.json")
    with open(stale_run_file, "w") as f:
        f.write("{}")
    helper = pelno_wine.HelperProcess(with_engine=True)
    unittest.addModuleCleanup(helper.stop)


def connect(timeout=10.0):
    return socket.create_connection(("127.0.0.1", CONTROL_PORT), timeout=timeout)


def closed_unanswered(sock):
    """True when the server ends the connection without a byte, within the socket's time-out."""
    try:
        return recv_all(sock) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def still_open(sock):
    sock.setblocking(False)
    try:
        sock.recv(1)
    except OSError as error:
        return isinstance(error, BlockingIOError)
    return False


def resident_bytes(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmRSS:"))


report = functools.partial(print, file=sys.stderr)


class ProtocolTest(unittest.TestCase):
    def test_exact_replies(self):
        head = b"GET /ping HTTP/1.1\r\nX-Fill: "
        for request, expected in (
                (b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1:17891\r\n\r\n", PONG),
                (b"GET /ping?x=1 HTTP/1.1\r\n\r\n", reply("404 Not Found", "not found")),
                (b"POST /stop HTTP/1.1\r\nOrigin: https://evil.example\r\n\r\n",
                 reply("403 Forbidden", "forbidden")),
                (head + b"a" * (HEADER_LIMIT + 1 - len(head)),
                 reply("413 Payload Too Large", "request too large"))):
            with self.subTest(request=request[:40]):
                self.assertEqual(raw_request(request, timeout=30), expected)

    def test_callers_are_unknown_under_wine_so_allowed_and_said_once(self):
        for _ in range(2):
            self.assertTrue(pelno_wine.request("GET", "/status").startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertEqual(pelno_wine.request("GET", "/logs").count(
            b"] Caller check unavailable: socket owners are unknown\r\n"), 1)

    def test_run_files_left_by_a_killed_helper_are_removed_at_start(self):
        self.assertFalse(os.path.exists(stale_run_file))

    def test_half_body_then_close_gets_no_response(self):
        with connect() as s:
            s.sendall(b"POST /ping HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345")
            s.shutdown(socket.SHUT_WR)
            self.assertTrue(closed_unanswered(s))


class StormTest(unittest.TestCase):
    def test_every_request_of_a_storm_is_answered(self):
        # Clients connecting at about the same time once made the helper stop accepting.
        for urltest_clients in (0, 2):  # 4 /ping threads, then with two /urltest runs of 12 nodes
            with self.subTest(urltest_clients=urltest_clients):
                tally = pelno_storm.storm(STORM_SECONDS, ping_clients=4, urltest_clients=urltest_clients)
                report(f"storm with {urltest_clients} /urltest clients: {tally.answered} answered")
                self.assertEqual(tally.unanswered, {"ping": 0, "urltest": 0})


def ended_within(sockets, seconds):
    """The sockets among `sockets` that the server ends (or answers) within `seconds`."""
    started, ended = time.monotonic(), set()
    with selectors.DefaultSelector() as selector:
        for s in sockets:
            selector.register(s, selectors.EVENT_READ)
        while len(ended) < len(sockets) and time.monotonic() < started + seconds:
            ended.update(key.fileobj for key, _ in selector.select(timeout=0.1))
    return ended


class ConnectionLimitTest(unittest.TestCase):
    """A flood of idle connections far past the limit, and bodies past the memory budget."""

    @classmethod
    def setUpClass(cls):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))

    def test_the_oldest_unfinished_connections_make_room(self):
        with contextlib.ExitStack() as stack:
            flood = [stack.enter_context(connect()) for _ in range(HELD_CONNECTIONS)]
            oldest = HELD_CONNECTIONS - MAX_CONNECTIONS
            # Threads accepting side by side may admit neighbours out of order.
            ended = ended_within(flood[:oldest + REORDERED], 5)
            held = [s for s in flood if s not in ended]
            report(f"{len(ended)} of the {oldest} oldest connections closed")
            rss = max(resident_bytes(pid) for pid, _ in processes_under(helper.dir.path, HELPER_EXE))
            report(f"helper resident memory with {HELD_CONNECTIONS} connections: {rss / 1e6:.0f} MB")
            self.assertEqual(sum(closed_unanswered(s) for s in ended), oldest)
            self.assertEqual(sum(still_open(s) for s in held), len(held))
            self.assertLess(rss, MEMORY_LIMIT_BYTES)
            # A new client is answered at once, the flood still held: an oldest idle one makes room.
            asked = time.monotonic()
            self.assertEqual(raw_request(PING, timeout=5), PONG)
            report(f"/ping answered in {time.monotonic() - asked:.3f} s with {MAX_CONNECTIONS} idle connections")
            self.assertLess(time.monotonic() - asked, 2.0)
            self.assertEqual(sum(not still_open(s) for s in held[:REORDERED]), 1)
            self.assertEqual(sum(still_open(s) for s in held[REORDERED:]), len(held) - REORDERED)
        self.assertEqual(pelno_wine.request("GET", "/logs").count(LIMIT_LINE), 1)

    def test_a_body_past_the_memory_budget_is_refused_unread(self):
        # Four bodies of the largest size fill the budget; which of five gets 413 is a race.
        announce = b"POST /start HTTP/1.1\r\nContent-Length: %d\r\n\r\nsome" % BODY_LIMIT
        with contextlib.ExitStack() as stack:
            clients = [stack.enter_context(connect()) for _ in range(5)]
            for s in clients:
                s.sendall(announce)
            [refused] = ended_within(clients, 5)
            self.assertEqual(recv_all(refused), reply("413 Payload Too Large", "request too large"))
            self.assertEqual(sum(still_open(s) for s in clients if s is not refused), 4)


class ResourceLimitTest(unittest.TestCase):
    """A silent client and, at the same time, a slow one sending a byte a second."""

    @classmethod
    def setUpClass(cls):
        cls.slow = connect()
        cls.slow.sendall(b"GET /ping HTTP/1.1\r\nX-Slow: ")
        cls.slow_started, cls.slow_ended = time.monotonic(), None
        cls.slow_thread = threading.Thread(target=cls.trickle, daemon=True)
        cls.slow_thread.start()

    @classmethod
    def trickle(cls):
        give_up = cls.slow_started + REQUEST_DEADLINE_SECONDS + 30
        with cls.slow as s:
            with contextlib.suppress(OSError):
                while still_open(s) and time.monotonic() < give_up:
                    time.sleep(1.0)
                    s.sendall(b"a")
            cls.slow_ended = time.monotonic() - cls.slow_started
            s.settimeout(1.0)
            cls.slow_unanswered = closed_unanswered(s)

    def test_idle_client_is_closed_without_response_after_the_idle_limit(self):
        with connect(timeout=IDLE_LIMIT_SECONDS + 15) as s:
            s.sendall(b"GET /ping HTTP/1.1\r\n")
            started = time.monotonic()
            self.assertTrue(closed_unanswered(s))
            self.assertAlmostEqual(time.monotonic() - started, IDLE_LIMIT_SECONDS, delta=5)

    def test_slow_client_is_dropped_at_the_request_deadline(self):
        self.slow_thread.join()
        report(f"slow client dropped after {self.slow_ended:.1f} s")
        self.assertTrue(self.slow_unanswered)
        self.assertAlmostEqual(self.slow_ended, REQUEST_DEADLINE_SECONDS, delta=3)


if __name__ == "__main__":
    unittest.main()
