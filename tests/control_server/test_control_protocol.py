"""The control server's wire protocol, against the helper program running under Wine."""
import http.client
import re
import socket
import subprocess
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
HEADER_LIMIT = 1048576
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


class RoutingTest(unittest.TestCase):
    def test_ping_exact_bytes_then_close(self):
        self.assertEqual(raw_request(b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1:17891\r\n\r\n"), PONG)

    def test_query_string_is_part_of_the_path(self):
        self.assertEqual(raw_request(b"GET /ping?x=1 HTTP/1.1\r\n\r\n"), NOT_FOUND)

    def test_method_is_case_sensitive(self):
        self.assertEqual(raw_request(b"get /ping HTTP/1.1\r\n\r\n"), NOT_FOUND)

    def test_known_path_with_other_method_is_404(self):
        self.assertEqual(pelno_wine.request("POST", "/ping", b"x"), NOT_FOUND)

    def test_logs_hold_the_start_line(self):
        status, headers, body = pelno_wine.split_response(pelno_wine.request("GET", "/logs"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers[0], "Content-Type: text/plain")
        self.assertEqual(headers[1], f"Content-Length: {len(body)}")
        self.assertRegex(body, STARTED_LINE)

    def test_http_client_reads_logs(self):
        conn = http.client.HTTPConnection("127.0.0.1", CONTROL_PORT, timeout=10)
        try:
            conn.request("GET", "/logs")
            response = conn.getresponse()
            self.assertEqual(response.status, 200)
            self.assertEqual(response.reason, "OK")
            self.assertEqual(response.getheader("Content-Type"), "text/plain")
            self.assertEqual(response.getheader("Connection"), "close")
            self.assertRegex(response.read(), STARTED_LINE)
        finally:
            conn.close()

    def test_curl_gets_pong(self):
        out = subprocess.run(["curl", "-sS", "-i", "--max-time", "10",
                              f"http://127.0.0.1:{CONTROL_PORT}/ping"],
                             capture_output=True, check=True).stdout
        self.assertEqual(out, PONG)


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


if __name__ == "__main__":
    unittest.main()
