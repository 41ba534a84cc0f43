"""The helper as installer, Windows service and plain process, under Wine's real
service control manager. Runs in a Wine prefix of its own: every cold start of a
prefix starts AUTO_START services again."""
import concurrent.futures
import filecmp
import os
import socket
import time
import unittest

import pelno_wine
from pelno_engine import engine_config, engine_processes, free_port
from pelno_registry import INTERNET_SETTINGS, read_proxy_values, reg, write_proxy_values
from pelno_wine import CONTROL_PORT, HELPER_EXE, call, port_open, request, wait_until
from pelno_wine import HELPER_SERVICE as SERVICE, service_probe as probe

RECORD_KEY = r"HKCU\Software\PelnoVPN"  # the record of the user's proxy settings
USER = {"ProxyEnable": ("REG_DWORD", 0), "ProxyServer": ("REG_SZ", "user.proxy.example:3128")}


def run(program, *args, timeout=90):
    return pelno_wine.run_windows([program] + list(args), timeout=timeout)


def data_files():
    folder = pelno_wine.data_dir()
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class ServiceHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pelno_wine.own_prefix(cls, "service")

    def setUp(self):  # clean-ups run last first: program folders, service, port, registry
        self.addCleanup(write_proxy_values, {})
        self.addCleanup(wait_until, lambda: not port_open(CONTROL_PORT), 10)
        self.addCleanup(probe, "delete")

    def program_dir(self, with_engine=False):
        d = pelno_wine.ProgramDir(with_engine=with_engine)
        self.addCleanup(d.close)
        return d

    def test_install_then_a_start_on_a_taken_port_then_a_refused_proxy_start_and_a_stop_during_a_tun_start(self):
        self.assertEqual(probe("query"), 1060)  # not installed
        # Wine reads every folder back as the user's: each install registers a protected copy.
        copy = pelno_wine.linux_path(pelno_wine.SERVICE_COPY_DIR)
        for d, switch in ((self.program_dir(), "x--install-service=yes"),  # inside an argument
                          (self.program_dir(with_engine=True), "--install-service")):
            self.assertEqual(run(d.file(HELPER_EXE), switch).returncode, 0)
            service = probe("query")
            self.assertEqual(service["binaryPath"], f'"{pelno_wine.SERVICE_COPY_EXE}"')
            self.assertTrue(filecmp.cmp(d.file(HELPER_EXE), os.path.join(copy, HELPER_EXE), shallow=False))
            self.assertEqual(os.path.exists(os.path.join(copy, "sing-box.exe")), os.path.exists(d.file("sing-box.exe")))
        self.assertTrue(filecmp.cmp(d.file("sing-box.exe"), os.path.join(copy, "sing-box.exe"), shallow=False))
        self.assertEqual((service["startType"], service["serviceType"] & 0x30,
                          service["errorControl"], service["state"]), (2, 0x10, 1, 1))
        self.assertEqual((service["displayName"], service["description"]),
                         ("Pelno VPN Helper Service", "Runs sing-box TUN mode for Pelno VPN."))

        with socket.socket() as squatter:
            # Linux SO_REUSEADDR: binds over TIME_WAIT leftovers, never over a listener.
            squatter.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            squatter.bind(("127.0.0.1", CONTROL_PORT))
            squatter.listen()
            probe("start")  # may see RUNNING or already STOPPED
            self.assertEqual(probe("wait-stopped"), 0)
            self.assertEqual(probe("query")["exitCode"], 1)
            self.assertEqual(run(d.file(HELPER_EXE)).returncode, 1)  # so does a plain process

        write_proxy_values(USER)
        self.assertEqual(probe("start"), 0)
        self.assertTrue(wait_until(lambda: port_open(CONTROL_PORT), timeout=20))
        service = probe("query")
        self.assertEqual((service["state"], service["controlsAccepted"] & 1), (4, 1))
        # The service's proxy would be LocalSystem's: "/start" is refused and changes nothing.
        before = data_files()
        self.assertEqual(call("POST", "/start", engine_config(free_port())),
                         {"status": "disconnected", "platform": "windows", "message":
                          "The helper service does not set the system proxy; proxy mode runs in the application"})
        self.assertEqual((read_proxy_values(), engine_processes(copy)), (USER, []))
        self.assertNotEqual(reg("query", RECORD_KEY, "/v", SERVICE).returncode, 0)
        self.assertEqual(data_files(), before)
        # The stop control arrives while "/start-tun" is inside its 800 ms start check.
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            starting = pool.submit(call, "POST", "/start-tun", engine_config())
            self.assertTrue(wait_until(lambda: engine_processes(copy), timeout=10))
            self.assertEqual(probe("stop"), 0)
            self.assertEqual(starting.result(timeout=30)["message"], "Windows TUN helper connected")
        self.assertEqual(probe("query")["exitCode"], 0)
        self.assertEqual(read_proxy_values(), USER)
        self.assertTrue(wait_until(lambda: not engine_processes(copy), timeout=5))
        self.assertTrue(wait_until(lambda: not port_open(CONTROL_PORT), timeout=10))

    def test_a_second_process_changes_nothing_and_a_killed_ones_proxy_is_put_right(self):
        d, second = self.program_dir(with_engine=True), self.program_dir(with_engine=True)
        for edit, logged in (
                (None, "System proxy restored after an unclean exit\r\n"),
                ((INTERNET_SETTINGS, "ProxyServer", "changed.example:1"), None),  # by the user
                ((RECORD_KEY, SERVICE, '{"version":1,"user":{"ProxyEnable":0,'),  # cut in half
                 "Saved system proxy record was unreadable and has been removed")):
            write_proxy_values(USER)
            with pelno_wine.HelperProcess(program_dir=d):
                request("POST", "/start", engine_config(free_port()))
                engines, proxy = engine_processes(d.path), read_proxy_values()
                self.assertEqual((len(engines), proxy["ProxyEnable"]), (1, ("REG_DWORD", 1)))
                started = time.monotonic()
                self.assertEqual(run(second.file(HELPER_EXE), timeout=30).returncode, 0)
                self.assertLess(time.monotonic() - started, 20)
                self.assertEqual((engine_processes(d.path), read_proxy_values()), (engines, proxy))
                self.assertEqual(call("GET", "/status")["status"], "connected")
                pelno_wine.kill_windows_processes_under(d.path, HELPER_EXE)  # no clean-up runs
                # The engine goes along with its helper.
                self.assertTrue(wait_until(lambda: not engine_processes(d.path), timeout=10))
            self.assertEqual(read_proxy_values(), proxy)
            record = ("query", RECORD_KEY, "/v", SERVICE)
            self.assertEqual(reg(*record).returncode, 0)
            if edit:
                reg("add", edit[0], "/v", edit[1], "/t", "REG_SZ", "/d", edit[2], "/f")
            expected = read_proxy_values() if edit else USER
            with pelno_wine.HelperProcess(program_dir=d):
                self.assertEqual(read_proxy_values(), expected, edit)
                self.assertNotEqual(reg(*record).returncode, 0)
                if logged:
                    self.assertIn(("] " + logged).encode(), request("GET", "/logs"))


if __name__ == "__main__":
    unittest.main()
