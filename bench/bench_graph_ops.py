"""Benchmark cases for cloning, fingerprints, traces and condition lists, each
against its floor or a straightforward pure-Python version of the same steps.

Runs as part of run.py, or alone: python bench/bench_graph_ops.py [--quick]
"""

import marshal

import kestrane

import conditions_scaling
import harness
from graphs import binary_tree, build_kestrane, layered
from peers import PEER_BUILDERS, PEERS
from twins import py_conditions, py_traces
from twins.py_traces import PyGraph


def bench_clone(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    count = g.num_nodes()
    t = harness.median_time(g.clone_subgraph, repeat)
    floor = harness.median_time(lambda: dict(zip(range(count), range(count))), repeat)
    baselines = [("floor: dict(zip(range(n), range(n)))", floor)]
    for lib, build in PEER_BUILDERS.items():
        base = harness.median_time(build(nodes, edges).copy, repeat) if PEERS[lib] else None
        baselines.append((f"{lib} copy", base))
    harness.report(f"clone_subgraph ({count} nodes)", t, baselines, target=harness.at_most(1.3))


def bench_hashes(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    conns = len(g.connections())
    # The bytes each hash consumes: the count and two u64 per connection, and
    # for the equality hash one u32 per node and no count.
    for name, size in [("connection_hash", 8 + 16 * conns),
                       ("equality_hash", 4 * g.num_nodes() + 16 * conns)]:
        t = harness.median_time(getattr(g, name), repeat)
        # bytes objects cache their hash: hash a fresh copy each time
        copies = [bytes(bytearray(size)) for _ in range(repeat)]
        it = iter(copies)
        floor = harness.median_time(lambda: hash(next(it)), repeat)
        harness.report(f"{name} ({g.num_nodes()} nodes, {size} bytes)", t,
                       [("floor: hash(bytes of same length)", floor)], target=harness.at_most(3))


# Every operator has the conditions [[0], [1]]: at depth d the result holds
# 2**d conditions of 2**d - 1 leaves each.
EVERY_OP_EITHER_CHILD = {1: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False}}


def bench_wide_conditions(_n, repeat):
    for depth in (9, 10):
        nodes, edges = binary_tree(depth)
        g = build_kestrane(kestrane, nodes, edges)
        result = kestrane.get_conditions(g, 0, EVERY_OP_EITHER_CHILD, False)
        t = harness.median_time(lambda: kestrane.get_conditions(g, 0, EVERY_OP_EITHER_CHILD, False), repeat)
        rebuild = harness.median_time(lambda: marshal.loads(marshal.dumps(result)), repeat)
        case = f"get_conditions, tree depth {depth} ({len(result)} x {len(result[0])} leaves)"
        harness.row(case, t, "floor: marshal.loads(marshal.dumps(result))", rebuild, target=harness.at_most(2))
        if depth == 9:
            ref = PyGraph(nodes, edges)
            py = harness.median_time(
                lambda: py_conditions.get_conditions(ref, 0, EVERY_OP_EITHER_CHILD, False), 1)
            assert py_conditions.get_conditions(ref, 0, EVERY_OP_EITHER_CHILD, False) == result
            harness.row(case, t, "pure Python, same steps", py, target=harness.faster(200))


def bench_conditions(_n, repeat):
    depth = 14
    g, ref = conditions_scaling.build(depth)
    snap = conditions_scaling.SNAPSHOT
    t = harness.median_time(lambda: kestrane.get_conditions(g, 0, snap, False), repeat)
    py = harness.median_time(lambda: py_conditions.get_conditions(ref, 0, snap, False), max(1, repeat // 2))
    harness.report(f"get_conditions (binary tree depth {depth}, {g.num_nodes()} nodes)", t,
                   [("pure Python, same steps", py)], target=harness.faster(50))


def bench_traces(_n, repeat):
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
    g = build_kestrane(kestrane, nodes, edges)
    ref = PyGraph(nodes, edges)
    bottom = 3 * k
    t = harness.median_time(lambda: g.traces(bottom), repeat)
    py = harness.median_time(lambda: py_traces.traces(ref, bottom), max(1, repeat // 2))
    assert g.traces(bottom) == py_traces.traces(ref, bottom)
    harness.report(f"traces ({2 ** k} traces of {2 * k + k + 1} nodes)", t, [("pure Python, same steps", py)],
                   target=harness.faster(50))


CASES = [
    ("clone", bench_clone),
    ("hashes", bench_hashes),
    ("wide conditions", bench_wide_conditions),
    ("conditions", bench_conditions),
    ("traces", bench_traces),
]

if __name__ == "__main__":
    harness.main(CASES, __doc__)
