"""The stand-in engine's mixed inbound and controller API under Wine: forwarded
absolute-URI requests, CONNECT tunnels, and the totals and rates the controller
reports for them. Uses the controller port 19090."""
import json
import socket
import subprocess
import time
import unittest

import pelno_wine
from stand_in_support import EchoServer, EngineDir, OriginServer, free_port

CONTROLLER_PORT = 19090


def read_until_closed(sock):
    return pelno_wine.recv_all(sock)


def controller_get(path):
    raw = pelno_wine.request("GET", path, port=CONTROLLER_PORT, timeout=10)
    status, headers, body = pelno_wine.split_response(raw)
    return status, headers, body


class ProxyAndControllerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = EngineDir()
        cls.origin = OriginServer(data_size=5000)
        cls.echo = EchoServer()
        cls.proxy_port = free_port()
        config = cls.dir.write_config({
            "inbounds": [{"type": "mixed", "tag": "pelno-vpn-mixed", "listen": "127.0.0.1",
                          "listen_port": cls.proxy_port}],
            "outbounds": [{"type": "direct", "tag": "direct"}],
            "experimental": {"clash_api": {"external_controller": f"127.0.0.1:{CONTROLLER_PORT}"}},
        })
        cls.config = config
        cls.proc = cls.dir.start(cls.dir.run_args(config), stderr=subprocess.PIPE)
        up = pelno_wine.wait_until(
            lambda: cls.proc.poll() is None and pelno_wine.port_open(cls.proxy_port)
            and pelno_wine.port_open(CONTROLLER_PORT), timeout=30)
        if not up:
            err = b"" if cls.proc.poll() is None else cls.proc.stderr.read()
            cls.tearDownClass()
            raise RuntimeError(f"stand-in engine did not start: {err!r}")

    @classmethod
    def tearDownClass(cls):
        cls.dir.close()
        cls.proc.stderr.close()
        cls.origin.close()
        cls.echo.close()
        pelno_wine.wait_until(lambda: not pelno_wine.port_open(CONTROLLER_PORT), timeout=10)

    def totals(self):
        status, headers, body = controller_get("/connections")
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertIn(f"Content-Length: {len(body)}", headers)
        reply = json.loads(body)
        self.assertEqual(reply["connections"], [])
        return reply["uploadTotal"], reply["downloadTotal"]

    def proxy_socket(self):
        return socket.create_connection(("127.0.0.1", self.proxy_port), timeout=10)

    def test_1_absolute_uri_request_is_forwarded_in_origin_form(self):
        up_before, down_before = self.totals()
        with self.proxy_socket() as s:
            s.sendall(f"GET {self.origin.url('/data')} HTTP/1.1\r\n"
                      f"Host: 127.0.0.1:{self.origin.port}\r\n"
                      "Proxy-Connection: keep-alive\r\nUser-Agent: test\r\n\r\n".encode())
            status, _, body = pelno_wine.split_response(read_until_closed(s))
        self.assertEqual(status, "HTTP/1.0 200 OK")
        self.assertEqual(body, b"d" * 5000)
        line, headers = self.origin.seen[-1]
        self.assertEqual(line, "GET /data HTTP/1.1")
        self.assertEqual(headers["Connection"], "close")
        self.assertNotIn("Proxy-Connection", headers)
        self.assertEqual(headers["User-Agent"], "test")
        up_after, down_after = self.totals()
        self.assertGreaterEqual(down_after - down_before, 5000)
        self.assertGreater(up_after - up_before, 0)

    def test_2_connect_tunnel_relays_both_ways(self):
        up_before, down_before = self.totals()
        with self.proxy_socket() as s:
            s.sendall(f"CONNECT 127.0.0.1:{self.origin.port} HTTP/1.1\r\n"
                      f"Host: 127.0.0.1:{self.origin.port}\r\n\r\n".encode())
            reply = b""
            while b"\r\n\r\n" not in reply:
                chunk = s.recv(4096)
                self.assertTrue(chunk, reply)
                reply += chunk
            self.assertTrue(reply.startswith(b"HTTP/1.1 200 "), reply)
            request = f"GET /data HTTP/1.1\r\nHost: 127.0.0.1:{self.origin.port}\r\n\r\n".encode()
            s.sendall(request)
            s.shutdown(socket.SHUT_WR)
            status, _, body = pelno_wine.split_response(read_until_closed(s))
        self.assertEqual(status, "HTTP/1.0 200 OK")
        self.assertEqual(body, b"d" * 5000)
        self.assertEqual(self.origin.seen[-1][0], "GET /data HTTP/1.1")
        up_after, down_after = self.totals()
        self.assertEqual(up_after - up_before, len(request))
        self.assertGreaterEqual(down_after - down_before, 5000)

    def test_3_bad_requests_get_errors(self):
        with self.proxy_socket() as s:
            s.sendall(b"GET /data HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertTrue(read_until_closed(s).startswith(b"HTTP/1.1 400 "))
        with self.proxy_socket() as s:
            s.sendall(f"CONNECT 127.0.0.1:{free_port()} HTTP/1.1\r\n\r\n".encode())
            self.assertTrue(read_until_closed(s).startswith(b"HTTP/1.1 502 "))
        status, _, _ = controller_get("/version")
        self.assertEqual(status, "HTTP/1.1 404 Not Found")

    def test_4_traffic_streams_rates_of_relayed_bytes(self):
        stream = socket.create_connection(("127.0.0.1", CONTROLLER_PORT), timeout=10)
        self.addCleanup(stream.close)
        t0 = time.monotonic()
        stream.sendall(b"GET /traffic HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        buffered = b""
        times = []

        def next_line():
            nonlocal buffered
            while b"\n" not in buffered.partition(b"\r\n\r\n")[2]:
                chunk = stream.recv(4096)
                self.assertTrue(chunk, "traffic stream closed")
                buffered += chunk
            head, _, body = buffered.partition(b"\r\n\r\n")
            line, _, rest = body.partition(b"\n")
            buffered = head + b"\r\n\r\n" + rest
            times.append(time.monotonic())
            return json.loads(line)

        first = next_line()
        self.assertTrue(buffered.startswith(b"HTTP/1.1 200 OK\r\n"), buffered)
        self.assertEqual(set(first), {"up", "down"})
        second = next_line()
        self.assertEqual(set(second), {"up", "down"})
        # The first sample comes at once, the next one a second later.
        self.assertLess(times[0] - t0, times[1] - times[0])

        # Keep a tunnel busy for three seconds; the stream must show both directions.
        tunnel = self.proxy_socket()
        self.addCleanup(tunnel.close)
        tunnel.sendall(f"CONNECT 127.0.0.1:{self.echo.port} HTTP/1.1\r\n\r\n".encode())
        self.assertTrue(tunnel.recv(4096).startswith(b"HTTP/1.1 200 "))
        payload = b"x" * 20000
        seen = []
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            tunnel.sendall(payload)
            got = 0
            while got < len(payload):
                chunk = tunnel.recv(65536)
                self.assertTrue(chunk)
                got += len(chunk)
            time.sleep(0.1)
        for _ in range(2):
            seen.append(next_line())
        busy = [s for s in seen if s["up"] > 0 and s["down"] > 0]
        self.assertTrue(busy, seen)
        self.assertGreaterEqual(max(s["up"] for s in busy), 20000, seen)

    def test_5_second_engine_on_the_same_controller_port_fails(self):
        config = self.dir.write_config({
            "experimental": {"clash_api": {"external_controller": f"127.0.0.1:{CONTROLLER_PORT}"}},
        }, name="second.json")
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"controller API", result.stderr)


if __name__ == "__main__":
    unittest.main()
