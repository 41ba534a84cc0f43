"""The stand-in engine's command lines under Wine: configuration errors end it with
exit code 1 and the reason, other command lines with exit code 2; the fetch command
makes a real GET through a "direct" outbound, fails cleanly, and follows fetches
scripted per tag."""
import time
import unittest

from pelno_engine import free_port
from stand_in_support import EngineDir, OriginServer


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = EngineDir()
        self.addCleanup(self.dir.close)

    def test_fetch_exit_code_reason_and_requests(self):
        origin = OriginServer()
        self.addCleanup(origin.close)
        config = self.dir.write_config({
            "outbounds": [{"type": "direct", "tag": "direct"},
                          {"type": "vless", "tag": "proxy node", "server": "example.com"}],
            "stand_in": {"fetch": {"slow node": {"delay_ms": 700}, "broken node": {"fail": True},
                                   "late failure": {"delay_ms": 300, "fail": True}}},
        }, name="urltest config.json")
        ok, missing = origin.url("/ok"), origin.url("/missing")
        delays = {"slow node": 0.7, "late failure": 0.3}
        for tag, url, code, reason in (
                ("direct", ok, 0, b""),
                ("direct", origin.url("/generate_204"), 0, b""),
                ("direct", missing, 1, b"HTTP status 404"),
                ("direct", f"http://127.0.0.1:{free_port()}/ok", 1, b"connecting to 127.0.0.1"),
                ("direct", "https://127.0.0.1/ok", 1, b"only http://"),
                ("direct", "not a url", 1, b"only http://"),
                ("no such tag", ok, 1, b"outbound not found"),
                ("proxy node", ok, 1, b"cannot fetch"),
                # Scripted per tag: no outbound needed, no request made.
                ("slow node", missing, 0, b""), ("broken node", ok, 1, b""),
                ("late failure", ok, 1, b"")):
            start = time.monotonic()
            result = self.dir.run("--disable-color", "-c", config, "tools", "-o", tag, "fetch", url)
            self.assertEqual(result.returncode, code, (tag, url, result.stderr))
            self.assertIn(reason, result.stderr, (tag, url))
            self.assertGreaterEqual(time.monotonic() - start, delays.get(tag, 0), tag)
        self.assertEqual([line for line, _ in origin.seen], [
            "GET /ok HTTP/1.1", "GET /generate_204 HTTP/1.1", "GET /missing HTTP/1.1"])
        headers = origin.seen[0][1]
        self.assertEqual((headers["Host"], headers["Connection"]),
                         (f"127.0.0.1:{origin.port}", "close"))

    def test_configuration_errors_exit_1_and_other_command_lines_exit_2(self):
        cases = [(["run", "-c", self.dir.write_config(config, name=f"{i}.json")], 1, reason)
                 for i, (config, reason) in enumerate((
                     ('{"inbounds": [ {"type": "mixed", ', b"invalid configuration"),
                     ("\ufeff{}", b"byte-order mark"),
                     ({"inbounds": [{"type": "mixed", "listen_port": "7897"}]}, b"listen_port"),
                     (None, b"cannot open configuration")))]
        good = self.dir.write_config({}, name="good.json")
        cases += [(args, 2, b"usage: sing-box run -c") for args in (
            [], ["version"], ["run", "-c"], ["run", "-c", good, "-D", "x"],
            ["-c", good, "tools", "-o", "direct", "fetch", "http://x/"])]
        for args, code, reason in cases:
            result = self.dir.run(*args)
            self.assertEqual((result.returncode, result.stdout), (code, b""), args)
            self.assertIn(reason, result.stderr, args)


if __name__ == "__main__":
    unittest.main()
