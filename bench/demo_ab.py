"""The demo search (examples/search_demo.py) under two builds, interleaved in
one sitting: each round runs the search once with each interpreter, in turn.
Prints each run's whole search time and the median of each, and checks that
both print the same report (the times left out).

    python bench/demo_ab.py OLD_PYTHON [NEW_PYTHON] [--steps 6] [--rounds 5]

Each interpreter imports the kestrane installed in its own environment (a
venv of a checkout of the old commit, say); NEW_PYTHON defaults to this one.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys

DEMO = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "search_demo.py")
TIME = re.compile(r"\(\d+\.\d+ s\)|in \d+\.\d+ s")


def run(python, steps):
    """(whole search time, report without its times)"""
    out = subprocess.run([python, DEMO, str(steps)], capture_output=True, text=True, check=True).stdout
    total = float(re.search(r"explored \d+ graphs in (\d+\.\d+) s", out).group(1))
    return total, TIME.sub("", out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("old")
    ap.add_argument("new", nargs="?", default=sys.executable)
    ap.add_argument("--steps", type=int, default=6)
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    times = {"old": [], "new": []}
    reports = set()
    for r in range(args.rounds):
        for name in ("old", "new"):
            t, report = run(getattr(args, name), args.steps)
            times[name].append(t)
            reports.add(report)
            print(f"round {r + 1}: {name} {t:.2f} s", flush=True)
    old, new = statistics.median(times["old"]), statistics.median(times["new"])
    print(f"median: old {old:.2f} s, new {new:.2f} s: {old / new:.2f}x faster "
          f"(old {min(times['old']):.2f}-{max(times['old']):.2f} s, new {min(times['new']):.2f}-{max(times['new']):.2f} s)")
    print("reports identical" if len(reports) == 1 else "REPORTS DIFFER")
    if len(reports) != 1:
        sys.exit(1)


if __name__ == "__main__":
    main()
