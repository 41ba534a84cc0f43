"""GET /traffic-snapshot against the helper and the stand-in engine under Wine: the
engine's own figures after real traffic, the socket tables, and
snapshots taken while sessions stop."""
import concurrent.futures
import json
import socket
import time
import unittest

import pelno_wine
from pelno_engine import engine_config, engine_processes, free_port, serve_origin
from pelno_wine import call, request, split_response, wait_until

KEYS = ["uploadBytesPerSecond", "downloadBytesPerSecond", "uploadTotalBytes", "downloadTotalBytes", "processes"]


def controller(path):
    """The first JSON object the engine's controller answers (the /traffic stream never ends)."""
    with socket.create_connection(("127.0.0.1", 19090), timeout=5) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
        data = b""
        while b"}" not in data.partition(b"\r\n\r\n")[2]:
            data += s.recv(4096)
        body = data.partition(b"\r\n\r\n")[2]
        return json.loads(body[:body.index(b"}") + 1])


class TrafficSnapshotTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.origin_port = serve_origin(cls, b"d" * 5000)
        cls.helper = pelno_wine.HelperProcess(with_engine=True)
        cls.addClassCleanup(cls.helper.stop)

    def tearDown(self):
        request("POST", "/stop")
        self.assertTrue(wait_until(lambda: not engine_processes(self.helper.dir.path), 5))

    def relay(self, proxy_port):
        target = f"127.0.0.1:{self.origin_port}"
        ask = f"GET http://{target}/data HTTP/1.1\r\nHost: {target}\r\n\r\n".encode()
        self.assertEqual(split_response(pelno_wine.raw_request(ask, proxy_port))[2], b"d" * 5000)

    # The totals are the engine's /connections figures after real traffic, the rates its
    # first /traffic sample.
    def test_figures_come_from_the_engine(self):
        proxy_port = free_port()
        request("POST", "/start-tun", engine_config(proxy_port, "127.0.0.1:19090"))
        for _ in range(5):
            self.relay(proxy_port)
            time.sleep(1.2)  # a rate tick has counted the relay
            before = controller("/traffic")
            taken = call("GET", "/traffic-snapshot")
            if before == controller("/traffic") and before["up"] > 0:
                break
        self.assertEqual(list(taken), KEYS)
        totals = controller("/connections")
        self.assertEqual([taken[k] for k in KEYS[:4]],
                         [before["up"], before["down"], totals["uploadTotal"], totals["downloadTotal"]])
        self.assertGreaterEqual(totals["downloadTotal"], 5000)

    def test_controller_disabled_gives_zeros_and_the_socket_tables_still_count(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as bound:
            bound.bind(("127.0.0.2", 0))
            host = f"127.0.0.2:{bound.getsockname()[1]}"
            request("POST", "/start-tun", engine_config(free_port(), controller=""))
            taken = call("GET", "/traffic-snapshot")
        self.assertEqual([taken[k] for k in KEYS[:4]], [0, 0, 0, 0])
        entries = [e for e in taken["processes"] if e["host"] == host]
        self.assertEqual([(e["method"], e["policy"], e["status"]) for e in entries], [("UDP", "Proxy", "Active")])

    def test_snapshots_while_sessions_start_and_stop_are_always_whole(self):
        config = engine_config(free_port(), "127.0.0.1:19090")
        deadline = time.monotonic() + 4

        def snapshots():
            count = 0
            while time.monotonic() < deadline:
                self.assertEqual(list(call("GET", "/traffic-snapshot")), KEYS)
                count += 1
            return count

        def sessions():
            while time.monotonic() < deadline:
                request("POST", "/start-tun", config)
                request("POST", "/stop")

        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            taken = [pool.submit(snapshots), pool.submit(snapshots), pool.submit(sessions)]
            self.assertGreater(taken[0].result() + taken[1].result(), 0)
            taken[2].result()


if __name__ == "__main__":
    unittest.main()
