"""How long a helper that takes requests and never answers (a listener on 127.0.0.1:17891
that accepts and stays silent) holds PelnoVPN.exe up, under Wine and Xvfb, played through
the stand-in engine library's UI bridge: the seconds a proxy-mode "connect" takes to
reply, and the seconds from WM_CLOSE to the process's exit while a second connect and a
"getStatus" wait on that listener, with whether the user's proxy values came back.
A figure that reached --cap is reported as such (the program was killed).

A report, not a test: run it through bench/run-close.sh.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "ui_bridge"))
import pelno_wine  # noqa: E402
from bench_desktop import scratch_desktop_app, start_app  # noqa: E402
from pelno_engine import engine_config, free_port  # noqa: E402
from pelno_registry import read_proxy_values, write_proxy_values  # noqa: E402
from pelno_ui_bridge import UiBridge  # noqa: E402

USER = {"ProxyEnable": ("REG_DWORD", 0), "ProxyServer": ("REG_SZ", "user.proxy.example:3128")}


def tool(name, *args):
    return pelno_wine.run_windows([os.path.join(pelno_wine.bin_dir(), name), *args], timeout=120)


def one_round(app, cap):
    """(connect seconds, close seconds, user's proxy back); None for a figure that hit the cap."""
    write_proxy_values(USER)
    port = free_port()
    proc = start_app(app, port)
    try:
        ui = UiBridge(port)
        with pelno_wine.SilentHelper():
            started = time.perf_counter()
            connect = ui.send("connect", {"runtimeConfig": engine_config(free_port()), "proxyPort": free_port()})
            try:
                ui.reply(connect, timeout=cap)
                connect_seconds = time.perf_counter() - started
            except Exception:  # noqa: BLE001 - no reply within the cap
                connect_seconds = None
            ui.send("connect", {"runtimeConfig": engine_config(free_port()), "proxyPort": free_port()})
            ui.send("getStatus")
            time.sleep(0.5)
            started = time.perf_counter()
            tool("pelno-window-probe.exe", "close")
            try:
                proc.wait(timeout=cap)
                close_seconds = time.perf_counter() - started
            except subprocess.TimeoutExpired:
                close_seconds = None
            proxy_back = read_proxy_values() == USER
        ui.close()
        return connect_seconds, close_seconds, proxy_back
    finally:
        if proc.poll() is None:
            proc.kill()
        pelno_wine.kill_windows_processes_under(app)
        write_proxy_values({})


def report(label, figures, cap):
    done = [f for f in figures if f is not None]
    text = f"median {statistics.median(done):6.2f} s  max {max(done):6.2f} s" if done else "none ended"
    capped = len(figures) - len(done)
    print(f"{label:<36} {text}  ({len(figures)} runs" + (f", {capped} not done in {cap:.0f} s)" if capped else ")"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cap", type=float, default=60.0, help="seconds a figure is waited for at most")
    args = parser.parse_args()

    with scratch_desktop_app() as app:
        rounds = [one_round(app, args.cap) for _ in range(args.runs)]
        report("proxy connect, silent helper", [r[0] for r in rounds], args.cap)
        report("WM_CLOSE to exit, calls waiting", [r[1] for r in rounds], args.cap)
        print(f"{'':<36} user's proxy values back after {sum(r[2] for r in rounds)} of {len(rounds)} closes")

if __name__ == "__main__":
    main()
