"""The main job's scripted session: plays the user interface of a running PelnoVPN.exe
through the UI bridge and prints a readable transcript.

  demo_session.py BRIDGE_PORT APP_DIR ORIGIN_URL
Needs PELNO_WINE_EXEC (the build's wine wrapper) and PELNO_BIN_DIR (for the window probe)."""
import json
import os
import socket
import subprocess
import sys
import time

from pelno_ui_bridge import EVENT_CHANNEL, UiBridge

SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def wine(*args, timeout=60):
    return subprocess.run([os.environ["PELNO_WINE_EXEC"], *args], capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=timeout)


def show_proxy():
    lines = [line.strip() for line in wine("reg", "query", SETTINGS).stdout.decode(errors="replace").splitlines()
             if line.strip().startswith(("ProxyEnable", "ProxyServer", "ProxyOverride"))]
    for line in lines or ["(no proxy values)"]:
        print("    " + " ".join(line.split()))


def step(title):
    print(f"\n== {title}", flush=True)


def show(reply):
    print("   ", json.dumps(reply[1] if reply[0] == "success" else reply))


def main():
    port, app_dir, origin = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    probe = os.path.join(os.environ["PELNO_BIN_DIR"], "pelno-window-probe.exe")

    step("waiting for the PelnoVPN window and the UI bridge")
    ui = UiBridge(port)
    print("   ", wine(probe, "shown", "30").stdout.decode().strip())

    step('"getStatus"')
    show(ui.call("getStatus"))

    step("the user's proxy settings before")
    show_proxy()

    mixed = 17897
    config = {"inbounds": [{"type": "mixed", "tag": "pelno-vpn-mixed", "listen": "127.0.0.1", "listen_port": mixed}],
              "outbounds": [{"type": "direct", "tag": "direct"}],
              "experimental": {"clash_api": {"external_controller": "127.0.0.1:19090"}},
              "stand_in": {"fetch": {"slow node": {"delay_ms": 1500}, "dead node": {"fail": True}}}}
    step(f'"connect" in proxy mode (mixed inbound on port {mixed})')
    show(ui.call("connect", {"runtimeConfig": json.dumps(config), "accessMode": "proxy", "proxyPort": mixed}))

    step("the system proxy while connected")
    show_proxy()

    step("a real HTTP request through the engine's proxy port")
    out = subprocess.run(["curl", "-sS", "--noproxy", "", "-x", f"http://127.0.0.1:{mixed}", origin],
                         capture_output=True, timeout=30)
    print("   ", out.stdout.decode(errors="replace").strip() or out.stderr.decode(errors="replace").strip())

    step('"getTrafficSnapshot" (proxy mode: read from the application\'s own engine)')
    show(ui.call("getTrafficSnapshot"))

    step('"testNodeDelays" starts the helper as a plain process')
    show(ui.call("testNodeDelays", {"runtimeConfig": json.dumps(config), "nodeTags": ["direct"]}, timeout=120))
    # Under Wine the helper listens only after its service dispatcher check has failed
    # (about 10 s), later than the plug-in's 3 s wait; on Windows that check is instant.
    print("    (waiting for the helper to answer on 127.0.0.1:17891)")
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", 17891), timeout=1).close()
            break
        except OSError:
            time.sleep(0.2)

    step('"listen" on the latency event channel, then "testNodeDelays" with three nodes')
    show(ui.call("listen", None, channel=EVENT_CHANNEL))
    started = time.monotonic()
    call = ui.send("testNodeDelays", {"requestId": "demo-1", "runtimeConfig": json.dumps(config),
                                      "testUrl": origin, "nodeTags": ["direct", "slow node", "dead node"]})
    arrival, reply = ui.reply(call, timeout=120)
    for number, channel, event in ui.events:
        if channel == EVENT_CHANNEL:
            print(f"    event #{number}: {json.dumps(event[1])}")
    print(f"    reply #{arrival} after {time.monotonic() - started:.1f} s: {json.dumps(reply[1])}")

    step('"disconnect"')
    show(ui.call("disconnect"))

    step("the user's proxy settings after")
    show_proxy()

    step("closing the window (WM_CLOSE)")
    wine(probe, "close")
    ui.close()


if __name__ == "__main__":
    main()
