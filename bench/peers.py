"""The graph libraries users would pick instead of kestrane, each optional (a
missing one is shown as missing), and their versions of the benchmarks' graphs
and walks."""

import importlib

import harness
from graphs import plain_edges

PEERS = {}
for _name in ("networkx", "rustworkx", "igraph"):
    try:
        PEERS[_name] = importlib.import_module(_name)
    except ImportError:
        PEERS[_name] = None


def missing():
    return [k for k, v in PEERS.items() if v is None]


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


def peer_rows(label_fns, repeat):
    """(label, median time) of each (label, fn) whose label starts with a peer's
    name; None for a missing peer."""
    out = []
    for label, fn in label_fns:
        lib = label.split()[0]
        out.append((label, harness.median_time(fn, repeat) if PEERS.get(lib) is not None else None))
    return out
