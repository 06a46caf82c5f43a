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
"""

import argparse
import gc
import importlib
import os
import statistics
import subprocess
import sys
import time

# Case modules import this one as `run`; let them share its tables.
sys.modules.setdefault("run", sys.modules[__name__])

from graphs import build_kestrane, chain, layered, plain_edges  # noqa: E402

import kestrane  # noqa: E402

PEERS = {}
for _name in ("networkx", "rustworkx", "igraph"):
    try:
        PEERS[_name] = importlib.import_module(_name)
    except ImportError:
        PEERS[_name] = None


def run_times(fn, repeat):
    """The wall times of `repeat` runs of fn, each after a collection."""
    times = []
    for _ in range(repeat):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return times


def median_time(fn, repeat):
    return statistics.median(run_times(fn, repeat))


# ---- targets and rows ----------------------------------------------------------------


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


def peer_rows(label_fns, repeat):
    out = []
    for label, fn in label_fns:
        lib = label.split()[0]
        out.append((label, median_time(fn, repeat) if PEERS.get(lib) is not None else None))
    return out


# ---- peers' versions of the same graph ---------------------------------------------


def build_networkx(nodes, edges):
    nx = PEERS["networkx"]
    g = nx.DiGraph()
    g.add_nodes_from(range(len(nodes)))
    g.add_edges_from(plain_edges(edges))
    return g


def build_rustworkx(nodes, edges):
    rx = PEERS["rustworkx"]
    g = rx.PyDiGraph()
    g.add_nodes_from(nodes)
    g.add_edges_from_no_data(plain_edges(edges))
    return g


def build_igraph(nodes, edges):
    ig = PEERS["igraph"]
    return ig.Graph(n=len(nodes), edges=plain_edges(edges), directed=True)


PEER_BUILDERS = {"rustworkx": build_rustworkx, "igraph": build_igraph, "networkx": build_networkx}


def peer_walk(lib, g):
    """A depth-first walk from node 0 in a peer library, as a callable."""
    if lib == "rustworkx":
        return lambda: PEERS["rustworkx"].dfs_edges(g, 0)
    if lib == "igraph":
        return lambda: g.dfs(0, mode="out")
    return lambda: list(PEERS["networkx"].dfs_preorder_nodes(g, 0))


PEER_WALK_NAMES = {"rustworkx": "dfs_edges", "igraph": "dfs", "networkx": "dfs_preorder_nodes"}


# ---- cases ---------------------------------------------------------------------------


def bench_add_value(_n, repeat):
    """add_value_with_payload per call on a fresh graph, against builtin
    calls of the same shape."""
    calls = 200_000
    r = range(calls)

    def subject():
        add = kestrane.RustGraph().add_value_with_payload
        for i in r:
            add(i, 3)

    def extend_floor():
        ext, chunk = bytearray().extend, bytes(64)
        for _ in r:
            ext(chunk)

    def get_floor():
        get = {}.get
        for i in r:
            get(i, 3)

    t = median_time(subject, repeat)
    report(f"add_value_with_payload ({calls} calls, per call)", t,
           [("floor: bytearray.extend(bytes(64))", median_time(extend_floor, repeat)),
            ("dict.get(i, 3)", median_time(get_floor, repeat))], per=calls, target=at_most(1.1))


def bench_construction(n, repeat):
    nodes, edges = layered(n)
    calls = len(nodes) + len(edges) + 1
    t = median_time(lambda: build_kestrane(kestrane, nodes, edges), repeat)

    # The same loop shape calling a trivial builtin method of the same arity.
    d = {}

    def floor():
        get = d.get
        for nd in nodes:
            if nd[0] == "v":
                get(nd[1], nd[2])
            else:
                get(nd[1])
        for kind, a, b in edges:
            if kind == "vo":
                get(a, b)
            else:
                get(a, b)
        get(0)

    baselines = [("floor: dict.get, same arity", median_time(floor, repeat))]
    baselines += peer_rows([(f"{lib} graph", lambda lib=lib: PEER_BUILDERS[lib](nodes, edges))
                            for lib in PEER_BUILDERS], repeat)
    report(f"construction ({len(nodes)} nodes, per call)", t, baselines, per=calls)


def bench_traversal(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    count = len(nodes)
    floor = median_time(lambda: list(range(count)), repeat)
    peers = []
    for lib, build in PEER_BUILDERS.items():
        label = f"{lib} {PEER_WALK_NAMES[lib]}"
        peers.append((label, median_time(peer_walk(lib, build(nodes, edges)), repeat) if PEERS[lib] else None))
    for name, fn, target in [("walk_from_root(True, True)", lambda: g.walk_from_root(True, True), at_most(1.5)),
                             ("leaves()", g.leaves, at_most(1.2))]:
        report(f"{name} ({count} nodes)", median_time(fn, repeat),
               [("floor: list(range(n))", floor)] + peers, target=target)


MEMORY_CODE = r"""
import sys, os
sys.path.insert(0, {here!r})
from graphs import layered, build_kestrane, plain_edges
lib = {lib!r}
nodes, edges = layered({n})
pe = plain_edges(edges)
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
import importlib
mod = importlib.import_module(lib)  # the library's own pages are not the graph's
import gc; gc.collect()
before = rss()
if lib == "kestrane":
    g = build_kestrane(mod, nodes, edges)
elif lib == "rustworkx":
    g = mod.PyDiGraph(); g.add_nodes_from(range(len(nodes))); g.add_edges_from_no_data(pe)
elif lib == "igraph":
    g = mod.Graph(n=len(nodes), edges=pe, directed=True)
else:
    g = mod.DiGraph(); g.add_nodes_from(range(len(nodes))); g.add_edges_from(pe)
gc.collect()
print((rss() - before) / len(nodes))
"""


def bench_memory(n):
    """Resident memory per node: RSS growth while a fresh interpreter builds
    the graph (the node and edge lists exist before the first reading)."""
    here = os.path.dirname(os.path.abspath(__file__))
    figures = {}
    for lib in ("kestrane", "rustworkx", "igraph", "networkx"):
        if lib != "kestrane" and PEERS.get(lib) is None:
            figures[lib] = None
            continue
        out = subprocess.run([sys.executable, "-c", MEMORY_CODE.format(here=here, lib=lib, n=n)],
                             capture_output=True, text=True, timeout=600)
        figures[lib] = float(out.stdout.strip()) if out.returncode == 0 else None
    k = figures.pop("kestrane")
    case = f"memory per node ({n} nodes, fresh interpreter)"
    shown = "-" if k is None else f"{k:.0f} B"
    target = bytes_at_most(64)
    print_row([case, shown, "(bytes per node)", "", "", target.text, check(case, "its target", k, shown, target)])
    for lib, b in figures.items():
        print_row([case, shown, f"{lib}", "missing" if b is None else f"{b:.0f} B", "", "", ""])


def bench_chain_cross_sections(_n, repeat, lengths=(1000, 2000, 4000, 8000)):
    """cross_sections on a chain, per result, as the chain grows: one result
    per value node on the trace, so a flat per-result time means each result
    costs the same however long the chain."""
    per_result = {}
    for values in lengths:
        nodes, edges = chain(values)
        g = build_kestrane(kestrane, nodes, edges)
        bottom = len(nodes) - 1
        results = len(g.cross_sections([bottom]))
        assert results == values
        per_result[values] = median_time(lambda: g.cross_sections([bottom]), repeat) / results
    first, last = lengths[0], lengths[-1]
    for values in lengths[1:]:
        row(f"cross_sections, chain of {values} value nodes, per result", per_result[values],
            f"same on a chain of {first}", per_result[first],
            target=at_most(1.5) if values == last else None)


EXTRA_CASES = []  # (name, fn(n, repeat)) added by the modules below


def load_extra_cases():
    for mod in ("bench_graph_ops", "bench_enumerations", "bench_search"):
        m = importlib.import_module(mod)
        EXTRA_CASES.extend(getattr(m, "CASES", []))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nodes", type=int, default=200_000)
    ap.add_argument("--memory-nodes", type=int, default=200_000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="3 repeats, scaling sizes up to 10^5")
    ap.add_argument("--no-scaling", action="store_true", help="skip the scaling section")
    ap.add_argument("--plot", default=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                                   "build", "bench-scaling.png"))
    args = ap.parse_args()
    repeat = 3 if args.quick else args.repeat
    missing = [k for k, v in PEERS.items() if v is None]
    if missing:
        print("missing peers (shown as missing):", ", ".join(missing))
    print(f"Python {sys.version.split()[0]}; median of {repeat} runs; ratio = kestrane time / baseline time\n")
    t0 = time.perf_counter()
    print_head()
    bench_add_value(args.nodes, repeat)
    bench_construction(args.nodes, repeat)
    bench_traversal(args.nodes, repeat)
    load_extra_cases()
    for _name, fn in EXTRA_CASES:
        fn(args.nodes, repeat)
    bench_chain_cross_sections(args.nodes, repeat)
    bench_memory(args.memory_nodes)
    if not args.no_scaling:
        import scaling

        scaling.run_scaling([10**4, 10**5] if args.quick else [10**4, 10**5, 10**6], args.plot)
    print(f"\n(total {time.perf_counter() - t0:.0f} s)")
    missed = [t for t in TARGETS if not t[4]]
    for case, label, shown, target, _ in missed:
        print(f"MISSED: {case} against {label}: {shown}, target {target.text}")
    print(f"targets held: {len(TARGETS) - len(missed)}/{len(TARGETS)}")


if __name__ == "__main__":
    main()
