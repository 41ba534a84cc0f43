"""The stand-in engine's run command under Wine: config rejection, scripted exit
codes and output, staying up until killed, and the launch record."""
import os
import subprocess
import time
import unittest

import pelno_wine
from stand_in_support import EngineDir, read_record

ENV_VARS = ("ENABLE_DEPRECATED_LEGACY_DNS_SERVERS",
            "ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM",
            "ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER")


class RunCommandTest(unittest.TestCase):
    def setUp(self):
        self.dir = EngineDir()
        self.addCleanup(self.dir.close)

    def test_unparsable_config_exits_1_with_reason_on_stderr(self):
        config = self.dir.write_config('{"inbounds": [ {"type": "mixed", ')
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"invalid configuration", result.stderr)
        self.assertEqual(result.stdout, b"")

    def test_config_with_wrong_types_is_rejected(self):
        config = self.dir.write_config({"inbounds": [{"type": "mixed", "listen_port": "7897"}]})
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"listen_port", result.stderr)

    def test_missing_config_file_exits_1(self):
        result = self.dir.run(self.dir.run_args(self.dir.file("absent.json")))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"cannot open configuration", result.stderr)

    def test_other_command_lines_exit_2_with_usage(self):
        config = self.dir.write_config({})
        win_config = pelno_wine.windows_path(config)
        for args in ([], ["version"], ["run", "-c"], ["run", "-c", win_config, "-D", "x"],
                     ["check", "-c", win_config],
                     ["-c", win_config, "tools", "-o", "direct", "fetch", "http://x/"]):
            result = self.dir.run([self.dir.exe] + args)
            self.assertEqual(result.returncode, 2, args)
            self.assertTrue(result.stderr.startswith(b"usage: "), result.stderr)

    def test_scripted_exit_code_and_output(self):
        config = self.dir.write_config(
            {"stand_in": {"stdout": "hello\r\nworld\n", "stderr": "FATAL bad thing\n", "exit_code": 7}})
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 7)
        self.assertEqual(result.stdout, b"hello\r\nworld\n")
        self.assertEqual(result.stderr, b"FATAL bad thing\n")

    def test_large_output_is_fully_readable(self):
        line = "0123456789abcdef" * 63 + "end of line\n"  # 1019 bytes
        config = self.dir.write_config(
            {"stand_in": {"stdout": line, "output_repeat": 101, "exit_code": 0}})
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(len(result.stdout), 101 * len(line))
        self.assertGreater(len(result.stdout), 100 * 1024)
        self.assertEqual(result.stdout, line.encode() * 101)

    def test_good_config_stays_running_until_killed(self):
        config = self.dir.write_config(
            {"outbounds": [{"type": "direct", "tag": "direct"}], "stand_in": {"stdout": "up\n"}})
        proc = self.dir.start(self.dir.run_args(config), stdout=subprocess.PIPE)
        self.assertEqual(proc.stdout.readline(), b"up\n")
        time.sleep(1.5)
        self.assertIsNone(proc.poll(), "the engine ended on its own")
        proc.kill()
        proc.wait(timeout=30)
        proc.stdout.close()

    def test_exit_after_ms_ends_with_the_scripted_code(self):
        config = self.dir.write_config({"stand_in": {"exit_after_ms": 400, "exit_code": 5}})
        start = time.monotonic()
        result = self.dir.run(self.dir.run_args(config))
        self.assertEqual(result.returncode, 5)
        self.assertGreaterEqual(time.monotonic() - start, 0.4)
        config = self.dir.write_config({"stand_in": {"exit_after_ms": 0}})
        self.assertEqual(self.dir.run(self.dir.run_args(config)).returncode, 1)

    def test_record_file_shows_command_line_cwd_and_environment(self):
        record = self.dir.file("launch record.jsonl")
        work = self.dir.file("data dir")
        os.mkdir(work)
        config = self.dir.write_config(
            {"stand_in": {"record_file": pelno_wine.windows_path(record), "exit_code": 0}},
            name="my config.json")
        env = dict(os.environ)
        for name in ENV_VARS:
            env.pop(name, None)
        env[ENV_VARS[0]] = "true"
        env[ENV_VARS[2]] = "true"
        self.assertEqual(self.dir.run(self.dir.run_args(config), cwd=work, env=env).returncode, 0)
        env[ENV_VARS[1]] = "true"
        self.assertEqual(self.dir.run(self.dir.run_args(config), cwd=work, env=env).returncode, 0)

        first, second = read_record(record)
        win_config = pelno_wine.windows_path(config)
        self.assertEqual(first["command"], "run")
        self.assertEqual(first["argv"][1:], ["run", "-c", win_config])
        self.assertTrue(first["argv"][0].lower().endswith("\\sing-box.exe"), first["argv"][0])
        # The path with a space reaches the engine quoted, in one piece.
        self.assertIn(f'"{win_config}"', first["command_line"])
        self.assertEqual(first["cwd"].rstrip("\\").lower(), pelno_wine.windows_path(work).lower())
        self.assertEqual(first["env"], {ENV_VARS[0]: "true", ENV_VARS[1]: None, ENV_VARS[2]: "true"})
        self.assertEqual(second["env"], {name: "true" for name in ENV_VARS})
        self.assertIsInstance(first["pid"], int)
        self.assertNotEqual(first["pid"], second["pid"])


if __name__ == "__main__":
    unittest.main()
