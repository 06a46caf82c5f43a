"""Benchmarks: kestrane against the interpreter's floor, pure-Python versions of
the same steps, and the graph libraries users would pick instead.

Every figure is a median of several runs measured in this one process, and
every ratio is taken against a baseline measured in the same run. Rows are
printed as they finish; a row whose target is missed is marked MISSED, and
the last line counts the targets held. A scaling section then times the
graph operations at growing sizes, prints the fitted exponent of each and
writes a plot (build/bench-scaling.png).

    make bench                       # everything, a few minutes
    make bench BENCH_ARGS=--quick    # fewer repeats, sizes up to 10^5

The cases live in the modules below (harness.py says what a case is); each
also runs alone.
"""

import importlib
import time

import harness
import peers
import scaling

CASE_MODULES = [
    "bench_construction",
    "bench_graph_ops",
    "bench_enumerations",
    "bench_memory",
    "bench_search",
]


def main():
    ap = harness.arg_parser(__doc__)
    ap.add_argument("--no-scaling", action="store_true", help="skip the scaling section")
    ap.add_argument("--plot", default=scaling.PLOT)
    args = ap.parse_args()
    if peers.missing():
        print("missing peers (shown as missing):", ", ".join(peers.missing()))
    cases = [case for name in CASE_MODULES for case in importlib.import_module(name).CASES]
    t0 = time.perf_counter()
    harness.run_cases(cases, args)
    if not args.no_scaling:
        scaling.run_scaling(scaling.sizes(args.quick), args.plot)
    harness.summary(t0)


if __name__ == "__main__":
    main()
