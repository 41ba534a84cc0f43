"""Connections are independent, and one that goes silent is dropped after the idle limit."""
import socket
import time
import unittest

import pelno_wine
from pelno_wine import CONTROL_PORT, recv_all

IDLE_LIMIT_SECONDS = 30

helper = None


def setUpModule():
    global helper
    helper = pelno_wine.HelperProcess()


def tearDownModule():
    helper.stop()


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
