"""Shared pieces of the stand-in engine's Python tests: a throwaway folder with the
program copied as sing-box.exe, configuration files, and small local servers."""
import contextlib
import http.server
import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading

import pelno_wine

ENGINE_NAME = "sing-box.exe"


class EngineDir:
    """A folder whose name has a space, holding the stand-in as sing-box.exe."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="pelno engine ")
        self.exe = os.path.join(self.path, ENGINE_NAME)
        shutil.copy(os.path.join(pelno_wine.bin_dir(), pelno_wine.STAND_IN_ENGINE_EXE), self.exe)
        self.procs = []

    def file(self, name):
        return os.path.join(self.path, name)

    def write_config(self, config, name="sing-box.json"):
        path = self.file(name)
        with open(path, "w", encoding="utf-8") as f:
            if isinstance(config, str):
                f.write(config)
            else:
                json.dump(config, f)
        return path

    def run_args(self, config_path):
        return [self.exe, "run", "-c", pelno_wine.windows_path(config_path)]

    def fetch_args(self, config_path, tag, url):
        return [self.exe, "--disable-color", "-c", pelno_wine.windows_path(config_path),
                "tools", "-o", tag, "fetch", url]

    def run(self, args, timeout=60, **kwargs):
        return pelno_wine.run_windows(args, timeout=timeout, **kwargs)

    def start(self, args, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen([pelno_wine.wine_exec()] + list(args), **kwargs)
        self.procs.append(proc)
        return proc

    def close(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(timeout=30)
        pelno_wine.kill_windows_processes_under(self.path)
        shutil.rmtree(self.path, ignore_errors=True)


def free_port():
    with contextlib.closing(socket.socket()) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class _QuietHandler(http.server.BaseHTTPRequestHandler):
    """/ok → 200 with a small body, /data → 200 with server.data_size bytes,
    /generate_204 → 204, anything else → 404. Records each request's line and headers."""

    def do_GET(self):
        self.server.seen.append((self.requestline, dict(self.headers.items())))
        if self.path == "/ok":
            body = b"ok"
            self.send_response(200)
        elif self.path == "/data":
            body = b"d" * self.server.data_size
            self.send_response(200)
        elif self.path == "/generate_204":
            body = b""
            self.send_response(204)
        else:
            body = b"missing"
            self.send_response(404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class OriginServer:
    """A Python HTTP server on 127.0.0.1 in a thread of its own."""

    def __init__(self, data_size=5000):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _QuietHandler)
        self.server.seen = []
        self.server.data_size = data_size
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    @property
    def seen(self):
        return self.server.seen

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()
