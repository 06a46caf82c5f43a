"""Cross sections: worked examples with scores, edge cases, agreement with the
plain-Python twin on random graphs, a long chain, and Ctrl-C during a long
enumeration."""

import math
import random

import pytest

from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, make_graph, panic_type, random_graph, run_interrupt
from twins import py_cross_sections, py_traces


@pytest.mark.parametrize("targets, expected", [
    ([2, 6], [([2, 6], 1), ([2, 3], 2), ([0], 0)]),
    ([6], [([2, 6], 0), ([3, 2], 1), ([0], 0)]),
    ([], [([2, 6], 0)]),
    ((2,), [([2, 6], 1), ([0], 0)]),
    # a value node with options starts its traces all the same; its two
    # traces [3, 0] choosing 3 both leave each other out
    ([3], [([2, 6], 0), ([0], 0)]),
    ([6, 1], [([0], 0), ([2, 6], 0)]),  # an operator's trace holds the value nodes above it
])
def test_examples(example, targets, expected):
    assert example.cross_sections(targets) == expected


def test_operator_without_parent_gives_nothing():
    g = make_graph(EXAMPLE_NODES + [("o", 30)], EXAMPLE_EDGES)
    assert g.cross_sections([2, 7, 6]) == []


def test_invalid_root_keeps_choices_only():
    g = make_graph(EXAMPLE_NODES, EXAMPLE_EDGES, root=50)
    assert g.cross_sections([2]) == [([2], 1), ([0], 0)]
    assert g.cross_sections([6]) == [([], 0), ([3], 1), ([0], 0)]
    assert g.cross_sections([]) == [([], 0)]


def test_repeated_target(example):
    # Same sets here, but the first combination now has both copies of 2 leave
    # each other out, so the set [2, 6] comes with score 0.
    assert example.cross_sections([2, 2]) == [([2, 6], 0), ([0], 0)]
    # The two copies of a one-node trace always leave each other out.
    g = make_graph([("v", 0, 0), ("v", 1, 0)])
    assert g.cross_sections([1]) == [([1, 0], 0)]
    assert g.cross_sections([1, 1]) == [([0], 0)]


def test_failures(example):
    with pytest.raises(panic_type(), match="^index out of bounds: the len is 7 but the index is 8$"):
        example.cross_sections([2, 8])
    with pytest.raises(TypeError, match="^argument 'target_leaves': Can't extract `str` to `Vec`$"):
        example.cross_sections("26")
    with pytest.raises(OverflowError):
        example.cross_sections([-1])
    assert example.cross_sections([6])  # still usable


def branching_graph(seed):
    """Mostly a tree hanging from value node 0, deep enough for long traces,
    with a few nodes shared between branches and the odd wrong-kind link."""
    rng = random.Random(seed)
    nodes, edges, vals, ops = [("v", 0, 0)], [], [0], []
    for i in range(1, rng.randrange(8, 40)):
        if rng.random() < 0.45:
            nodes.append(("o", i))
            ops.append(i)
            edges.append(("vo", rng.choice(vals[-5:]), i))
        else:
            nodes.append(("v", i, 0))
            vals.append(i)
            if ops:
                edges.append(("ov", rng.choice(ops[-5:]), i))
                if rng.random() < 0.15:  # shared with another branch
                    edges.append(("ov", rng.choice(ops), i))
        if ops and rng.random() < 0.03:
            edges.append(("vo", rng.choice(ops), rng.choice(vals)))
    return make_graph(nodes, edges)


@pytest.mark.parametrize("build, seed", [(random_graph, s) for s in range(80)] +
                         [(branching_graph, s) for s in range(60)])
def test_agree_with_python_twin(build, seed):
    g = build(seed)
    p = py_traces.PyGraph.from_rust(g)
    rng = random.Random(seed)
    values = [x for x in range(g.num_nodes()) if p.is_value[x]]
    for _ in range(4):
        targets = rng.sample(values, min(len(values), rng.randrange(0, 4)))
        if math.prod(len(t) for x in targets for t in py_traces.traces(p, x, op_nodes=False)) > 5000:
            continue  # too many combinations for the twin
        assert g.cross_sections(targets) == py_cross_sections.cross_sections(p, targets)


def test_long_chain():
    n = 20001  # 10001 value nodes, one trace through all of them
    nodes = [("v", i, 0) if i % 2 == 0 else ("o", i) for i in range(n)]
    edges = [("vo" if i % 2 else "ov", i - 1, i) for i in range(1, n)]
    g = make_graph(nodes, [(k, a, b) if k == "ov" else ("vo", a, b) for k, a, b in edges])
    values = list(range(n - 1, -1, -2))
    assert g.cross_sections([n - 1]) == [([v], len(values) - 1 - w) for w, v in enumerate(values)]


def test_leaves_left_open_by_a_shared_option():
    # Root -> op -> [A, B, Z1]; A's options are OA (over leaf X) and OY (over
    # leaf Y); B's option is OA too; Z1 heads a chain of 100 value nodes. In
    # walk order A's nodes are followed by B, which reaches X through OA: a
    # cross section keeping A still leaves X open. The chain's choices make
    # enough cross sections for their leaves to be read from one numbering
    # of the graph instead of a walk each, so both ways are compared.
    nodes = [("v", 0, 0), ("o", 1), ("v", 2, 0), ("o", 3), ("v", 4, 0), ("o", 5), ("v", 6, 0), ("v", 7, 0)]
    edges = [("vo", 0, 1), ("ov", 1, 2), ("vo", 2, 3), ("ov", 3, 4), ("vo", 2, 5), ("ov", 5, 6),
             ("ov", 1, 7), ("vo", 7, 3), ("ov", 1, 8)]
    for i in range(8, 8 + 2 * 99, 2):
        nodes += [("v", i, 0), ("o", i + 1)]
        edges += [("vo", i, i + 1), ("ov", i + 1, i + 2)]
    nodes.append(("v", 8 + 2 * 99, 0))
    g = make_graph(nodes, edges)
    targets = [len(nodes) - 1, 6]
    assert g.cross_sections(targets) == py_cross_sections.cross_sections(py_traces.PyGraph(nodes, edges), targets)


@pytest.mark.parametrize("exc", ["KeyboardInterrupt", "ValueError"])  # Ctrl-C, or a handler's own
def test_interrupt(exc):
    # 40 two-node chains under the root: no two prefixes of chain choices leave
    # the same state, so the walk meets 2**40 of them; the root as 1000 more
    # targets makes each one costly, while the result stays one cross section.
    setup = """
        g = kestrane.RustGraph()
        g.connect_value_to_op(g.add_value_with_payload(0, 0), g.add_op_with_payload(0))
        leaves = []
        for i in range(40):
            top, op, leaf = g.add_value_with_payload(i, 0), g.add_op_with_payload(1), g.add_value_with_payload(i, 0)
            g.connect_op_to_value(1, top)
            g.connect_value_to_op(top, op)
            g.connect_op_to_value(op, leaf)
            leaves.append(leaf)
    """
    assert run_interrupt(setup, "g.cross_sections(leaves + [0] * 1000)", exc) == "usable 122"
