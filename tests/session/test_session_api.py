"""The helper's session endpoints against the stand-in engine, under Wine."""
import json
import re
import threading
import unittest

import pelno_engine
import pelno_registry
import pelno_wine
from pelno_wine import request, split_response, wait_until

USER_SERVER = "user.proxy.example:3128"
USER_OVERRIDE = "*.corp.example;<local>"


def reply_of(raw):
    status, headers, body = split_response(raw)
    assert status == "HTTP/1.1 200 OK", status
    assert "Content-Type: application/json" in headers, headers
    return json.loads(body)


def post(path, body=b""):
    return reply_of(request("POST", path, body))


def logs():
    return split_response(request("GET", "/logs"))[2].decode("utf-8", "replace")


class SessionApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pelno_registry.set_user_proxy(0, USER_SERVER, USER_OVERRIDE)
        cls.helper = pelno_wine.HelperProcess(with_engine=True)
        cls.dir = cls.helper.dir.path

    @classmethod
    def tearDownClass(cls):
        cls.helper.stop()
        pelno_registry.clear_proxy_values()

    def tearDown(self):
        post("/stop")
        self.assertEqual(self.user_settings_now(), self.user_settings())

    def user_settings(self):
        return {"ProxyEnable": ("REG_DWORD", 0), "ProxyServer": ("REG_SZ", USER_SERVER),
                "ProxyOverride": ("REG_SZ", USER_OVERRIDE)}

    def user_settings_now(self):
        return pelno_registry.read_proxy_values()

    def engines(self):
        return pelno_engine.engine_processes(self.dir)

    def test_proxy_start_points_the_system_proxy_at_the_mixed_inbound(self):
        port = pelno_engine.free_port()
        reply = post("/start", pelno_engine.engine_config(mixed_port=port))
        self.assertEqual(reply, {"status": "connected", "platform": "windows",
                                 "message": "Windows helper connected"})
        values = pelno_registry.read_proxy_values()
        self.assertEqual(values["ProxyEnable"], ("REG_DWORD", 1))
        self.assertEqual(values["ProxyServer"][1],
                         f"http=127.0.0.1:{port};https=127.0.0.1:{port};socks=127.0.0.1:{port}")
        self.assertEqual(values["ProxyOverride"][1], "localhost;127.0.0.1;<local>")
        self.assertEqual(len(self.engines()), 1)
        self.assertEqual(reply_of(request("GET", "/status"))["message"], "Windows helper running")
        self.assertTrue(logs().endswith("] VPN started through PelnoVpnHelper\r\n"))

    def test_tun_start_over_a_proxy_session_restores_proxy_and_replaces_engine(self):
        post("/start", pelno_engine.engine_config(mixed_port=pelno_engine.free_port()))
        first = self.engines()
        self.assertEqual(len(first), 1)
        before = logs()
        reply = post("/start-tun", pelno_engine.engine_config())
        self.assertEqual(reply, {"status": "connected", "platform": "windows",
                                 "message": "Windows TUN helper connected"})
        self.assertEqual(self.user_settings_now(), self.user_settings())
        self.assertTrue(wait_until(lambda: first[0] not in self.engines(), timeout=5))
        self.assertEqual(len(self.engines()), 1)
        added = logs()[len(before):]
        self.assertRegex(added, r"^\[[-0-9: ]{19}\] TUN VPN started through "
                                r"PelnoVpnHelperService\r\n$")

    def test_rejected_config_reports_engine_output_logs_it_and_leaves_proxy_alone(self):
        config = pelno_engine.engine_config(
            mixed_port=pelno_engine.free_port(),
            stand_in={"stderr": "FATAL decode config: unknown field \"x\"", "exit_code": 1})
        reply = post("/start", config)
        message = 'sing-box.exe exited immediately: FATAL decode config: unknown field "x"'
        self.assertEqual(reply, {"status": "disconnected", "platform": "windows",
                                 "message": message})
        self.assertTrue(logs().endswith("] " + message + "\r\n"))
        self.assertEqual(self.user_settings_now(), self.user_settings())
        self.assertEqual(self.engines(), [])

    def test_an_engine_that_dies_takes_the_system_proxy_with_it(self):
        post("/start", pelno_engine.engine_config(mixed_port=pelno_engine.free_port(),
                                                  stand_in={"exit_after_ms": 1500,
                                                            "exit_code": 7}))
        self.assertEqual(reply_of(request("GET", "/status"))["status"], "connected")
        self.assertEqual(pelno_registry.read_proxy_values()["ProxyEnable"], ("REG_DWORD", 1))
        self.assertTrue(wait_until(lambda: self.user_settings_now() == self.user_settings(),
                                   timeout=10))
        self.assertTrue(logs().endswith(
            "] sing-box.exe exited unexpectedly (exit code 7); system proxy restored\r\n"))
        self.assertEqual(reply_of(request("GET", "/status"))["message"], "Windows helper idle")

    def test_overlapping_requests_leave_a_consistent_state(self):
        configs = [pelno_engine.engine_config(mixed_port=pelno_engine.free_port())
                   for _ in range(3)]
        errors = []

        def client(i):
            try:
                for j in range(3):
                    path = ("/start", "/start-tun", "/stop")[(i + j) % 3]
                    body = configs[i] if path != "/stop" else b""
                    reply = post(path, body)
                    if reply["status"] == "disconnected" and path != "/stop":
                        errors.append(reply["message"])
                    reply_of(request("GET", "/status"))
            except Exception as e:  # noqa: BLE001 - reported below
                errors.append(repr(e))

        threads = [threading.Thread(target=client, args=(i,)) for i in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        self.assertEqual(errors, [])
        self.assertLessEqual(len(self.engines()), 1)
        post("/stop")
        self.assertTrue(wait_until(lambda: not self.engines(), timeout=5))
        self.assertEqual(self.user_settings_now(), self.user_settings())


if __name__ == "__main__":
    unittest.main()
