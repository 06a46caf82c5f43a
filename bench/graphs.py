"""Seeded generator of layered value/operator graphs for the benchmarks."""

import random


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


def build_kestrane(kestrane, nodes, edges):
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
    g.set_root(0)
    return g


def plain_edges(edges):
    """Edges as (upper, lower) pairs, the direction a walk down follows."""
    return [(a, b) for _, a, b in edges]
