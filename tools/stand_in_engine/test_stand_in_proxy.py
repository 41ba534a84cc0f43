"""The stand-in engine's mixed inbound and controller API under Wine: forwarded
absolute-URI requests, CONNECT tunnels, the totals the controller reports for them,
and a second engine refused on a taken controller port. Uses the controller port 19090."""
import json
import socket
import subprocess
import unittest

import pelno_wine
from stand_in_support import EngineDir, OriginServer, free_port

CONTROLLER_PORT = 19090


def controller_get(path):
    return pelno_wine.split_response(
        pelno_wine.request("GET", path, port=CONTROLLER_PORT, timeout=10))


class ProxyAndControllerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = EngineDir()
        cls.origin = OriginServer(data_size=5000)
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
            status, _, body = pelno_wine.split_response(pelno_wine.recv_all(s))
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
            status, _, body = pelno_wine.split_response(pelno_wine.recv_all(s))
        self.assertEqual(status, "HTTP/1.0 200 OK")
        self.assertEqual(body, b"d" * 5000)
        self.assertEqual(self.origin.seen[-1][0], "GET /data HTTP/1.1")
        up_after, down_after = self.totals()
        self.assertEqual(up_after - up_before, len(request))
        self.assertGreaterEqual(down_after - down_before, 5000)

    def test_3_second_engine_on_the_same_controller_port_fails(self):
        config = self.dir.write_config({
            "experimental": {"clash_api": {"external_controller": f"127.0.0.1:{CONTROLLER_PORT}"}},
        }, name="second.json")
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"controller API", result.stderr)


if __name__ == "__main__":
    unittest.main()
