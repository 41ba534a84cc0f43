"""Shared pieces of the stand-in engine's Python tests: the program copied as
sing-box.exe into a folder whose name has a space, configuration files, and a small
origin server."""
import http.server
import json
import threading

import pelno_wine

PAGES = {"/ok": (200, b"ok"), "/data": (200, b"d" * 5000), "/generate_204": (204, b"")}


class EngineDir(pelno_wine.ProgramDir):
    def __init__(self):
        super().__init__(with_engine=True)

    def write_config(self, config, name="sing-box.json"):
        """Writes a configuration (text, a JSON value, None for no file); returns its
        Windows path."""
        if config is not None:
            with open(self.file(name), "w", encoding="utf-8") as f:
                f.write(config if isinstance(config, str) else json.dumps(config))
        return pelno_wine.windows_path(self.file(name))

    def run(self, *args):
        return pelno_wine.run_windows([self.file("sing-box.exe")] + list(args), timeout=60)


class _Handler(http.server.BaseHTTPRequestHandler):
    """The PAGES, 404 for any other path; records each request's line and headers."""

    def do_GET(self):
        self.server.seen.append((self.requestline, dict(self.headers.items())))
        status, body = PAGES.get(self.path, (404, b"missing"))
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class OriginServer(http.server.ThreadingHTTPServer):
    """A Python HTTP server on 127.0.0.1 in a thread of its own."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), _Handler)
        self.seen, self.port = [], self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self.shutdown()
        self.server_close()
