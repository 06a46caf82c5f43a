"""Seeded graph generators for the benchmarks, in the (nodes, edges) format
the tests' make_graph takes, and the path to the plain-Python twins (they live
with the tests, under tests/twins)."""

import os
import random
import sys

TESTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests")
if TESTS not in sys.path:
    sys.path.insert(0, TESTS)


def layered(n_target, seed=1, fanout=2, share=0.05):
    """A layered graph of about `n_target` nodes, rooted at value node 0.

    Returns (nodes, edges): nodes is a list of ("v", val_id, type_id) or
    ("o", op_id) in id order; edges a list of ("vo", val, op) and
    ("ov", op, val) in creation order. Every open value node gets one option
    with `fanout` children; a small share of children reuse an earlier value
    node, so some nodes have several parents (about two links per node).
    """
    rng = random.Random(seed)
    nodes = [("v", 0, 0)]
    edges = []
    frontier = [0]
    values = [0]
    head = 0
    while len(nodes) < n_target and head < len(frontier):
        v = frontier[head]
        head += 1
        op = len(nodes)
        nodes.append(("o", rng.randrange(64)))
        edges.append(("vo", v, op))
        for _ in range(fanout):
            if len(values) > 8 and rng.random() < share:
                child = values[rng.randrange(len(values) - 8)]
            else:
                child = len(nodes)
                nodes.append(("v", rng.randrange(1 << 20), rng.randrange(8)))
                frontier.append(child)
                values.append(child)
            edges.append(("ov", op, child))
    return nodes, edges


def binary_tree(depth, op_ids=lambda level: 1):
    """A complete binary value/operator tree: every value node above the
    bottom has one operator (op_id `op_ids(level)`, level 0 at the top) with
    two value children, so there are 2**depth leaves."""
    nodes, edges = [("v", 0, 0)], []
    level = [0]
    for d in range(depth):
        nxt = []
        for v in level:
            op = len(nodes)
            nodes += [("o", op_ids(d)), ("v", 0, 0), ("v", 0, 0)]
            edges += [("vo", v, op), ("ov", op, op + 1), ("ov", op, op + 2)]
            nxt += [op + 1, op + 2]
        level = nxt
    return nodes, edges


def chain(values):
    """`values` value nodes in a line, each the only child of an operator
    below the one before: value 0, operator 1, value 2, ..."""
    n = 2 * values - 1
    nodes = [("v", i, 0) if i % 2 == 0 else ("o", i) for i in range(n)]
    edges = [("vo" if i % 2 else "ov", i - 1, i) for i in range(1, n)]
    return nodes, edges


def build_kestrane(kestrane, nodes, edges, root=0):
    g = kestrane.RustGraph()
    add_v = g.add_value_with_payload
    add_o = g.add_op_with_payload
    for n in nodes:
        if n[0] == "v":
            add_v(n[1], n[2])
        else:
            add_o(n[1])
    vo = g.connect_value_to_op
    ov = g.connect_op_to_value
    for kind, a, b in edges:
        if kind == "vo":
            vo(a, b)
        else:
            ov(a, b)
    g.set_root(root)
    return g


def plain_edges(edges):
    """Edges as (upper, lower) pairs, the direction a walk down follows."""
    return [(a, b) for _, a, b in edges]
