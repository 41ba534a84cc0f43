"""How long the platform thread keeps the user interface waiting: PelnoVPN.exe under Wine
and Xvfb, played through the stand-in engine library's UI bridge (which delivers every
call on the platform thread). A slow call is sent, then 50 ms later an unknown method;
the figure is the time from sending the unknown method to its "not implemented" reply.
Slow calls: "getStatus" while a helper on 127.0.0.1:17891 accepts and never answers
(the bench lets go of it after HOLD_SECONDS), a proxy-mode "connect" (the stand-in
engine's start check), and a TUN "connect" that installs and starts the helper service.

A report, not a test: run it through bench/run-platform-thread.sh.
"""
import argparse
import os
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "ui_bridge"))
import pelno_wine  # noqa: E402
from bench_desktop import scratch_desktop_app, start_app  # noqa: E402
from pelno_engine import engine_config, free_port  # noqa: E402
from pelno_ui_bridge import UiBridge  # noqa: E402

SERVICE = "PelnoVpnHelperService"
HOLD_SECONDS = 2.0  # a silent helper's hold on "getStatus" (the plug-in's own limit is far longer)
LEAD_SECONDS = 0.05  # the unknown method follows the slow call after this


def reply_time(ui, slow_call):
    """Sends an unknown method LEAD_SECONDS after `slow_call` was sent; the seconds its
    reply took, and whether it came before the slow call's."""
    time.sleep(LEAD_SECONDS)
    started = time.perf_counter()
    arrival, envelope = ui.reply(ui.send("pelnoUnknownMethod"), timeout=600)
    elapsed = time.perf_counter() - started
    if envelope != ("not_implemented",):
        raise RuntimeError(f"unexpected reply {envelope!r}")
    return elapsed, slow_call not in ui.replies


def tool(name, *args):
    return pelno_wine.run_windows([os.path.join(pelno_wine.bin_dir(), name), *args], timeout=120)


def report(label, figures):
    times = [t * 1000 for t, _ in figures]
    overtook = sum(first for _, first in figures)
    print(f"{label:<42} median {statistics.median(times):8.1f} ms  max {max(times):8.1f} ms  "
          f"({len(times)} runs, reply before the slow call's in {overtook})")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    with scratch_desktop_app() as app:
        run_rounds(app, args.runs)


def run_rounds(app, runs):
    port = free_port()
    proc = start_app(app, port)
    try:
        ui = UiBridge(port)
        figures = []
        for _ in range(runs):
            threading.Timer(HOLD_SECONDS, pelno_wine.SilentHelper().close).start()
            slow = ui.send("getStatus")
            figures.append(reply_time(ui, slow))
            ui.reply(slow, timeout=600)
        report(f"getStatus, silent helper ({HOLD_SECONDS:.0f} s hold)", figures)

        figures = []
        for _ in range(runs):
            slow = ui.send("connect", {"runtimeConfig": engine_config(free_port()), "proxyPort": free_port()})
            figures.append(reply_time(ui, slow))
            ui.reply(slow, timeout=600)
            ui.call("disconnect", timeout=600)
        report("proxy connect", figures)

        try:
            slow = ui.send("connect", {"runtimeConfig": engine_config(free_port()), "accessMode": "tun"})
            figures = [reply_time(ui, slow)]
            started = time.perf_counter()
            answer = ui.reply(slow, timeout=600)[1]
            report("TUN connect, service install and start", figures)
            print(f"{'':<42} (the connect answered {time.perf_counter() - started:.1f} s after that: {answer[1]})")
            ui.call("disconnect", timeout=600)
        finally:
            tool("pelno-service-probe.exe", "stop", SERVICE)
            tool("pelno-service-probe.exe", "delete", SERVICE)
        ui.close()
        tool("pelno-window-probe.exe", "close")
        proc.wait(timeout=120)
    finally:
        if proc.poll() is None:
            proc.kill()


if __name__ == "__main__":
    main()
