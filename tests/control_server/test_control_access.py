"""Requests a browser page could make are refused: any Origin, or a Host that is not loopback."""
import subprocess
import unittest

import pelno_wine
from pelno_wine import CONTROL_PORT, raw_request

FORBIDDEN = (b"HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
             b"Connection: close\r\n\r\nforbidden")

helper = None


def setUpModule():
    global helper
    helper = pelno_wine.HelperProcess()


def tearDownModule():
    helper.stop()


def ping_with(header_lines):
    return raw_request(b"GET /ping HTTP/1.1\r\n" + b"".join(l + b"\r\n" for l in header_lines)
                       + b"\r\n")


class AccessTest(unittest.TestCase):
    def test_origin_header_is_refused_with_exact_bytes(self):
        self.assertEqual(ping_with([b"Host: 127.0.0.1:17891", b"Origin: http://127.0.0.1"]),
                         FORBIDDEN)

    def test_foreign_host_is_refused(self):
        for host in (b"evil.example", b"evil.example:17891", b"127.0.0.1.evil.example", b"[::1]:17891"):
            with self.subTest(host=host):
                self.assertEqual(ping_with([b"Host: " + host]), FORBIDDEN)

    def test_refused_post_never_reaches_a_route(self):
        reply = pelno_wine.request("POST", "/stop", headers={"Origin": "https://evil.example"})
        self.assertEqual(reply, FORBIDDEN)

    def test_loopback_hosts_and_no_host_are_served(self):
        for lines in ([b"Host: localhost:17891"], [b"Host: 127.0.0.1"], [b"host: LOCALHOST"], [],
                      [b"Host: 127.0.0.1:17891", b"X-Origin-Trace: abc"]):
            with self.subTest(lines=lines):
                self.assertTrue(ping_with(lines).startswith(b"HTTP/1.1 200 OK\r\n"))

    def test_curl_with_origin_is_refused(self):
        out = subprocess.run(["curl", "-sS", "-i", "--max-time", "10", "-H",
                              "Origin: http://evil.example", f"http://127.0.0.1:{CONTROL_PORT}/ping"],
                             capture_output=True, check=True).stdout
        self.assertEqual(out, FORBIDDEN)


if __name__ == "__main__":
    unittest.main()
