"""POST /urltest and /cancel-urltest with the stand-in engine under Wine."""
import glob
import json
import os
import re
import time
import unittest

import pelno_wine
from pelno_engine import TEST_URL as URL, engine_config, engine_processes, open_urltest
from pelno_wine import call, recv_all, request, wait_until

HEADER = b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n"


def open_stream(tags, request_id="", receive_buffer=0, **stand_in):
    stand_in["fetch"] = {t: {} for t in tags} | stand_in.get("fetch", {})  # scripted: no network
    return open_urltest([t.encode() for t in tags], engine_config(**stand_in), request_id.encode(), receive_buffer)


def lines(raw):
    assert raw.startswith(HEADER), raw
    return [json.loads(line) for line in raw[len(HEADER):].splitlines()]


def run(*args, **kwargs):
    with open_stream(*args, **kwargs) as s:
        return lines(recv_all(s))


def cancel(request_id):
    return call("POST", "/cancel-urltest", request_id)["status"]


def logs():
    return request("GET", "/logs").decode()


def data_file(name):  # the engines run in the data directory: relative files land there
    return os.path.join(pelno_wine.data_dir(), name)


def records(name):
    with open(data_file(name), encoding="utf-8") as f:
        return [json.loads(line) for line in f]


class UrlTestStreamTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.helper = pelno_wine.HelperProcess(with_engine=True)
        cls.addClassCleanup(cls.helper.stop)
        [os.remove(f) for f in glob.glob(data_file("*.jsonl"))]  # noqa: records of an earlier run

    def test_results_arguments_and_failures(self):
        odd = ['a" run -c "x', "ends\\", "plain tag", 'q"b\\s\r\nt\tc\x01', "dup", "dup"]
        tags, fetch = odd + ["exits 1", "slow"], {"exits 1": {"fail": True}, "slow": {"delay_ms": 3600}}
        # Every engine prints 512 KiB, far more than a pipe holds, and still succeeds.
        results = run(tags, "r", record_file="r.jsonl", stdout="x" * 1023 + "\n", output_repeat=512, fetch=fetch)
        delays = {r["nodeTag"]: r["delayMs"] for r in results}
        self.assertEqual((len(results), min(delays[t] for t in odd) > 0, delays["exits 1"], delays["slow"],
                          results[-1]["nodeTag"]), (8, True, 0, 0, "slow"), results)
        self.assertFalse(engine_processes(self.helper.dir.path))
        launches = records("r.jsonl")
        self.assertEqual(sorted(r["argv"][6] for r in launches), sorted(tags))
        self.assertIn(f' tools -o "plain tag" fetch "{URL}"', "".join(r["command_line"] for r in launches))
        # Wine gives every child one handle; beyond it each engine has its own pipe end only.
        shared = set.intersection(*(set(r["inheritable_handles"]) for r in launches))
        for r in launches:
            self.assertEqual(len(set(r["inheritable_handles"]) - shared), 1, r)
            self.assertEqual(r["argv"][1:6] + r["argv"][7:], ["--disable-color", "-c", r["argv"][3], "tools",
                                                              "-o", "fetch", URL])

    def test_a_file_per_run(self):
        names = []
        for record in ("a.jsonl", "b.jsonl"):
            self.assertEqual(len(run(["n"] * 3, record_file=record)), 3)
            [name] = {r["argv"][3] for r in records(record)}
            names.append(re.search(r"-(\d+)-(\d+)\.json$", name).groups())
        (pid, first), (pid2, second) = names
        self.assertEqual((pid2, int(second)), (pid, int(first) + 1))
        self.assertEqual(glob.glob(data_file("sing-box-urltest-*")), [])

    def test_cancels_and_a_missing_engine(self):
        with open_stream(["fast", "s1", "s2"], "stop", fetch={"s1": {"delay_ms": 2500}, "s2": {"delay_ms": 2500}}) as s:
            raw = b""
            while raw.count(b"\n") < 5:
                raw += s.recv(4096)
            self.assertEqual(cancel("stop"), "canceled")
            start = time.monotonic()
            self.assertEqual(([r["nodeTag"] for r in lines(raw + recv_all(s))], time.monotonic() - start < 1.5),
                             (["fast"], True))
        self.assertTrue(wait_until(lambda: not engine_processes(self.helper.dir.path), 2))
        self.assertRegex(logs(),
                         r"URLTest cancel requested: stop, processes=2\r\n"
                         r"(\[[^]]*\] [^\r]*\r\n)*?\[[^]]*\] URLTest stream completed for 3 nodes\r\n")
        os.rename(self.helper.dir.file("sing-box.exe"), self.helper.dir.file("away.exe"))
        self.addCleanup(os.rename, self.helper.dir.file("away.exe"), self.helper.dir.file("sing-box.exe"))
        self.assertEqual([r["delayMs"] for r in run(["a", "b"])], [0, 0])  # no engine: a normal end

    def test_a_client_that_stops_reading_cannot_hold_its_run(self):
        # 20 results of 1 MiB each (the tags are too long for a command line: each fails at
        # once) fill the connection; one client is canceled, one left to the send time-out,
        # one has gone. No run measures on.
        for rid in ("stalled", "silent"):
            tags = [f"{rid}{i:02}-" + "x" * (1 << 20) for i in range(20)]
            self.addCleanup(open_stream(tags, rid, receive_buffer=4096).close)
        open_stream([f"g{i}" for i in range(13)], "gone", fetch={f"g{i}": {"delay_ms": 300} for i in range(13)}).close()
        time.sleep(3)
        self.assertNotIn("completed for 20 nodes", logs())
        self.assertEqual(cancel("stalled"), "canceled")
        self.assertTrue(wait_until(lambda: "completed for 20 nodes" in logs(), 3), logs())
        self.assertTrue(wait_until(lambda: "abandoned for 20 nodes, requestId=silent" in logs(), 15), logs())
        self.assertRegex(logs(), r"URLTest stream abandoned for 13 nodes, requestId=gone: a result could not be sent")
        self.assertEqual(glob.glob(data_file("sing-box-urltest-*")), [])


if __name__ == "__main__":
    unittest.main()
