"""The control server against the helper program running under Wine: its wire protocol,
the refusal of requests a browser page could make, and independent connections."""
import re
import socket
import time
import unittest

import pelno_wine
from pelno_wine import CONTROL_PORT, raw_request, recv_all

PONG = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n"
        b"Connection: close\r\n\r\npong")
NOT_FOUND = (b"HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
             b"Connection: close\r\n\r\nnot found")
TOO_LARGE = (b"HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\n"
             b"Content-Length: 17\r\nConnection: close\r\n\r\nrequest too large")
FORBIDDEN = (b"HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
             b"Connection: close\r\n\r\nforbidden")
HEADER_LIMIT = 1048576
IDLE_LIMIT_SECONDS = 30
STARTED_LINE = re.compile(rb"\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] PelnoVpnHelper started\r\n")

helper = None


def setUpModule():
    global helper
    helper = pelno_wine.HelperProcess()


def tearDownModule():
    helper.stop()


def connect(timeout=10.0):
    return socket.create_connection(("127.0.0.1", CONTROL_PORT), timeout=timeout)


def unfinished_header(size):
    """`size` bytes of a GET /ping header block without its blank line."""
    head = b"GET /ping HTTP/1.1\r\nX-Fill: "
    return head + b"a" * (size - len(head))


def ping_with(header_lines):
    return raw_request(b"GET /ping HTTP/1.1\r\n" + b"".join(l + b"\r\n" for l in header_lines)
                       + b"\r\n")


class RoutingTest(unittest.TestCase):
    def test_ping_exact_bytes_then_close(self):
        self.assertEqual(raw_request(b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1:17891\r\n\r\n"), PONG)

    def test_query_string_lower_case_method_and_other_method_are_404(self):
        for request in (b"GET /ping?x=1 HTTP/1.1\r\n\r\n", b"get /ping HTTP/1.1\r\n\r\n",
                        b"POST /ping HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"):
            with self.subTest(request=request):
                self.assertEqual(raw_request(request), NOT_FOUND)

    def test_logs_hold_the_start_line(self):
        status, headers, body = pelno_wine.split_response(pelno_wine.request("GET", "/logs"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers, ["Content-Type: text/plain", f"Content-Length: {len(body)}",
                                   "Connection: close"])
        self.assertRegex(body, STARTED_LINE)


class AssemblyTest(unittest.TestCase):
    def test_request_arriving_byte_by_byte(self):
        with connect() as s:
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for byte in b"GET /ping HTTP/1.1\r\nHost: localhost\r\n\r\n":
                s.sendall(bytes([byte]))
                time.sleep(0.002)
            self.assertEqual(recv_all(s), PONG)

    def test_half_body_then_close_gets_no_response(self):
        with connect() as s:
            s.sendall(b"POST /ping HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(recv_all(s), b"")

    def test_body_beyond_content_length_is_ignored(self):
        self.assertEqual(raw_request(b"GET /ping HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef"), PONG)

    def test_header_past_the_limit_gets_413(self):
        with connect(timeout=30) as s:
            s.sendall(unfinished_header(HEADER_LIMIT + 1))
            self.assertEqual(recv_all(s), TOO_LARGE)

    def test_header_of_exactly_the_limit_keeps_waiting(self):
        with connect(timeout=30) as s:
            s.sendall(unfinished_header(HEADER_LIMIT))
            s.settimeout(1.0)
            with self.assertRaises(socket.timeout):
                s.recv(1)
            s.settimeout(30)
            # The header block is exactly at the limit, so it is still served.
            s.sendall(b"\r\n\r\n")
            self.assertEqual(recv_all(s), PONG)

    def test_content_length_above_64_mib_is_refused_before_the_body(self):
        with connect() as s:
            started = time.monotonic()
            s.sendall(b"POST /start HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n")
            self.assertEqual(recv_all(s), TOO_LARGE)
            self.assertLess(time.monotonic() - started, 5)


class AccessTest(unittest.TestCase):
    def test_any_origin_or_a_foreign_host_is_refused(self):
        for lines in ([b"Host: 127.0.0.1:17891", b"Origin: http://127.0.0.1"],
                      [b"Host: evil.example"], [b"Host: evil.example:17891"],
                      [b"Host: 127.0.0.1.evil.example"], [b"Host: [::1]:17891"]):
            with self.subTest(lines=lines):
                self.assertEqual(ping_with(lines), FORBIDDEN)
        reply = pelno_wine.request("POST", "/stop", headers={"Origin": "https://evil.example"})
        self.assertEqual(reply, FORBIDDEN)

    def test_loopback_hosts_and_no_host_are_served(self):
        for lines in ([b"Host: localhost:17891"], [b"Host: 127.0.0.1"], [b"host: LOCALHOST"], [],
                      [b"Host: 127.0.0.1:17891", b"X-Origin-Trace: abc"]):
            with self.subTest(lines=lines):
                self.assertTrue(ping_with(lines).startswith(b"HTTP/1.1 200 OK\r\n"))


class ConnectionTest(unittest.TestCase):
    def test_silent_client_does_not_delay_another(self):
        with socket.create_connection(("127.0.0.1", CONTROL_PORT), timeout=10) as silent:
            started = time.monotonic()
            self.assertTrue(pelno_wine.request("GET", "/ping", timeout=5).endswith(b"\r\n\r\npong"))
            self.assertLess(time.monotonic() - started, 2.0)
            silent.settimeout(0.5)
            with self.assertRaises(socket.timeout):  # still open, still waiting for its request
                silent.recv(1)

    def test_silent_client_is_closed_without_response_after_the_idle_limit(self):
        with socket.create_connection(("127.0.0.1", CONTROL_PORT), timeout=10) as s:
            s.sendall(b"GET /ping HTTP/1.1\r\n")
            started = time.monotonic()
            s.settimeout(IDLE_LIMIT_SECONDS + 15)
            self.assertEqual(recv_all(s), b"")
            elapsed = time.monotonic() - started
        self.assertGreater(elapsed, IDLE_LIMIT_SECONDS - 1)
        self.assertLess(elapsed, IDLE_LIMIT_SECONDS + 10)


if __name__ == "__main__":
    unittest.main()
