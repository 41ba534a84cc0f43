"""The control server against the helper program running under Wine: the bytes it
answers with, its read loop, a storm of clients, and the bounds that a flood of
connections meets."""
import contextlib
import functools
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
MEMORY_LIMIT_BYTES = 300 * 1000 * 1000
STORM_SECONDS = 4
LIMIT_LINE = b"] Control connections at the limit of 256; new connections are closed\r\n"


def setUpModule():
    global helper
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


def pings():
    try:
        return raw_request(PING, timeout=5) == PONG
    except ConnectionResetError:
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

    def test_logs_hold_the_start_line(self):
        self.assertRegex(pelno_wine.request("GET", "/logs"),
                         rb"\r\n\r\n\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] PelnoVpnHelper started\r\n")

    def test_half_body_then_close_gets_no_response(self):
        with connect() as s:
            s.sendall(b"POST /ping HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345")
            s.shutdown(socket.SHUT_WR)
            self.assertTrue(closed_unanswered(s))

    def test_silent_client_does_not_delay_another(self):
        with connect() as silent:
            started = time.monotonic()
            self.assertTrue(pings())
            self.assertLess(time.monotonic() - started, 2.0)
            self.assertTrue(still_open(silent))


class StormTest(unittest.TestCase):
    def test_every_request_of_a_storm_is_answered(self):
        # Clients connecting at about the same time once made the helper stop accepting.
        for urltest_clients in (0, 2):  # 4 /ping threads, then with two /urltest runs of 12 nodes
            with self.subTest(urltest_clients=urltest_clients):
                tally = pelno_storm.storm(STORM_SECONDS, ping_clients=4, urltest_clients=urltest_clients)
                report(f"storm with {urltest_clients} /urltest clients: {tally.answered} answered")
                self.assertEqual(tally.unanswered, {"ping": 0, "urltest": 0})


class ResourceLimitTest(unittest.TestCase):
    """A flood of held connections, a silent client and a slow client, at the same time.
    The slow client, sending one byte a second, holds the first of the connection places."""

    @classmethod
    def setUpClass(cls):
        time.sleep(0.5)  # connections of earlier tests have ended
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
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

    def test_a_flood_is_held_to_the_connection_limit(self):
        with contextlib.ExitStack() as stack:
            flood = [stack.enter_context(connect()) for _ in range(HELD_CONNECTIONS - 1)]
            opened = time.monotonic()
            held, refused = flood[:MAX_CONNECTIONS - 1], flood[MAX_CONNECTIONS - 1:]
            with selectors.DefaultSelector() as selector:
                for s in refused:
                    selector.register(s, selectors.EVENT_READ)
                ended = set()
                while len(ended) < len(refused) and time.monotonic() < opened + 5:
                    ended.update(key.fileobj for key, _ in selector.select(timeout=0.1))
            report(f"{len(ended)} of {len(refused)} connections past the limit ended within "
                   f"{time.monotonic() - opened:.2f} s")
            rss = max(resident_bytes(pid) for pid, cmdline in processes_under(helper.dir.path)
                      if HELPER_EXE in cmdline)
            report(f"helper resident memory with {HELD_CONNECTIONS} connections: "
                   f"{rss / 1e6:.0f} MB")
            self.assertEqual(sum(closed_unanswered(s) for s in ended), len(refused))
            self.assertEqual(sum(still_open(s) for s in held), len(held))
            self.assertLess(rss, MEMORY_LIMIT_BYTES)
        released = time.monotonic()
        while not pings():
            self.assertLess(time.monotonic() - released, 2.0, "/ping refused after the release")
        report(f"/ping answered {time.monotonic() - released:.3f} s after the release")
        self.assertEqual(pelno_wine.request("GET", "/logs").count(LIMIT_LINE), 1)

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
