"""Engine configurations for the stand-in engine, finding its processes, and an origin
server for the requests it relays."""
import contextlib
import http.server
import json
import socket
import threading

import pelno_wine


def free_port():
    with contextlib.closing(socket.socket()) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def engine_config(mixed_port=None, controller=None, **stand_in):
    """A configuration as the user interface would send it, plus stand-in behaviour."""
    config = {"log": {"level": "warn"}, "inbounds": [], "outbounds": [{"type": "direct", "tag": "direct"}]}
    if stand_in:
        config["stand_in"] = stand_in
    if mixed_port is not None:
        config["inbounds"].append({"type": "mixed", "tag": "pelno-vpn-mixed",
                                   "listen": "127.0.0.1", "listen_port": mixed_port})
    if controller is not None:
        config["experimental"] = {"clash_api": {"external_controller": controller}}
    return json.dumps(config, indent=2)


# The test URL of latency tests: the scripted stand-in engine never fetches it.
TEST_URL = "http://127.0.0.1:9/generate_204"


def urltest_request(tags, config, request_id=b""):
    """The raw POST /urltest the application sends: `tags` (bytes) measured against `config`."""
    field = lambda v: b"%d\n%s\n" % (len(v), v)  # noqa: E731
    body = b"PELNOVPN_URLTEST_V2\n" + field(request_id) + field(TEST_URL.encode())
    body += b"%d\n" % len(tags) + b"".join(map(field, tags)) + field(config.encode())
    return b"POST /urltest HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %d\r\n\r\n" % len(body) + body


def open_urltest(tags, config, request_id=b"", receive_buffer=0, timeout=30):
    """A connection that has sent that request and read nothing yet; a small receive buffer
    stalls a client that does not read the sooner."""
    s = socket.socket()
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.settimeout(timeout)
    s.connect(("127.0.0.1", pelno_wine.CONTROL_PORT))
    s.sendall(urltest_request(tags, config, request_id))
    return s


def engine_processes(program_dir):
    """Linux pids of Wine processes running sing-box.exe from `program_dir`."""
    return [pid for pid, _ in pelno_wine.processes_under(program_dir, "sing-box.exe")]


def serve_origin(test_class, body):
    """Answers every GET with `body` on a free loopback port (returned) until the class's clean-up."""
    class Origin(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Origin)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    test_class.addClassCleanup(server.server_close)
    test_class.addClassCleanup(server.shutdown)
    return server.server_port
