"""The stand-in engine's command lines under Wine: configuration errors end it with
exit code 1 and the reason, other command lines with exit code 2; the fetch command
makes a real GET through a "direct" outbound, fails cleanly, and follows fetches
scripted per tag."""
import time
import unittest

import pelno_wine
from stand_in_support import EngineDir, OriginServer, free_port


class FetchCommandTest(unittest.TestCase):
    def setUp(self):
        self.dir = EngineDir()
        self.addCleanup(self.dir.close)
        self.origin = OriginServer()
        self.addCleanup(self.origin.close)
        self.config = self.dir.write_config({
            "outbounds": [{"type": "direct", "tag": "direct"},
                          {"type": "vless", "tag": "proxy node", "server": "example.com"}],
            "stand_in": {
                "fetch": {"slow node": {"delay_ms": 700},
                          "broken node": {"fail": True},
                          "late failure": {"delay_ms": 300, "fail": True}},
            },
        }, name="urltest config.json")

    def fetch(self, tag, url):
        return self.dir.run(self.dir.fetch_args(self.config, tag, url))

    def test_fetch_exit_code_reason_and_requests(self):
        ok = self.origin.url("/ok")
        for tag, url, code, reason in (
                ("direct", ok, 0, b""),
                ("direct", self.origin.url("/generate_204"), 0, b""),
                ("direct", self.origin.url("/missing"), 1, b"HTTP status 404"),
                ("direct", f"http://127.0.0.1:{free_port()}/ok", 1, b"connecting to 127.0.0.1"),
                ("direct", "https://127.0.0.1/ok", 1, b"only http://"),
                ("direct", "not a url", 1, b"only http://"),
                ("no such tag", ok, 1, b"outbound not found"),
                ("proxy node", ok, 1, b"cannot fetch")):
            result = self.fetch(tag, url)
            self.assertEqual(result.returncode, code, (tag, url, result.stderr))
            self.assertIn(reason, result.stderr, (tag, url))
        lines = [line for line, _ in self.origin.seen]
        self.assertEqual(lines, ["GET /ok HTTP/1.1", "GET /generate_204 HTTP/1.1",
                                 "GET /missing HTTP/1.1"])
        headers = self.origin.seen[0][1]
        self.assertEqual(headers["Host"], f"127.0.0.1:{self.origin.port}")
        self.assertEqual(headers["Connection"], "close")

    def test_scripted_fetches_need_no_outbound_or_network(self):
        start = time.monotonic()
        self.assertEqual(self.fetch("slow node", self.origin.url("/missing")).returncode, 0)
        self.assertGreaterEqual(time.monotonic() - start, 0.7)
        self.assertEqual(self.fetch("broken node", self.origin.url("/ok")).returncode, 1)
        start = time.monotonic()
        self.assertEqual(self.fetch("late failure", self.origin.url("/ok")).returncode, 1)
        self.assertGreaterEqual(time.monotonic() - start, 0.3)
        self.assertEqual(self.origin.seen, [])


class RunCommandTest(unittest.TestCase):
    def setUp(self):
        self.dir = EngineDir()
        self.addCleanup(self.dir.close)

    def test_bad_configurations_exit_1_with_reason_on_stderr(self):
        for config, reason in (
                (self.dir.write_config('{"inbounds": [ {"type": "mixed", '), b"invalid configuration"),
                (self.dir.write_config('\ufeff{}', name="bom.json"), b"byte-order mark"),
                (self.dir.write_config({"inbounds": [{"type": "mixed", "listen_port": "7897"}]},
                                       name="types.json"), b"listen_port"),
                (self.dir.file("absent.json"), b"cannot open configuration")):
            result = self.dir.run(self.dir.run_args(config))
            self.assertEqual(result.returncode, 1, reason)
            self.assertIn(reason, result.stderr)
            self.assertEqual(result.stdout, b"")

    def test_other_command_lines_exit_2_with_usage(self):
        win_config = pelno_wine.windows_path(self.dir.write_config({}))
        for args in ([], ["version"], ["run", "-c"], ["run", "-c", win_config, "-D", "x"],
                     ["-c", win_config, "tools", "-o", "direct", "fetch", "http://x/"]):
            result = self.dir.run([self.dir.exe] + args)
            self.assertEqual(result.returncode, 2, args)
            self.assertTrue(result.stderr.startswith(b"usage: "), result.stderr)


if __name__ == "__main__":
    unittest.main()
