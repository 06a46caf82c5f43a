"""glue_leaves and cross_sections against their plain-Python twins on
thousands of small graphs: the candidates of the demo search's first steps,
and random graphs made to meet what the enumerations' shortcuts must get
right: many leaves of one type, leaves glued away but still listed,
operators and type 0 among the leaves, shared nodes, wrong-kind links."""

import math
import os
import random
import sys

import pytest

import kestrane
from helpers import make_graph, panic_type
from twins import py_cross_sections, py_glue, py_traces
from twins.py_traces import PyGraph

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples"))
import search_demo as demo  # noqa: E402

PANIC = panic_type()


def demo_candidates(steps):
    """(nodes, edges) of each candidate of the demo search's first steps."""
    elements = {op_id: demo.describe_graph(demo.element(op_id)) for op_id in demo.OPERATORS}
    frontier, seen, out = [demo.describe_graph(demo.ValueNode(demo.INT).mirror())], set(), []
    for step in range(1, steps + 1):
        grown = [d for key, d in demo.graft_batch(step, elements, 0, frontier) if not (key in seen or seen.add(key))]
        for payloads, links, _root in grown:
            nodes = [("v", *p) if isinstance(p, tuple) else ("o", p) for p in payloads]
            edges = [("vo" if nodes[a][0] == "v" else "ov", a, b) for a, out_links in enumerate(links) for b in out_links]
            out.append((nodes, edges))
        frontier = grown
    return out


def random_case(seed):
    """A root over a few operators whose children are value nodes of types 0
    and 1 (some shared, some with an operator below them, the odd wrong-kind
    link); leaves and candidates drawn from the value nodes, with repeats,
    an operator or two, and overlaps between the lists."""
    rng = random.Random(seed)
    nodes, edges, values, ops = [("v", 0, rng.randrange(2))], [], [0], []
    for _ in range(rng.randrange(1, 4)):
        o = len(nodes)
        nodes.append(("o", rng.randrange(3)))
        ops.append(o)
        edges.append(("vo", rng.choice(values), o))
        for _ in range(rng.randrange(1, 4)):
            if len(values) > 1 and rng.random() < 0.2:
                v = rng.choice(values[1:])
            else:
                v = len(nodes)
                nodes.append(("v", rng.randrange(9), rng.randrange(2)))
                values.append(v)
            edges.append(("ov", o, v))
    if rng.random() < 0.1:
        edges.append((rng.choice(["vo", "ov"]), rng.choice(ops), rng.choice(values)))
    pick = values[1:] + rng.sample(ops, min(len(ops), rng.randrange(2)))
    leaves = rng.sample(pick, rng.randrange(min(len(pick), 6) + 1))
    cands = rng.sample(pick, rng.randrange(min(len(pick), 3) + 1))
    if leaves and rng.random() < 0.2:
        leaves.append(rng.choice(leaves))
    return nodes, edges, leaves, cands, rng.choice([None, None, 0, 1, 2])


def py_dump(g):
    return [(g.is_value[i], g.payload[i] if g.is_value[i] else None, None if g.is_value[i] else g.payload[i][0],
             g.parent[i], g.parents[i], g.options[i], g.children[i]) for i in range(len(g))]


def dump_nodes(g):
    return [(g.is_value_node(i), g.get_value_payload(i), g.get_op_id(i), g.get_parent(i), g.get_parents(i),
             g.get_options(i), g.get_children(i)) for i in range(g.num_nodes())]


def same_outcome(fn, twin):
    """fn() and twin() give the same result, or both fail (the twin as Python
    fails, kestrane with PanicException)."""
    try:
        expected = twin()
    except (KeyError, IndexError):
        with pytest.raises(PANIC):
            fn()
        return
    assert fn() == expected


def check_glue(nodes, edges, leaves, cands, max_leaves):
    g, p = make_graph(nodes, edges), PyGraph(nodes, edges)
    same_outcome(lambda: [dump_nodes(x) for x in kestrane.glue_leaves(g, leaves, cands, False, max_leaves)],
                 lambda: [py_dump(x) for x in py_glue.glue_leaves(p, leaves, cands, False, max_leaves)])


def check_cross(nodes, edges, targets):
    g, p = make_graph(nodes, edges), PyGraph(nodes, edges)
    if math.prod(len(t) for x in targets for t in py_traces.traces(p, x, op_nodes=False)) <= 4000:
        assert g.cross_sections(targets) == py_cross_sections.cross_sections(p, targets)


@pytest.fixture(scope="module")
def demo_graphs():
    return demo_candidates(4)


def test_demo_candidates(demo_graphs):
    assert len(demo_graphs) == 174
    for i, (nodes, edges) in enumerate(demo_graphs):
        leaves = make_graph(nodes, edges).leaves()
        values = [x for x, n in enumerate(nodes) if n[0] == "v" and x not in leaves]
        check_glue(nodes, edges, leaves, [], demo.MAX_GLUED_LEAVES)
        check_glue(nodes, edges, leaves[::-1], random.Random(i).sample(values, min(2, len(values))), None)
        check_cross(nodes, edges, leaves)
        check_cross(nodes, edges, leaves[1:] + leaves[:2])


@pytest.mark.parametrize("block", range(4))
def test_random_graphs(block):
    for seed in range(block * 600, (block + 1) * 600):
        nodes, edges, leaves, cands, max_leaves = random_case(seed)
        check_glue(nodes, edges, leaves, cands, max_leaves)
        check_cross(nodes, edges, leaves)


# Root -> operator over four value nodes, each over an operator over one more,
# all of one type. Different gluings reach the same shape with the candidates
# in different places, so what a branch does next depends on where they are.
UNITS = ([("v", 0, 9), ("o", 0)] + [n for v in range(2, 14, 3) for n in (("v", v, 0), ("o", 1), ("v", v + 2, 0))],
         [("vo", 0, 1)] + [e for v in range(2, 14, 3) for e in (("ov", 1, v), ("vo", v, v + 1), ("ov", v + 1, v + 2))])


@pytest.mark.parametrize("leaves, cands", [([5, 2, 11], [10, 4]), ([2, 5, 8, 10], [7]), ([8, 13, 5, 11], [7, 11])])
def test_candidates_where_shapes_meet(leaves, cands):
    check_glue(*UNITS, leaves, cands, None)
