"""Runs the Windows programs under Wine for tests that drive them from outside.

The programs are found in PELNO_BIN_DIR and started through PELNO_WINE_EXEC (the
build's wine-exec wrapper, which uses the test run's WINEPREFIX).
"""
import contextlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

CONTROL_PORT = 17891
HELPER_EXE = "PelnoVpnHelperService.exe"
STAND_IN_ENGINE_EXE = "pelno-stand-in-engine.exe"


def bin_dir():
    return os.environ["PELNO_BIN_DIR"]


def wine_exec():
    return os.environ["PELNO_WINE_EXEC"]


def run_windows(args, timeout=60, **kwargs):
    """Runs a Windows program to its end; returns the CompletedProcess."""
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    kwargs.setdefault("capture_output", True)
    return subprocess.run([wine_exec()] + list(args), timeout=timeout, **kwargs)


def windows_path(linux_path):
    """Z:\\... path under which Wine sees a Linux path."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def raw_request(data, port=CONTROL_PORT, timeout=10.0, read=True):
    """Sends bytes, reads until the server closes; returns the bytes received."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        if not read:
            return b""
        return recv_all(s)


def recv_all(sock):
    chunks = []
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)


def request(method, path, body=b"", headers=None, port=CONTROL_PORT, timeout=30.0):
    """One HTTP/1.1 request the way the application sends it; returns the raw response."""
    if isinstance(body, str):
        body = body.encode()
    head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
    for name, value in (headers or {}).items():
        head += f"{name}: {value}\r\n"
    if method == "POST":
        head += f"Content-Length: {len(body)}\r\n"
    return raw_request(head.encode() + b"\r\n" + body, port=port, timeout=timeout)


def split_response(raw):
    """(status line, [header lines], body) of a raw response."""
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], lines[1:], body


def port_open(port, host="127.0.0.1"):
    with contextlib.closing(socket.socket()) as s:
        s.settimeout(0.5)
        return s.connect_ex((host, port)) == 0


def wait_until(predicate, timeout=20.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def processes_under(directory):
    """(Linux pid, command line) of every process whose command line names a file in
    `directory`."""
    needle_unix = os.path.abspath(directory)
    needle_win = windows_path(directory).lower()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if needle_unix in cmdline or needle_win in cmdline.lower():
            yield int(pid), cmdline


def kill_windows_processes_under(directory):
    """Kills every Wine process whose command line names a file in `directory`."""
    for pid, _ in list(processes_under(directory)):
        with contextlib.suppress(ProcessLookupError, PermissionError):
            os.kill(pid, signal.SIGKILL)


class ProgramDir:
    """A throwaway folder holding copies of the programs, e.g. the helper with the
    stand-in engine beside it as sing-box.exe."""

    def __init__(self, with_engine=False, engine_name="sing-box.exe"):
        self.path = tempfile.mkdtemp(prefix="pelno prog ")  # a space on purpose
        shutil.copy(os.path.join(bin_dir(), HELPER_EXE), self.path)
        if with_engine:
            shutil.copy(os.path.join(bin_dir(), STAND_IN_ENGINE_EXE),
                        os.path.join(self.path, engine_name))

    def file(self, name):
        return os.path.join(self.path, name)

    def close(self):
        kill_windows_processes_under(self.path)
        shutil.rmtree(self.path, ignore_errors=True)


class HelperProcess:
    """The helper program running as a plain process under Wine."""

    def __init__(self, program_dir=None, with_engine=False, args=(), wait=True):
        self.own_dir = program_dir is None
        self.dir = program_dir or ProgramDir(with_engine=with_engine)
        self.proc = subprocess.Popen(
            [wine_exec(), self.dir.file(HELPER_EXE)] + list(args),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait and not wait_until(self.answers_ping, timeout=30):
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
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=30)
        kill_windows_processes_under(self.dir.path)
        wait_until(lambda: not port_open(CONTROL_PORT), timeout=10)
        if self.own_dir:
            self.dir.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
