"""Benchmark cases for cloning, fingerprints and the enumerations, each against
its floor or a straightforward pure-Python version of the same steps."""

import kestrane

import run
from graphs import build_kestrane, layered


def bench_clone(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    count = g.num_nodes()
    t = run.median_time(g.clone_subgraph, repeat)
    floor = run.median_time(lambda: dict(zip(range(count), range(count))), repeat)
    peers = []
    if run.PEERS["rustworkx"]:
        rg = run.build_rustworkx(nodes, edges)
        peers.append(("rustworkx copy", rg.copy))
    if run.PEERS["igraph"]:
        ig = run.build_igraph(nodes, edges)
        peers.append(("igraph copy", ig.copy))
    if run.PEERS["networkx"]:
        nxg = run.build_networkx(nodes, edges)
        peers.append(("networkx copy", nxg.copy))
    baselines = [("floor: dict(zip(range(n), range(n)))", floor)]
    baselines += [(label, run.median_time(fn, repeat)) for label, fn in peers]
    run.report(f"clone_subgraph ({count} nodes)", t, baselines, target="<=1.5x floor")


def bench_hashes(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    conns = len(g.connections())
    # The bytes each hash consumes: the count and two u64 per connection, and
    # for the equality hash one u32 per node and no count.
    for name, size in [("connection_hash", 8 + 16 * conns),
                       ("equality_hash", 4 * g.num_nodes() + 16 * conns)]:
        t = run.median_time(getattr(g, name), repeat)
        # bytes objects cache their hash: hash a fresh copy each time
        copies = [bytes(bytearray(size)) for _ in range(repeat)]
        it = iter(copies)
        floor = run.median_time(lambda: hash(next(it)), repeat)
        run.report(f"{name} ({g.num_nodes()} nodes, {size} bytes)", t,
                   [("floor: hash(bytes of same length)", floor)], target="<=3x floor")


def bench_conditions(_n, repeat):
    import conditions_scaling
    from twins import py_conditions

    depth = 14
    g, ref = conditions_scaling.build(depth)
    snap = conditions_scaling.SNAPSHOT
    t = run.median_time(lambda: kestrane.get_conditions(g, 0, snap, False), repeat)
    py = run.median_time(lambda: py_conditions.get_conditions(ref, 0, snap, False), max(1, repeat // 2))
    run.report(f"get_conditions (binary tree depth {depth}, {g.num_nodes()} nodes)", t,
               [("pure Python, same steps", py)], target=">=50x faster")


def bench_traces(_n, repeat):
    from twins import py_traces

    # A ladder of diamonds: every value node has two operator options that both
    # take the next value node, so the bottom node has 2**k upward traces.
    k = 14
    nodes = [("v", 0, 0)]
    edges = []
    for i in range(k):
        top = 3 * i
        nodes += [("o", 1), ("o", 2), ("v", i + 1, 0)]
        for op in (top + 1, top + 2):
            edges += [("vo", top, op), ("ov", op, top + 3)]
    g = run_graph(nodes, edges)
    ref = py_traces.PyGraph(nodes, edges)
    bottom = 3 * k
    t = run.median_time(lambda: g.traces(bottom), repeat)
    py = run.median_time(lambda: py_traces.traces(ref, bottom), max(1, repeat // 2))
    assert g.traces(bottom) == py_traces.traces(ref, bottom)
    run.report(f"traces ({2 ** k} traces of {2 * k + k + 1} nodes)", t, [("pure Python, same steps", py)],
               target=">=50x faster")


def run_graph(nodes, edges):
    return build_kestrane(kestrane, nodes, edges)


CASES = [
    ("traces", bench_traces),
    ("clone", bench_clone),
    ("hashes", bench_hashes),
    ("conditions", bench_conditions),
]
