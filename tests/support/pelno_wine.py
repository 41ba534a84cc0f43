"""Runs the Windows programs under Wine for tests that drive them from outside: the programs
come from PELNO_BIN_DIR and start through PELNO_WINE_EXEC (the build's wrapper, which uses the
test run's WINEPREFIX)."""
import contextlib
import glob
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

CONTROL_PORT = 17891
HELPER_EXE = "PelnoVpnHelperService.exe"
HELPER_SERVICE = "PelnoVpnHelperService"
STAND_IN_ENGINE_EXE = "pelno-stand-in-engine.exe"


def bin_dir():
    return os.environ["PELNO_BIN_DIR"]


def wine_exec():
    return os.environ["PELNO_WINE_EXEC"]


def drive_c():
    prefix = os.environ.get("WINEPREFIX", os.path.join(os.path.dirname(wine_exec()), "wineprefix"))
    return os.path.join(prefix, "drive_c")


def data_dir():
    """%APPDATA%\\PelnoVPN of the Wine user: absent in a fresh prefix until the helper writes there."""
    [roaming] = glob.glob(os.path.join(drive_c(), "users", "*", "AppData", "Roaming"))
    return os.path.join(roaming, "PelnoVPN")


# Where the service runs from when the helper's folder is not admin-only, as every
# folder reads back under Wine.
SERVICE_COPY_DIR = r"C:\Program Files\PelnoVPN\Service"
SERVICE_COPY_EXE = SERVICE_COPY_DIR + "\\" + HELPER_EXE


def linux_path(path):
    """The Linux path of a C:\\... path in the prefix."""
    return os.path.join(drive_c(), *path[3:].split("\\"))


def run_windows(args, timeout=60, **kwargs):
    kwargs = {"stdin": subprocess.DEVNULL, "capture_output": True, **kwargs}
    return subprocess.run([wine_exec(), *args], timeout=timeout, **kwargs)


def start_windows(args, **kwargs):
    """A Windows program started under Wine, its standard streams closed."""
    streams = dict.fromkeys(("stdin", "stdout", "stderr"), subprocess.DEVNULL)
    return subprocess.Popen([wine_exec(), *args], **{**streams, **kwargs})


def own_prefix(test_class, label):
    """Gives the class a Wine prefix of its own, up now and shut down at the class's
    clean-up, in a work folder that goes last; returns the work folder."""
    work = tempfile.TemporaryDirectory(prefix=f"pelno-{label}-")
    test_class.addClassCleanup(work.cleanup)
    os.environ["WINEPREFIX"] = os.path.join(work.name, "prefix")  # for this process only
    test_class.addClassCleanup(subprocess.run, [wine_exec(), "--down"], timeout=120)
    subprocess.run([wine_exec(), "--up"], check=True, timeout=300)
    return work.name


def service_probe(command):
    """pelno-service-probe.exe's exit code for the helper's service; for "query" the
    service's configuration and status, or the error code."""
    result = run_windows([os.path.join(bin_dir(), "pelno-service-probe.exe"), command, HELPER_SERVICE], timeout=90)
    if command != "query":
        return result.returncode
    answer = json.loads(result.stdout)
    return answer["error"] if result.returncode else answer


def windows_path(linux_path):
    """The path under which Wine sees a Linux path: C:\\... inside the prefix's drive_c, else Z:\\...."""
    path, drive = os.path.abspath(linux_path), drive_c()
    if path.startswith(drive + os.sep):
        return "C:" + path[len(drive):].replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def raw_request(data, port=CONTROL_PORT, timeout=10.0, reset=False):
    """Sends bytes, reads until the server closes; returns the bytes received. `reset`: the
    client ends with a reset, leaving no TIME_WAIT socket."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        if reset:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.sendall(data)
        return recv_all(s)


def recv_all(sock):
    return b"".join(iter(lambda: sock.recv(65536), b""))


def request(method, path, body=b"", port=CONTROL_PORT, timeout=30.0):
    """One HTTP/1.1 request the way the application sends it; returns the raw response."""
    body = body.encode() if isinstance(body, str) else body
    head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
    if method == "POST":
        head += f"Content-Length: {len(body)}\r\n"
    return raw_request(head.encode() + b"\r\n" + body, port=port, timeout=timeout)


def split_response(raw):
    """(status line, [header lines], body) of a raw response."""
    head, _, body = raw.partition(b"\r\n\r\n")
    status, *headers = head.decode("latin-1").split("\r\n")
    return status, headers, body


def call(method, path, body=b""):
    """The body of a 200 JSON reply, parsed."""
    status, headers, body = split_response(request(method, path, body))
    assert status == "HTTP/1.1 200 OK" and "Content-Type: application/json" in headers, status
    return json.loads(body)


def port_open(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def wait_until(predicate, timeout=20.0):
    deadline = time.monotonic() + timeout
    while not (met := predicate()) and time.monotonic() < deadline:
        time.sleep(0.05)
    return met


def processes_under(directory, name=""):
    """(Linux pid, command line) of processes run from `directory`, `name` in their command line."""
    unix, win = os.path.abspath(directory), windows_path(directory).lower()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if (unix in cmdline or win in cmdline.lower()) and name.lower() in cmdline.lower():
            yield int(pid), cmdline


def kill_windows_processes_under(directory, name=""):
    for pid, _ in list(processes_under(directory, name)):
        with contextlib.suppress(ProcessLookupError, PermissionError):
            os.kill(pid, signal.SIGKILL)


class ProgramDir:
    """A throwaway folder with copies of `files` and, when asked, the stand-in engine as
    sing-box.exe beside them."""

    def __init__(self, files=(HELPER_EXE,), with_engine=False):
        self.path = tempfile.mkdtemp(prefix="pelno prog ")  # a space on purpose
        for name in files:
            shutil.copy(os.path.join(bin_dir(), name), self.path)
        if with_engine:
            shutil.copy(os.path.join(bin_dir(), STAND_IN_ENGINE_EXE), self.file("sing-box.exe"))

    def file(self, name):
        return os.path.join(self.path, name)

    def close(self):
        kill_windows_processes_under(self.path)
        shutil.rmtree(self.path, ignore_errors=True)


class HelperProcess(contextlib.AbstractContextManager):
    """The helper program running as a plain process under Wine, answering /ping."""

    def __init__(self, program_dir=None, with_engine=False):
        self.own_dir = program_dir is None
        self.dir = program_dir or ProgramDir(with_engine=with_engine)
        self.proc = start_windows([self.dir.file(HELPER_EXE)])
        if not wait_until(self.answers_ping, timeout=30):
            self.stop()
            raise RuntimeError("helper did not answer /ping")

    def answers_ping(self):
        if self.proc.poll() is not None:
            raise RuntimeError(f"helper exited with {self.proc.returncode}")
        try:
            return request("GET", "/ping", timeout=2).endswith(b"\r\n\r\npong")
        except OSError:
            return False

    def stop(self):
        self.proc.kill()  # a no-op once it has exited
        self.proc.wait(timeout=30)
        kill_windows_processes_under(self.dir.path)
        wait_until(lambda: not port_open(CONTROL_PORT), timeout=10)
        if self.own_dir:
            self.dir.close()

    def __exit__(self, *exc):
        self.stop()


class SilentHelper(contextlib.AbstractContextManager):
    """Takes the control port's connections and never answers them, until closed."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", CONTROL_PORT))
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        try:
            while True:
                self.held.append(self.listener.accept()[0])
        except OSError:
            pass

    def close(self):
        self.listener.shutdown(socket.SHUT_RDWR)  # wakes the accept, which would keep the port
        self.listener.close()
        for connection in self.held:
            connection.close()

    def __exit__(self, *exc):
        self.close()
