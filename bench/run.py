"""Benchmarks: kestrane against the interpreter's floor, pure-Python versions of
the same steps, and the graph libraries users would pick instead.

Every figure is a median of several runs measured in this one process, and
every row is a ratio against a baseline measured in the same run.
Run with `make bench`.
"""

import argparse
import gc
import importlib
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# Case modules import this one as `run`; let them share its tables.
sys.modules.setdefault("run", sys.modules[__name__])

import kestrane  # noqa: E402
from graphs import build_kestrane, layered, plain_edges  # noqa: E402

PEERS = {}
for _name in ("networkx", "rustworkx", "igraph"):
    try:
        PEERS[_name] = importlib.import_module(_name)
    except ImportError:
        PEERS[_name] = None


def median_time(fn, repeat):
    times = []
    for _ in range(repeat):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


ROWS = []


def report(case, subject_time, baselines, per=1, target=None):
    """baselines: list of (label, seconds or None when missing)."""
    for label, t in baselines:
        if t is None:
            ROWS.append((case, subject_time / per, label, None, None, target))
        else:
            ROWS.append((case, subject_time / per, label, t / per, subject_time / t, target))


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


# ---- cases ---------------------------------------------------------------------------


def bench_construction(n, repeat):
    nodes, edges = layered(n)
    calls = len(nodes) + len(edges) + 1
    t = median_time(lambda: build_kestrane(kestrane, nodes, edges), repeat)

    # The interpreter's floor: the same loop shape calling a trivial builtin
    # method of the same arity instead.
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
    baselines += peer_rows([
        ("rustworkx PyDiGraph", lambda: build_rustworkx(nodes, edges)),
        ("igraph Graph", lambda: build_igraph(nodes, edges)),
        ("networkx DiGraph", lambda: build_networkx(nodes, edges)),
    ], repeat)
    report(f"construction ({len(nodes)} nodes, per call)", t, baselines, per=calls, target="<=1.5x floor")


def bench_traversal(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    count = len(nodes)
    floor = median_time(lambda: list(range(count)), repeat)
    peers = []
    if PEERS["rustworkx"]:
        rg = build_rustworkx(nodes, edges)
        peers.append(("rustworkx dfs_edges", lambda: PEERS["rustworkx"].dfs_edges(rg, 0)))
    else:
        peers.append(("rustworkx dfs_edges", None))
    if PEERS["igraph"]:
        ig = build_igraph(nodes, edges)
        peers.append(("igraph dfs", lambda: ig.dfs(0, mode="out")))
    else:
        peers.append(("igraph dfs", None))
    if PEERS["networkx"]:
        nxg = build_networkx(nodes, edges)
        peers.append(("networkx dfs_preorder_nodes",
                      lambda: list(PEERS["networkx"].dfs_preorder_nodes(nxg, 0))))
    else:
        peers.append(("networkx dfs_preorder_nodes", None))
    peer_times = [(label, median_time(fn, repeat) if fn else None) for label, fn in peers]
    for name, fn in [("walk_from_root(False, True)", lambda: g.walk_from_root(False, True)),
                     ("leaves()", g.leaves)]:
        t = median_time(fn, repeat)
        report(f"{name} ({count} nodes)", t, [("floor: list(range(n))", floor)] + peer_times,
               target="<=2x floor")


def bench_memory(n):
    code = r"""
import sys, os
sys.path.insert(0, {here!r})
from graphs import layered, build_kestrane, plain_edges
lib = {lib!r}
nodes, edges = layered({n})
pe = plain_edges(edges)
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
import gc; gc.collect()
before = rss()
if lib == "kestrane":
    import kestrane; g = build_kestrane(kestrane, nodes, edges)
elif lib == "rustworkx":
    import rustworkx as rx; g = rx.PyDiGraph(); g.add_nodes_from(range(len(nodes))); g.add_edges_from_no_data(pe)
elif lib == "igraph":
    import igraph as ig; g = ig.Graph(n=len(nodes), edges=pe, directed=True)
else:
    import networkx as nx; g = nx.DiGraph(); g.add_nodes_from(range(len(nodes))); g.add_edges_from(pe)
gc.collect()
print((rss() - before) / len(nodes))
"""
    here = os.path.dirname(os.path.abspath(__file__))
    figures = {}
    for lib in ("kestrane", "rustworkx", "igraph", "networkx"):
        if lib != "kestrane" and PEERS.get(lib) is None:
            figures[lib] = None
            continue
        out = subprocess.run([sys.executable, "-c", code.format(here=here, lib=lib, n=n)],
                             capture_output=True, text=True, timeout=600)
        figures[lib] = float(out.stdout.strip()) if out.returncode == 0 else None
    k = figures.pop("kestrane")
    ROWS.append((f"memory: bytes per node ({n} nodes)", k, "(bytes, not seconds)", None, None,
                 "<=80 bytes"))
    for lib, b in figures.items():
        ROWS.append((f"memory: bytes per node ({n} nodes)", k, f"{lib} bytes/node: "
                     + ("missing" if b is None else f"{b:.0f}"), None, None, None))


EXTRA_CASES = []  # (name, fn(n, repeat)) added by modules below


def load_extra_cases():
    for mod in ("bench_graph_ops", "bench_enumerations"):
        try:
            m = importlib.import_module(mod)
        except ImportError:
            continue
        EXTRA_CASES.extend(getattr(m, "CASES", []))


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


def print_table():
    head = ("case", "kestrane", "baseline", "baseline time", "ratio", "target")
    rows = []
    for case, k, label, b, ratio, target in ROWS:
        if case.startswith("memory"):
            rows.append((case, f"{k:.0f} B" if k is not None else "-", label, "", "", target or ""))
            continue
        if ratio is None:
            shown = "-"
        elif ratio < 0.5:
            shown = f"{ratio:.2f}x ({1 / ratio:.0f}x faster)"
        else:
            shown = f"{ratio:.2f}x"
        rows.append((case, fmt_time(k), label, "missing" if b is None and ratio is None else fmt_time(b),
                     shown, target or ""))
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    line = " | ".join(h.ljust(w) for h, w in zip(head, widths))
    print(line)
    print("-+-".join("-" * w for w in widths))
    for r in rows:
        print(" | ".join(str(c).ljust(w) for c, w in zip(r, widths)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--nodes", type=int, default=200_000)
    ap.add_argument("--memory-nodes", type=int, default=1_000_000)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    missing = [k for k, v in PEERS.items() if v is None]
    if missing:
        print("missing peers (reported as missing):", ", ".join(missing))
    t0 = time.perf_counter()
    bench_construction(args.nodes, args.repeat)
    bench_traversal(args.nodes, args.repeat)
    load_extra_cases()
    for _name, fn in EXTRA_CASES:
        fn(args.nodes, args.repeat)
    bench_memory(args.memory_nodes)
    print_table()
    print(f"\n(total {time.perf_counter() - t0:.0f} s, Python {sys.version.split()[0]})")


if __name__ == "__main__":
    main()
