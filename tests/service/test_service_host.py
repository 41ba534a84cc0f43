"""The helper as installer, Windows service and plain process, under Wine's real
service control manager. Runs in a Wine prefix of its own: every cold start of a
prefix starts AUTO_START services again."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import pelno_engine
import pelno_registry
import pelno_wine
from pelno_wine import CONTROL_PORT, request, split_response, wait_until

SERVICE = "PelnoVpnHelperService"
RECORD_KEY = r"HKCU\Software\PelnoVPN"  # the record of the user's proxy settings
PROBE = "pelno-service-probe.exe"
NOT_INSTALLED = 1060


def probe(*args):
    result = pelno_wine.run_windows([os.path.join(pelno_wine.bin_dir(), PROBE)] + list(args),
                                    timeout=90)
    return result.returncode, result.stdout.decode("utf-8", "replace")


def query_service():
    """The service's configuration and status, or the Win32 error code of the query."""
    code, out = probe("query", SERVICE)
    answer = json.loads(out)
    return answer if code == 0 else answer["error"]


def record_exists():
    return pelno_wine.run_windows(["reg", "query", RECORD_KEY, "/v", SERVICE],
                                  timeout=60).returncode == 0


def logs():
    return split_response(request("GET", "/logs"))[2].decode("utf-8", "replace")


def run_helper(program_dir, *args, timeout=60):
    return pelno_wine.run_windows([program_dir.file(pelno_wine.HELPER_EXE)] + list(args),
                                  timeout=timeout).returncode


class ServiceHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="pelno-service-")
        cls.saved_prefix = os.environ.get("WINEPREFIX")
        os.environ["WINEPREFIX"] = os.path.join(cls.work, "prefix")
        subprocess.run([pelno_wine.wine_exec(), "--up"], check=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([pelno_wine.wine_exec(), "--down"], timeout=120)
        if cls.saved_prefix is None:
            os.environ.pop("WINEPREFIX", None)
        else:
            os.environ["WINEPREFIX"] = cls.saved_prefix
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.dirs = []

    def tearDown(self):
        probe("delete", SERVICE)
        for d in self.dirs:
            d.close()
        wait_until(lambda: not pelno_wine.port_open(CONTROL_PORT), timeout=10)
        pelno_registry.clear_proxy_values()

    def program_dir(self, with_engine=False):
        d = pelno_wine.ProgramDir(with_engine=with_engine)
        self.dirs.append(d)
        return d

    def test_installing_twice_leaves_one_current_service(self):
        self.assertEqual(query_service(), NOT_INSTALLED)
        first, second = self.program_dir(), self.program_dir()
        self.assertEqual(run_helper(first, "--install-service"), 0)
        self.assertEqual(run_helper(second, "--install-service"), 0)
        service = query_service()
        expected_path = '"' + pelno_wine.windows_path(second.file(pelno_wine.HELPER_EXE)) + '"'
        self.assertEqual(service["binaryPath"].lower(), expected_path.lower())
        self.assertEqual(service["startType"], 2)
        self.assertEqual(service["serviceType"] & 0x30, 0x10)
        self.assertEqual(service["errorControl"], 1)
        self.assertEqual(service["displayName"], "Pelno VPN Helper Service")
        self.assertEqual(service["description"], "Runs sing-box TUN mode for Pelno VPN.")
        self.assertEqual(service["state"], 1)  # installed, not started

    def test_install_switch_inside_a_longer_argument_still_installs(self):
        d = self.program_dir()
        self.assertEqual(run_helper(d, "x--install-service=yes"), 0)
        self.assertIsInstance(query_service(), dict)

    def test_service_stop_lets_a_start_finish_then_restores_proxy_and_ends_engine(self):
        d = self.program_dir(with_engine=True)
        self.assertEqual(run_helper(d, "--install-service"), 0)
        pelno_registry.set_user_proxy(0, "user.proxy.example:3128", None)
        user = pelno_registry.read_proxy_values()
        self.assertEqual(probe("start", SERVICE)[0], 0)
        self.assertTrue(wait_until(lambda: pelno_wine.port_open(CONTROL_PORT), timeout=20))
        service = query_service()
        self.assertEqual(service["state"], 4)
        self.assertTrue(service["controlsAccepted"] & 1)

        # The stop control arrives while "/start" is inside its 800 ms start check.
        replies = []
        config = pelno_engine.engine_config(mixed_port=pelno_engine.free_port())
        starting = threading.Thread(target=lambda: replies.append(request("POST", "/start", config)))
        starting.start()
        self.assertTrue(wait_until(lambda: pelno_engine.engine_processes(d.path), timeout=10))
        self.assertEqual(probe("stop", SERVICE)[0], 0)
        starting.join(timeout=30)
        self.assertEqual(len(replies), 1)
        self.assertEqual(json.loads(split_response(replies[0])[2])["message"],
                         "Windows helper connected")
        self.assertEqual(query_service()["exitCode"], 0)
        self.assertEqual(pelno_registry.read_proxy_values(), user)
        self.assertTrue(wait_until(lambda: not pelno_engine.engine_processes(d.path), timeout=5))
        self.assertTrue(wait_until(lambda: not pelno_wine.port_open(CONTROL_PORT), timeout=10))

    def kill_helper_only(self, d):
        for pid, cmdline in pelno_wine.processes_under(d.path):
            if pelno_wine.HELPER_EXE.lower() in cmdline.lower():
                os.kill(pid, signal.SIGKILL)

    def test_a_killed_helper_takes_its_engine_along_and_its_proxy_is_put_right_at_restart(self):
        d = self.program_dir(with_engine=True)
        for user_changes_server in (False, True):
            pelno_registry.set_user_proxy(0, "user.proxy.example:3128", None)
            user = pelno_registry.read_proxy_values()
            with pelno_wine.HelperProcess(program_dir=d):
                port = pelno_engine.free_port()
                request("POST", "/start", pelno_engine.engine_config(mixed_port=port))
                self.assertEqual(len(pelno_engine.engine_processes(d.path)), 1)
                self.kill_helper_only(d)  # no clean-up runs
                self.assertTrue(wait_until(lambda: not pelno_engine.engine_processes(d.path),
                                           timeout=10))
            self.assertIn(f"127.0.0.1:{port}", pelno_registry.read_proxy_values()["ProxyServer"][1])
            self.assertTrue(record_exists())
            if user_changes_server:
                pelno_registry.set_value("ProxyServer", "REG_SZ", "changed.example:1")
            expected = pelno_registry.read_proxy_values() if user_changes_server else user
            with pelno_wine.HelperProcess(program_dir=d):
                self.assertEqual(pelno_registry.read_proxy_values(), expected)
                self.assertFalse(record_exists())
                restored = "] System proxy restored after an unclean exit\r\n" in logs()
                self.assertEqual(restored, not user_changes_server)

    def test_a_record_cut_in_half_is_removed_and_changes_nothing(self):
        pelno_registry.set_user_proxy(1, "user.proxy.example:3128", "<local>")
        user = pelno_registry.read_proxy_values()
        pelno_wine.run_windows(["reg", "add", RECORD_KEY, "/v", SERVICE, "/t", "REG_SZ", "/d",
                                '{"version":1,"user":{"ProxyEnable":0,', "/f"], timeout=60)
        self.assertTrue(record_exists())
        with pelno_wine.HelperProcess(program_dir=self.program_dir()):
            self.assertEqual(pelno_registry.read_proxy_values(), user)
            self.assertFalse(record_exists())
            self.assertIn("] Saved system proxy record was unreadable and has been removed", logs())

    def test_port_taken_stops_the_service_with_exit_code_1(self):
        d = self.program_dir()
        self.assertEqual(run_helper(d, "--install-service"), 0)
        with socket.socket() as squatter:
            # Linux SO_REUSEADDR: binds over TIME_WAIT leftovers, never over a listener.
            squatter.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            squatter.bind(("127.0.0.1", CONTROL_PORT))
            squatter.listen()
            probe("start", SERVICE)  # may see RUNNING or already STOPPED
            self.assertEqual(probe("wait-stopped", SERVICE)[0], 0)
            self.assertEqual(query_service()["exitCode"], 1)
            # The same failure in a plain process: clean-up, exit code 1.
            self.assertEqual(run_helper(d), 1)

    def test_second_plain_process_exits_at_once_and_touches_nothing(self):
        first = self.program_dir(with_engine=True)
        with pelno_wine.HelperProcess(program_dir=first):
            pelno_registry.set_user_proxy(0, None, None)
            port = pelno_engine.free_port()
            request("POST", "/start", pelno_engine.engine_config(mixed_port=port))
            engines = pelno_engine.engine_processes(first.path)
            proxy = pelno_registry.read_proxy_values()
            self.assertEqual(proxy["ProxyEnable"], ("REG_DWORD", 1))

            second = self.program_dir(with_engine=True)
            started = time.monotonic()
            self.assertEqual(run_helper(second, timeout=30), 0)
            self.assertLess(time.monotonic() - started, 20)
            self.assertEqual(pelno_engine.engine_processes(first.path), engines)
            self.assertEqual(pelno_registry.read_proxy_values(), proxy)
            self.assertEqual(json.loads(split_response(request("GET", "/status"))[2])["status"],
                             "connected")
            request("POST", "/stop")


if __name__ == "__main__":
    unittest.main()
