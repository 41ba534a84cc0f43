"""The accept loop under a storm, under Wine: 4 client threads sending GET /ping back to
back for 20 s, then the same with two client threads that each run POST /urltest of 12
nodes (stand-in engine) back to back, overlapping. Prints how many requests were
answered, how many were not (each waits 5 s for its reply; a /urltest run 30 s), and
when the first went unanswered. Every request must be answered.

A report, not a test: run it through bench/run-storm.sh.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import pelno_storm  # noqa: E402
import pelno_wine  # noqa: E402


def report(label, tally, seconds):
    answered, unanswered = tally.answered, tally.unanswered
    print(f"{label:<34} /ping {answered['ping']:6d} answered {unanswered['ping']:4d} unanswered   "
          f"/urltest {answered['urltest']:4d} answered {unanswered['urltest']:3d} unanswered   "
          f"({sum(answered.values()) / seconds:.0f} req/s)"
          + (f"   first unanswered at {tally.first_unanswered:.1f} s" if tally.first_unanswered is not None else ""))
    return sum(unanswered.values()) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=20.0, help="length of each storm")
    parser.add_argument("--rounds", type=int, default=1, help="storms of each kind, each on a fresh helper")
    args = parser.parse_args()
    ok = True
    for round_number in range(args.rounds):
        for label, urltests in (("4 clients /ping", 0), ("4 clients /ping + 2 x /urltest 12", 2)):
            # A fresh helper for each storm: one that stopped accepting would spoil the next.
            with pelno_wine.HelperProcess(with_engine=True):
                tally = pelno_storm.storm(args.seconds, ping_clients=4, urltest_clients=urltests)
                ok = report(f"{label} ({round_number + 1})", tally, args.seconds) and ok
    print(("PASS" if ok else "FAIL") + ": every request of every storm answered")


if __name__ == "__main__":
    main()
