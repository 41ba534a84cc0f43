"""The helper's session endpoints against the stand-in engine, under Wine: the real
registry, the real engine processes and the replies."""
import os
import unittest

import pelno_wine
from pelno_engine import engine_config, engine_processes, free_port
from pelno_registry import read_proxy_values, write_proxy_values
from pelno_wine import call, request, wait_until

# The user's settings: no ProxyEnable, an expandable ProxyServer, an empty ProxyOverride.
# Every stop must give them back exactly: absent stays absent, empty stays empty, and
# the expandable string comes back unexpanded (as REG_SZ).
USER = {"ProxyServer": ("REG_EXPAND_SZ", "%COMPUTERNAME%:3128"), "ProxyOverride": ("REG_SZ", "")}
RESTORED = {**USER, "ProxyServer": ("REG_SZ", "%COMPUTERNAME%:3128")}


class SessionApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.helper = pelno_wine.HelperProcess(with_engine=True)
        cls.addClassCleanup(write_proxy_values, {})
        cls.addClassCleanup(cls.helper.stop)

    def setUp(self):
        write_proxy_values(USER)

    def tearDown(self):
        call("POST", "/stop")
        self.assertTrue(wait_until(lambda: not self.engines(), timeout=5))
        self.assertEqual(read_proxy_values(), RESTORED)

    def engines(self):
        return engine_processes(self.helper.dir.path)

    def test_proxy_start_then_tun_start_then_a_start_the_engine_rejects(self):
        port = free_port()
        mixed = f"127.0.0.1:{port}"
        proxy = {"ProxyEnable": ("REG_DWORD", 1),
                 "ProxyServer": ("REG_SZ", f"http={mixed};https={mixed};socks={mixed}"),
                 "ProxyOverride": ("REG_SZ", "localhost;127.0.0.1;<local>")}
        fatal = 'FATAL decode config: unknown field "x"'
        for path, config, status, message, values, engines, now in (
                ("/start", engine_config(port), "connected", "Windows helper connected", proxy, 1,
                 "running"),
                # The TUN session puts the user's proxy back and replaces the engine.
                ("/start-tun", engine_config(), "connected", "Windows TUN helper connected",
                 RESTORED, 1, "running"),
                ("/start", engine_config(free_port(), exit_code=1, stderr=fatal), "disconnected",
                 "sing-box.exe exited immediately: " + fatal, RESTORED, 0, "idle")):
            before = set(self.engines())
            config = config.replace("\n", "\r\n").encode()
            self.assertEqual(call("POST", path, config), {"status": status, "platform": "windows", "message": message})
            # Written byte for byte, line ends kept, a longer earlier file cut.
            with open(os.path.join(pelno_wine.data_dir(), "sing-box.json"), "rb") as written:
                self.assertEqual(written.read(), config)
            self.assertEqual(read_proxy_values(), values, path)
            self.assertTrue(wait_until(lambda: not before & set(self.engines()), timeout=5))
            self.assertEqual(len(self.engines()), engines, path)
            self.assertEqual(call("GET", "/status")["message"], "Windows helper " + now)
        self.assertIn(b"] VPN started through PelnoVpnHelper\r\n", request("GET", "/logs"))


if __name__ == "__main__":
    unittest.main()
