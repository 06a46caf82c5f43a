"""How cost grows with size: construction, a depth-first walk, a copy and the
hashes of layered graphs of 10^4 .. 10^6 nodes, for kestrane, the interpreter's
floor and each peer library. Prints each library's times as they finish and
the fitted exponent (slope of log time against log n; 1.0 is linear), then
plots time against n. Each figure is the fastest of a few runs.

Runs as part of run.py, or alone: python bench/scaling.py [--quick] [--plot PATH]
"""

import argparse
import math
import os

import kestrane

from graphs import build_kestrane, layered
from harness import best_time, fmt_time
from peers import PEER_BUILDERS, PEERS, peer_walk

OPS = ["construction", "walk", "clone", "hashes"]
PLOT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "bench-scaling.png")


def sizes(quick):
    return [10**4, 10**5] if quick else [10**4, 10**5, 10**6]


def repeats(n):
    return 7 if n <= 10**4 else 3 if n <= 10**5 else 2


def kestrane_times(nodes, edges, r):
    g = build_kestrane(kestrane, nodes, edges)
    return {
        "construction": best_time(lambda: build_kestrane(kestrane, nodes, edges), r),
        "walk": best_time(lambda: g.walk_from_root(True, True), r),
        "clone": best_time(g.clone_subgraph, r),
        "hashes": best_time(g.connection_hash, r),
    }


def floor_times(nodes, edges, r):
    """The interpreter's floor of each operation, as in the table above."""
    count = len(nodes)

    def calls():
        get = {}.get
        for nd in nodes:
            get(nd[1], nd[2]) if nd[0] == "v" else get(nd[1])
        for _, a, b in edges:
            get(a, b)

    size = 8 + 16 * len(edges)  # about what connection_hash consumes
    copies = iter([bytes(bytearray(size)) for _ in range(r)])
    return {
        "construction": best_time(calls, r),
        "walk": best_time(lambda: list(range(count)), r),
        "clone": best_time(lambda: dict(zip(range(count), range(count))), r),
        "hashes": best_time(lambda: hash(next(copies)), r),
    }


def peer_times(lib, nodes, edges, r):
    if lib == "networkx":
        r = min(r, 3) if len(nodes) <= 10**5 else 1  # seconds per call at 10^6
    build = PEER_BUILDERS[lib]
    g = build(nodes, edges)
    return {
        "construction": best_time(lambda: build(nodes, edges), r),
        "walk": best_time(peer_walk(lib, g), r),
        "clone": best_time(g.copy, r),
    }


def exponent(sizes, times):
    xs = [math.log(n) for n in sizes]
    ys = [math.log(t) for t in times]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def plot(results, sizes, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib missing: no plot written")
        return
    fig, axes = plt.subplots(2, 2, figsize=(11, 8))
    titles = {"construction": "construction (add nodes, connect)", "walk": "depth-first walk from the root",
              "clone": "copy (clone_subgraph)", "hashes": "connection_hash (peers: none)"}
    for ax, op in zip(axes.flat, OPS):
        for lib, by_op in results.items():
            if op in by_op:
                style = "--" if lib == "floor" else "-"
                ax.loglog(sizes, by_op[op], style, marker="o", label=f"{lib} ({exponent(sizes, by_op[op]):.2f})")
        ax.set_title(titles[op])
        ax.set_xlabel("nodes")
        ax.set_ylabel("seconds")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8, title="library (exponent)", title_fontsize=8)
    fig.suptitle("kestrane and peers: time against graph size (log-log)")
    fig.tight_layout()
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    fig.savefig(path, dpi=100)
    print(f"plot written to {path}")


def run_scaling(sizes, plot_path):
    print(f"\nscaling: time per call at n = {', '.join(f'{n:,}' for n in sizes)} nodes; "
          "exponent fitted to log time against log n", flush=True)
    graphs = {n: layered(n) for n in sizes}
    libs = ["kestrane", "floor"] + [lib for lib in PEER_BUILDERS if PEERS[lib]]
    results = {}
    for lib in libs:
        per_size = []
        for n in sizes:
            nodes, edges = graphs[n]
            if lib == "kestrane":
                t = kestrane_times(nodes, edges, repeats(n))
            elif lib == "floor":
                t = floor_times(nodes, edges, repeats(n))
            else:
                t = peer_times(lib, nodes, edges, repeats(n))
            per_size.append(t)
            print(f"  {lib:10} n={n:>9,}  " + "  ".join(f"{op} {fmt_time(t[op]):>9}" for op in OPS if op in t),
                  flush=True)
        results[lib] = {op: [t[op] for t in per_size] for op in OPS if op in per_size[0]}
        print(f"  {lib:10} exponent     " + "  ".join(f"{op} {exponent(sizes, ts):.2f}"
                                                    for op, ts in results[lib].items()), flush=True)
    plot(results, sizes, plot_path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="sizes up to 10^5")
    ap.add_argument("--plot", default=PLOT)
    args = ap.parse_args()
    run_scaling(sizes(args.quick), args.plot)


if __name__ == "__main__":
    main()
