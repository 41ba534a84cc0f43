"""The stand-in engine's mixed inbound and controller API under Wine: forwarded
absolute-URI requests, CONNECT tunnels, the totals the controller reports for them,
and a second engine refused on a taken controller port. Uses the controller port 19090."""
import json
import socket
import subprocess
import time
import unittest

import pelno_wine
from pelno_engine import engine_config, free_port
from pelno_wine import port_open, recv_all, split_response
from stand_in_support import EngineDir, OriginServer

CONTROLLER = {"experimental": {"clash_api": {"external_controller": "127.0.0.1:19090"}}}


class ProxyAndControllerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):  # clean-ups run last first
        cls.dir, cls.origin, cls.proxy_port = EngineDir(), OriginServer(), free_port()
        cls.addClassCleanup(pelno_wine.wait_until, lambda: not port_open(19090), 10)
        cls.addClassCleanup(cls.origin.close)
        cls.addClassCleanup(cls.dir.close)
        config = cls.dir.write_config({**json.loads(engine_config(cls.proxy_port)), **CONTROLLER})
        proc = subprocess.Popen(
            [pelno_wine.wine_exec(), cls.dir.file("sing-box.exe"), "run", "-c", config],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        cls.addClassCleanup(proc.wait, 30)
        cls.addClassCleanup(proc.kill)
        assert pelno_wine.wait_until(lambda: proc.poll() is None and port_open(19090)
                                     and port_open(cls.proxy_port), timeout=30), "no stand-in"

    def exchange(self, *messages):
        """Sends (message, answer expected at once) pairs; returns the upload counted."""
        before = self.totals()
        with socket.create_connection(("127.0.0.1", self.proxy_port), timeout=10) as s:
            for message, answer in messages:
                s.sendall(message.encode())
                self.assertEqual(s.recv(len(answer), socket.MSG_WAITALL), answer)
            s.shutdown(socket.SHUT_WR)
            status, _, body = split_response(recv_all(s))
        up, down = (after - b for after, b in zip(self.totals(), before))
        self.assertEqual((status, body), ("HTTP/1.0 200 OK", b"d" * 5000))
        self.assertEqual(self.origin.seen[-1][0], "GET /data HTTP/1.1")
        self.assertGreaterEqual(down, 5000)
        return up, self.origin.seen[-1][1]

    def totals(self):
        status, headers, body = split_response(
            pelno_wine.request("GET", "/connections", port=19090))
        self.assertEqual((status, f"Content-Length: {len(body)}" in headers),
                         ("HTTP/1.1 200 OK", True))
        reply = json.loads(body)
        self.assertEqual(reply["connections"], [])
        return reply["uploadTotal"], reply["downloadTotal"]

    def test_absolute_uri_requests_and_connect_tunnels_are_relayed_and_counted(self):
        target = f"127.0.0.1:{self.origin.port}"
        up, headers = self.exchange((f"GET http://{target}/data HTTP/1.1\r\nHost: {target}\r\n"
                                     "Proxy-Connection: keep-alive\r\nUser-Agent: test\r\n\r\n",
                                     b""))
        self.assertEqual((headers["Connection"], headers["User-Agent"]), ("close", "test"))
        self.assertNotIn("Proxy-Connection", headers)
        self.assertGreater(up, 0)
        request = f"GET /data HTTP/1.1\r\nHost: {target}\r\n\r\n"
        up, _ = self.exchange((f"CONNECT {target} HTTP/1.1\r\nHost: {target}\r\n\r\n",
                               b"HTTP/1.1 200 Connection established\r\n\r\n"), (request, b""))
        self.assertEqual(up, len(request))  # the tunnel counts exactly what went through it

    def test_traffic_stream_sends_a_sample_at_once_then_one_a_second_and_stays_open(self):
        with socket.create_connection(("127.0.0.1", 19090), timeout=5) as s:
            s.sendall(b"GET /traffic HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            data, started = b"", time.monotonic()
            while data.partition(b"\r\n\r\n")[2].count(b"\n") < 2:
                data += s.recv(4096)
            head, _, body = data.partition(b"\r\n\r\n")
            self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"))
            self.assertNotIn(b"Content-Length", head)
            for line in body.splitlines():
                self.assertEqual(sorted(json.loads(line)), ["down", "up"])
            self.assertGreater(time.monotonic() - started, 0.5)  # the second a second later
            s.settimeout(0.3)
            with self.assertRaises(socket.timeout):  # still open: the stream never ends
                while s.recv(4096):
                    pass

    def test_second_engine_on_the_same_controller_port_fails(self):
        result = self.dir.run("run", "-c", self.dir.write_config(CONTROLLER, name="second.json"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"controller API", result.stderr)


if __name__ == "__main__":
    unittest.main()
