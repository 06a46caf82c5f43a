"""Timing, targets and the table every benchmark case prints its rows into.

A case is a pair (name, fn) in its module's CASES; fn(n, repeat) times
kestrane and its baselines on graphs of about n nodes, `repeat` runs each, and
prints one row per baseline with row() or report(). A case module runs alone
through main(); run.py runs them all.
"""

import argparse
import gc
import statistics
import sys
import time

# ---- timing ----------------------------------------------------------------------------


def timings(fn, repeat, clock=time.perf_counter):
    """The times of `repeat` runs of fn by `clock` (wall time unless said),
    each after a collection, and the last run's result."""
    times, out = [], None
    for _ in range(repeat):
        gc.collect()
        t0 = clock()
        out = fn()
        times.append(clock() - t0)
    return times, out


def median_time(fn, repeat, clock=time.perf_counter):
    return statistics.median(timings(fn, repeat, clock)[0])


def best(fn, repeat):
    """The fastest of `repeat` runs, and fn's result: on a shared machine the
    least disturbed run, which is what a fitted exponent should see."""
    times, out = timings(fn, repeat)
    return min(times), out


def best_time(fn, repeat):
    return best(fn, repeat)[0]


# ---- targets and rows ------------------------------------------------------------------


class Target:
    """A goal for one row, checked against the row's ratio (or value)."""

    def __init__(self, text, held):
        self.text, self.held = text, held


def at_most(x):
    return Target(f"<= {x}x", lambda r: r <= x)


def faster(x):
    return Target(f">= {x}x faster", lambda r: r > 0 and 1 / r >= x)


def bytes_at_most(x):
    return Target(f"<= {x} B", lambda b: b <= x)


COLUMNS = [("case", 70), ("kestrane", 10), ("baseline", 43), ("base time", 10), ("ratio", 22),
           ("target", 15), ("", 6)]
TARGETS = []  # (case, label, shown, target, held)


def print_row(cells):
    print(" | ".join(str(c).ljust(w) for c, (_, w) in zip(cells, COLUMNS)).rstrip(), flush=True)


def print_head():
    print_row([h for h, _ in COLUMNS])
    print("-+-".join("-" * w for _, w in COLUMNS), flush=True)


def fmt_time(t):
    if t is None:
        return "-"
    if t < 1e-6:
        return f"{t * 1e9:.0f} ns"
    if t < 1e-3:
        return f"{t * 1e6:.1f} us"
    if t < 1:
        return f"{t * 1e3:.2f} ms"
    return f"{t:.2f} s"


def fmt_ratio(r):
    if r is None:
        return "-"
    if r < 0.5:
        return f"{r:.3f}x ({1 / r:.0f}x faster)"
    return f"{r:.2f}x"


def check(case, label, value, shown, target):
    """Records whether `value` meets `target`; the mark for the row."""
    if target is None:
        return ""
    held = value is not None and target.held(value)
    TARGETS.append((case, label, shown, target, held))
    return "ok" if held else "MISSED"


def row(case, t, label, base, per=1, target=None):
    """One comparison: kestrane took `t`, the baseline `base` seconds (None
    when the baseline is missing) for `per` operations. `target` applies to
    the ratio t / base."""
    ratio = None if base is None or t is None else t / base
    mark = check(case, label, ratio, fmt_ratio(ratio), target)
    print_row([case, fmt_time(t / per), label, "missing" if base is None else fmt_time(base / per),
               fmt_ratio(ratio), target.text if target else "", mark])


def report(case, t, baselines, per=1, target=None):
    """baselines: list of (label, seconds or None); `target` applies to the
    first of them (the floor), the others are shown for comparison."""
    for i, (label, base) in enumerate(baselines):
        row(case, t, label, base, per, target if i == 0 else None)


# ---- running cases ---------------------------------------------------------------------


def arg_parser(doc):
    ap = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--nodes", type=int, default=200_000, help="nodes of the graphs the cases build")
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="3 repeats (run.py: scaling sizes up to 10^5)")
    return ap


def run_cases(cases, args):
    """The table of `cases`: its head, then each case's rows as they finish."""
    repeat = 3 if args.quick else args.repeat
    print(f"Python {sys.version.split()[0]}; median of {repeat} runs; ratio = kestrane time / baseline time\n")
    print_head()
    for _name, fn in cases:
        fn(args.nodes, repeat)


def summary(t0):
    """The run's time since `t0`, each target missed, and the count held."""
    print(f"\n(total {time.perf_counter() - t0:.0f} s)")
    missed = [t for t in TARGETS if not t[4]]
    for case, label, shown, target, _ in missed:
        print(f"MISSED: {case} against {label}: {shown}, target {target.text}")
    print(f"targets held: {len(TARGETS) - len(missed)}/{len(TARGETS)}")


def main(cases, doc, args=None):
    """A case module run alone: its table and the summary."""
    args = args or arg_parser(doc).parse_args()
    t0 = time.perf_counter()
    run_cases(cases, args)
    summary(t0)
