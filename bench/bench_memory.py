"""Benchmark case for the resident memory per node of a graph, against the
peers' graphs of the same nodes and edges.

Runs as part of run.py, or alone: python bench/bench_memory.py [--nodes N]
"""

import os
import subprocess
import sys

import harness
from peers import PEERS

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


def bench_memory(n, _repeat):
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
    target = harness.bytes_at_most(64)
    harness.print_row([case, shown, "(bytes per node)", "", "", target.text,
                       harness.check(case, "its target", k, shown, target)])
    for lib, b in figures.items():
        harness.print_row([case, shown, f"{lib}", "missing" if b is None else f"{b:.0f} B", "", "", ""])


CASES = [("memory", bench_memory)]

if __name__ == "__main__":
    harness.main(CASES, __doc__)
