"""POST /urltest and /cancel-urltest against the helper and the stand-in engine under
Wine: the stream, the engines' command lines and concurrency, time-outs, cancels and
the run's configuration file."""
import contextlib
import glob
import json
import os
import re
import socket
import time
import unittest

import pelno_wine
from pelno_engine import engine_config, engine_processes
from pelno_wine import request, split_response, wait_until

HEADER = b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n"
URL = "http://127.0.0.1:9/generate_204"


def field(value):
    return str(len(value)).encode() + b"\n" + value + b"\n"


def body(tags, request_id="", version=2, **stand_in):
    """A request as the application writes it; `stand_in` scripts the engine."""
    config = engine_config(**stand_in).encode()
    data = b"PELNOVPN_URLTEST_V%d\n" % version
    data += (field(request_id.encode()) if version == 2 else b"") + field(URL.encode())
    data += b"%d\n" % len(tags) + b"".join(field(t.encode()) for t in tags)
    return data + str(len(config)).encode() + b"\n" + config


def open_stream(data):
    s = socket.create_connection(("127.0.0.1", pelno_wine.CONTROL_PORT), timeout=30)
    s.sendall(b"POST /urltest HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %d\r\n\r\n"
              % len(data) + data)
    return s


def run(data):
    """The stream's head and its result lines, parsed."""
    with open_stream(data) as s:
        raw = pelno_wine.recv_all(s)
    head, _, rest = raw.partition(b"\r\n\r\n")
    return head + b"\r\n\r\n", [json.loads(line) for line in rest.splitlines()]


def next_bytes(sock):
    """What waits on a non-blocking socket: bytes, b"" at its end, None when nothing."""
    try:
        return sock.recv(65536)
    except BlockingIOError:
        return None


def data_dir():
    prefix = os.environ.get("WINEPREFIX",
                            os.path.join(os.path.dirname(pelno_wine.wine_exec()), "wineprefix"))
    return glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming",
                                  "PelnoVPN"))[0]


def records(name):
    """The stand-in's launch records of a relative record_file (the engine runs in the
    data directory), then the file is removed."""
    path = os.path.join(data_dir(), name)
    with open(path, encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    os.remove(path)
    return lines


class UrlTestStreamTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.helper = pelno_wine.HelperProcess(with_engine=True)
        cls.addClassCleanup(cls.helper.stop)
        for stale in glob.glob(os.path.join(data_dir(), "*.jsonl")):
            os.remove(stale)

    def engines(self):
        return engine_processes(self.helper.dir.path)

    def most_engines_at_once(self, data, record):
        """Results and the most engines measuring at once: those that have written their
        launch record minus the results received (a result is sent before its worker
        takes the next node)."""
        path, received, most = os.path.join(data_dir(), record), b"", 0
        with open_stream(data) as s:
            s.setblocking(False)
            while True:
                started = 0
                with contextlib.suppress(FileNotFoundError), open(path, "rb") as f:
                    started = f.read().count(b"\n")
                while (chunk := next_bytes(s)) not in (b"", None):
                    received += chunk
                if chunk == b"":
                    break
                most = max(most, started - received.partition(HEADER)[2].count(b"\n"))
                time.sleep(0.02)
        return [json.loads(line) for line in received.partition(HEADER)[2].splitlines()], most

    def test_results_escaping_arguments_and_failures(self):
        odd = ['a" run -c "x', "ends\\", "plain tag", 'q"b\\s\r\nt\tc\x01']
        tags = odd + ["dup", "dup", "exits 1", "slow"]
        fetch = {**{t: {} for t in tags}, "exits 1": {"fail": True}, "slow": {"delay_ms": 3600}}
        # Every engine prints 512 KiB, far more than a pipe holds, and still succeeds.
        head, lines = run(body(tags, "r-main", record_file="main.jsonl", fetch=fetch,
                                  stdout="x" * 1023 + "\n", output_repeat=512))
        self.assertEqual(head, HEADER)
        self.assertEqual(sorted(line["nodeTag"] for line in lines), sorted(tags))
        delays = {line["nodeTag"]: line["delayMs"] for line in lines}
        self.assertTrue(all(delays[t] > 0 for t in odd + ["dup"]), delays)
        self.assertEqual((delays["exits 1"], delays["slow"]), (0, 0))
        self.assertEqual(lines[-1]["nodeTag"], "slow")  # the others did not wait for it
        self.assertFalse(self.engines())

        launches = records("main.jsonl")
        self.assertEqual(sorted(r["argv"][6] for r in launches), sorted(tags))
        # One handle that Wine gives every child, and the engine's own pipe end: never
        # the pipe of an engine started at the same time.
        shared = set.intersection(*(set(r["inheritable_handles"]) for r in launches))
        for r in launches:
            self.assertEqual(len(set(r["inheritable_handles"]) - shared), 1, r)
            self.assertEqual(r["argv"][:6] + r["argv"][7:],
                             [r["argv"][0], "--disable-color", "-c", r["argv"][3], "tools", "-o",
                              "fetch", URL])
            self.assertTrue(r["cwd"].lower().endswith("\\appdata\\roaming\\pelnovpn"), r)
        plain = next(r for r in launches if r["argv"][6] == "plain tag")
        self.assertTrue(plain["command_line"].endswith(
            f'" tools -o "plain tag" fetch "{URL}"'), plain["command_line"])

    def test_twelve_engines_at_a_time_and_a_file_per_run(self):
        # Long enough that each round's engines have all started before one ends.
        slow = {"fetch": {f"n{i}": {"delay_ms": 2000} for i in range(30)}}
        lines, most = self.most_engines_at_once(
            body([f"n{i}" for i in range(30)], record_file="many.jsonl", **slow), "many.jsonl")
        self.assertEqual((len(lines), most), (30, 12))
        lines, most = self.most_engines_at_once(
            body(["n0", "n1", "n2"], record_file="few.jsonl", **slow), "few.jsonl")
        self.assertEqual((len(lines), most), (3, 3))

        files = [{r["argv"][3] for r in records(name)} for name in ("many.jsonl", "few.jsonl")]
        self.assertEqual([len(f) for f in files], [1, 1])  # one file for all nodes of a run
        numbers = [re.search(r"\\sing-box-urltest-(\d+)-(\d+)\.json$", f.pop()).groups()
                   for f in files]
        self.assertEqual(numbers[0][0], numbers[1][0])
        self.assertEqual(int(numbers[1][1]), int(numbers[0][1]) + 1)
        self.assertEqual(glob.glob(os.path.join(data_dir(), "sing-box-urltest-*")), [])

    def test_without_an_engine_every_node_fails(self):
        engine = self.helper.dir.file("sing-box.exe")
        os.rename(engine, engine + ".away")
        try:
            head, lines = run(body(["a", "b", "c"]))
        finally:
            os.rename(engine + ".away", engine)
        self.assertEqual((head, [line["delayMs"] for line in lines]), (HEADER, [0, 0, 0]))

    def test_cancels(self):
        def cancel(request_id):
            status, _, reply = split_response(request("POST", "/cancel-urltest", request_id))
            return json.loads(reply)["status"]

        self.assertEqual(cancel("early"), "canceled")  # before its run: forgotten
        self.assertEqual([line["delayMs"] > 0 for line in run(body(["a"], "early", fetch={"a": {}}))[1]], [True])

        slow = {"fetch": {"fast": {}, "s1": {"delay_ms": 2500}, "s2": {"delay_ms": 2500}}}
        with open_stream(body(["fast", "s1", "s2"], "stop-me", **slow)) as s:
            received = b""
            while b"\n" not in received.partition(HEADER)[2]:
                received += s.recv(4096)
            self.assertEqual(cancel("stop-me"), "canceled")
            start = time.monotonic()
            received += pelno_wine.recv_all(s)
            self.assertLess(time.monotonic() - start, 1.5)
        self.assertEqual([json.loads(l)["nodeTag"] for l in received.partition(HEADER)[2].splitlines()],
                         ["fast"])
        self.assertTrue(wait_until(lambda: not self.engines(), 2))
        log = split_response(request("GET", "/logs"))[2].decode()
        self.assertRegex(log, r"URLTest cancel requested: stop-me, processes=2\r\n"
                              r"(\[[^]]*\] [^\r]*\r\n)*?\[[^]]*\] URLTest stream completed for 3 nodes\r\n")

        # Neither a version 1 run nor one whose client has gone stops for that.
        v1 = {"fetch": {"a": {"delay_ms": 1000}}}
        with open_stream(body(["a"], version=1, **v1)) as s:
            self.assertEqual(cancel(""), "ignored")
            self.assertGreater(json.loads(pelno_wine.recv_all(s).partition(HEADER)[2])["delayMs"], 0)
        gone = {"fetch": {f"g{i}": {"delay_ms": 500} for i in range(13)}}
        open_stream(body([f"g{i}" for i in range(13)], "gone", record_file="gone.jsonl",
                         **gone)).close()
        self.assertTrue(wait_until(lambda: "stream completed for 13 nodes" in
                                   split_response(request("GET", "/logs"))[2].decode(), 20))
        self.assertEqual(len(records("gone.jsonl")), 13)


if __name__ == "__main__":
    unittest.main()
