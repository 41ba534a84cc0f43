"""The scratch desktop the PelnoVPN benchmarks run in: an Xvfb display and a copy of the
application (with the helper, the stand-in engine as sing-box.exe and an empty user
interface bundle) in a temporary folder, both gone again when the block ends."""
import contextlib
import os
import shutil
import subprocess
import tempfile

import pelno_wine


@contextlib.contextmanager
def scratch_desktop_app():
    """Yields the application's folder, with DISPLAY set to the Xvfb display
    ($PELNO_XVFB_DISPLAY, else :71); Windows programs left running from it are ended."""
    display = os.environ.get("PELNO_XVFB_DISPLAY", ":71")
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x900x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = display
    app = tempfile.mkdtemp(prefix="pelno bench app ")
    try:
        for name in ("PelnoVPN.exe", "flutter_windows.dll", pelno_wine.HELPER_EXE):
            shutil.copy(os.path.join(pelno_wine.bin_dir(), name), app)
        shutil.copy(os.path.join(pelno_wine.bin_dir(), pelno_wine.STAND_IN_ENGINE_EXE),
                    os.path.join(app, "sing-box.exe"))
        os.makedirs(os.path.join(app, "data", "flutter_assets"))
        yield app
    finally:
        pelno_wine.kill_windows_processes_under(app)
        shutil.rmtree(app, True)
        xvfb.terminate()
        xvfb.wait()


def start_app(app, ui_bridge_port):
    """The application in `app`, with its test bridge on `ui_bridge_port`."""
    return pelno_wine.start_windows([os.path.join(app, "PelnoVPN.exe")],
                                    env={**os.environ, "PELNOVPN_UI_BRIDGE_PORT": str(ui_bridge_port)})
