"""PelnoVPN.exe end to end under Wine and Xvfb: the UI bridge of the stand-in engine
library plays the user interface, with the real helper and the stand-in proxy engine.
Runs in a Wine prefix of its own (the TUN case installs the helper service)."""
import json
import os
import struct
import subprocess
import sys
import time
import unittest

import pelno_wine
from pelno_engine import engine_config as config, engine_processes, free_port, serve_origin
from pelno_registry import read_proxy_values, write_proxy_values
from pelno_wine import CONTROL_PORT, HELPER_EXE, SilentHelper, call, port_open, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "ui_bridge"))
from pelno_ui_bridge import EVENT_CHANNEL, UiBridge  # noqa: E402

APP_FILES = ("PelnoVPN.exe", "flutter_windows.dll", HELPER_EXE)
USER = {"ProxyEnable": ("REG_DWORD", 0), "ProxyServer": ("REG_SZ", "user.proxy.example:3128")}
VIEW_BACKGROUND = (0x1E, 0x22, 0x2B)  # what the stand-in's notice is painted on


def tool(name, *args, timeout=90):
    return pelno_wine.run_windows([os.path.join(pelno_wine.bin_dir(), name), *args], timeout=timeout)


def screenshot_pixels(display, points):
    """(r, g, b) at each (x, y) of the root window, from an xwd dump (24/32-bit TrueColor)."""
    dump = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True,
                          check=True, timeout=30).stdout
    header = struct.unpack(">25I", dump[:100])
    header_size, bits_per_pixel, bytes_per_line, ncolors = header[0], header[11], header[12], header[19]
    offsets = (header_size + ncolors * 12 + y * bytes_per_line + x * bits_per_pixel // 8 for x, y in points)
    return [tuple(dump[at:at + 3][::-1]) for at in offsets]  # LSB-first BGRX, as Xvfb writes it


class DesktopAppTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):  # clean-ups run last first
        cls.display = os.environ.get("PELNO_XVFB_DISPLAY", ":71")
        xvfb = subprocess.Popen(["Xvfb", cls.display, "-screen", "0", "1024x900x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.addClassCleanup(xvfb.wait, 10)
        cls.addClassCleanup(xvfb.terminate)
        os.environ["DISPLAY"] = cls.display
        pelno_wine.own_prefix(cls, "desktop")
        cls.origin = f"http://127.0.0.1:{serve_origin(cls, b'hello through the engine')}/hello"

    def start_app(self, *arguments):
        """PelnoVPN.exe (with `arguments`) from a folder laid out like the release; returns the bridge."""
        app = pelno_wine.ProgramDir(APP_FILES, with_engine=True)
        self.addCleanup(app.close)
        os.makedirs(app.file(os.path.join("data", "flutter_assets")))
        self.app_dir, port = app.path, free_port()
        self.proc = pelno_wine.start_windows([app.file("PelnoVPN.exe"), *arguments],
                                             env={**os.environ, "PELNOVPN_UI_BRIDGE_PORT": str(port)})
        self.addCleanup(lambda: self.proc.poll() is None and self.proc.kill())
        ui = UiBridge(port)
        self.addCleanup(ui.close)
        return ui

    def proxy_connect(self, ui):
        mixed_port = free_port()
        connect = ui.send("connect", {"runtimeConfig": config(mixed_port), "accessMode": "proxy",
                                      "proxyPort": mixed_port})
        self.assert_answered_at_once(ui, connect)
        self.assertEqual(ui.reply(connect)[1], ("success", {"status": "connected", "platform": "windows",
                                                            "message": "Windows sing-box connected"}))
        return mixed_port

    def assert_answered_at_once(self, ui, slow_call):
        """The platform thread is free while `slow_call` runs: an unknown method sent 50 ms
        later is answered within 50 ms, before the slow call."""
        time.sleep(0.05)
        sent = time.monotonic()
        self.assertEqual(ui.reply(ui.send("pelnoUnknownMethod"))[1], ("not_implemented",))
        self.assertLess(time.monotonic() - sent, 0.05)
        self.assertNotIn(slow_call, ui.replies)

    def assert_cleaned_up_and_exited(self):
        self.assertEqual(self.proc.wait(timeout=60), 0)
        self.assertEqual(read_proxy_values(), USER)
        self.assertEqual(engine_processes(self.app_dir), [])

    def test_1_window_status_proxy_session_and_close(self):
        write_proxy_values(USER)
        self.addCleanup(write_proxy_values, {})
        ui = self.start_app("--flag", "two words", "é")

        # As the real engine library lays them out.
        self.assertEqual(ui.engine_properties(), {
            "assets_path": "data\\flutter_assets", "icu_data_path": "data\\icudtl.dat",
            "aot_library_path": "data\\app.so", "dart_entrypoint": None,
            "dart_entrypoint_argv": ["--flag", "two words", "é"], "gpu_preference": 0, "ui_thread_policy": 0,
            "run_entry_point": None})

        # Shown after its first frame, as the X server has it: at 96 DPI, painted inside, nothing beyond.
        self.assertEqual(tool("pelno-window-probe.exe", "shown", "30").returncode, 0)
        tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", self.display], capture_output=True,
                              text=True, timeout=30).stdout
        self.assertRegex(tree, r'"PelnoVPN": .* 450x770\+10\+10 ')
        pixels = screenshot_pixels(self.display, [(235, 760), (10 + 450, 400), (235, 10 + 770)])
        self.assertEqual(pixels, [VIEW_BACKGROUND, (0, 0, 0), (0, 0, 0)])

        with SilentHelper():
            status = ui.send("getStatus")
            self.assert_answered_at_once(ui, status)
        self.assertEqual(ui.reply(status)[1], ("success", "disconnected"))
        mixed = f"127.0.0.1:{self.proxy_connect(ui)}"
        self.assertEqual([read_proxy_values()[name] for name in ("ProxyEnable", "ProxyServer")],
                         [("REG_DWORD", 1), ("REG_SZ", f"http={mixed};https={mixed};socks={mixed}")])
        out = subprocess.run(["curl", "-sS", "--noproxy", "", "-x", "http://" + mixed, self.origin],
                             capture_output=True, timeout=30)
        self.assertEqual(out.stdout, b"hello through the engine")
        self.assertEqual(ui.call("getStatus"), ("success", "connected"))
        self.assertEqual(ui.call("disconnect")[1]["status"], "disconnected")
        self.assertEqual(read_proxy_values(), USER)

        # A helper that never answers: a proxy connect asks it to stop only briefly; closing while
        # a connect and a status query wait on it cleans up (proxy back, engine stopped) at once.
        with SilentHelper():
            started = time.monotonic()
            self.proxy_connect(ui)
            self.assertLess(time.monotonic() - started, 5)
            ui.send("connect", {"runtimeConfig": config(free_port()), "accessMode": "proxy"})
            ui.send("getStatus")
            time.sleep(0.5)
            started = time.monotonic()
            self.assertEqual(tool("pelno-window-probe.exe", "close").returncode, 0)
            self.assert_cleaned_up_and_exited()
            self.assertLess(time.monotonic() - started, 5)

    def test_2_tun_session_traffic_and_end_of_windows_session(self):
        write_proxy_values(USER)
        self.addCleanup(write_proxy_values, {})
        self.addCleanup(pelno_wine.service_probe, "delete")
        self.addCleanup(pelno_wine.service_probe, "stop")
        ui = self.start_app()
        mixed_port = free_port()
        connect = ui.send("connect", {"runtimeConfig": config(mixed_port, "127.0.0.1:19090"),
                                      "accessMode": "tun"})
        self.assert_answered_at_once(ui, connect)  # while the service is installed and started
        reply = ui.reply(connect, timeout=180)[1]
        self.assertEqual(reply[1]["status"], "connected", reply)
        self.assertEqual(call("GET", "/status")["status"], "connected")
        self.assertEqual(ui.call("getStatus"), ("success", "connected"))
        # Wine reads every folder back as the user's: the service and its engine run the protected copies.
        copy = pelno_wine.linux_path(pelno_wine.SERVICE_COPY_DIR)
        self.assertEqual((len(engine_processes(copy)), engine_processes(self.app_dir)), (1, []))

        # The helper's engine relays a request; its totals reach the snapshot.
        subprocess.run(["curl", "-sS", "--noproxy", "", "-x", f"http://127.0.0.1:{mixed_port}", self.origin],
                       capture_output=True, timeout=30)
        snapshot = ui.call("getTrafficSnapshot")
        self.assertEqual((snapshot[0], type(snapshot[1]["processes"])), ("success", list))
        self.assertGreater(snapshot[1]["downloadTotalBytes"], 0, snapshot)

        # Sign-out: the same clean-up as closing; the helper's session ends, the service stays.
        out = tool("pelno-window-probe.exe", "end-session")
        self.assertEqual(json.loads(out.stdout), {"queryEndSession": 1})
        self.assert_cleaned_up_and_exited()
        self.assertEqual(call("GET", "/status")["status"], "disconnected")

    def test_3_latency_events_come_before_the_reply(self):
        ui = self.start_app()
        # Under Wine a helper started as a plain process listens only after its service
        # dispatcher check has failed (about 10 s), later than the plug-in waits for it.
        ui.call("testNodeDelays", {"runtimeConfig": config(), "nodeTags": ["direct"]}, timeout=120)
        self.assertTrue(wait_until(lambda: port_open(CONTROL_PORT), timeout=30))
        self.assertEqual(ui.call("listen", None, channel=EVENT_CHANNEL), ("success", None))
        nodes = {"direct": None, "dead node": 0}
        engine = config(fetch={"dead node": {"fail": True}})
        arrival, reply = ui.reply(ui.send("testNodeDelays", {
            "requestId": "r1", "runtimeConfig": engine, "testUrl": self.origin,
            "nodeTags": list(nodes) + [7, ""]}), timeout=120)
        self.assertEqual((reply[0], set(reply[1]), reply[1]["dead node"]), ("success", set(nodes), 0))
        self.assertGreater(reply[1]["direct"], 0)
        events = [(n, e[1]) for n, channel, e in ui.events if channel == EVENT_CHANNEL]
        self.assertEqual(sorted(e["nodeTag"] for _, e in events), sorted(nodes))
        self.assertTrue(all(n < arrival and e["requestId"] == "r1" and e["delayMs"] == reply[1][e["nodeTag"]]
                            for n, e in events))

        # Closing ends the helper the latency tests started.
        self.assertEqual(tool("pelno-window-probe.exe", "close").returncode, 0)
        self.assertEqual(self.proc.wait(timeout=60), 0)
        self.assertEqual(list(pelno_wine.processes_under(self.app_dir, HELPER_EXE)), [])


if __name__ == "__main__":
    unittest.main()
