"""Condition lists: combinations, callable conditions, tree conditions and the
canonical conditions of a value node."""

import random

import pytest

import kestrane
from helpers import diamonds, make_graph, op, panic_type
from twins import py_conditions
from twins.py_traces import PyGraph

cc = kestrane.condition_combinations


# Graphs below are (nodes, edges) for make_graph; LEAF is a value node with
# val_id 0 and type_id 0 (a leaf unless an edge gives it options).
LEAF = ("v", 0, 0)


def root_over_leaves(conditions, n_leaves):
    """Value 0 -> operator 1 (op_id 7) -> n distinct leaves, so that conditions
    on the operator come back unchanged as leaf indices."""
    g = make_graph([LEAF, ("o", 7)] + [LEAF] * n_leaves,
                   [("vo", 0, 1)] + [("ov", 1, i) for i in range(2, 2 + n_leaves)])
    return g, {7: op(conditions)}


# ---- condition_combinations --------------------------------------------------------


@pytest.mark.parametrize("factors, offsets, expected", [
    ([], [], [[]]),
    ([], [3], [[]]),
    ([[]], [0], []),
    ([[[0]], []], [0, 1], []),
    ([[], [[0]]], [0, 1], []),  # a count of zero multiplied on
    ([[[]]], [5], [[]]),
    ([[[0]], [[0], [1]]], [0, 5], [[0, 5], [0, 6]]),
    ([[[0], [1]], [[2]]], [10], [[10, 12], [11, 12]]),
    ([[[0]], [[1]]], [], [[0, 1]]),
    ([[[0]], [[1]], [[2]]], [0, 10], [[0, 11]]),
    ([[[0]], [[1]], [[2], [3]]], [0, 10], [[0, 11], [0, 11]]),
    ([[[0]]], [1, 2, 3], [[1]]),
    ([[[0, 0]], [[1]]], [1, 1], [[1, 1, 2]]),
    ([[[1], [2]], [[3], [4]]], [0, 0], [[1, 3], [1, 4], [2, 3], [2, 4]]),
    ([[[2**64 - 1]]], [2], [[1]]),
    (((range(2),), [(5,)]), range(0, 20, 10), [[0, 1, 15]]),
])
def test_condition_combinations(factors, offsets, expected):
    assert cc(factors, offsets) == expected


@pytest.mark.parametrize("args, exc, message", [
    (("ab", []), TypeError, "argument 'conditions_by_child': Can't extract `str` to `Vec`"),
    (([["ab"]], []), TypeError, "argument 'conditions_by_child': Can't extract `str` to `Vec`"),
    (([[[0]], {1}], []), TypeError, "argument 'conditions_by_child': 'set' object cannot be cast as 'Sequence'"),
    (([[["0"]]], []), TypeError, "argument 'conditions_by_child': 'str' object cannot be interpreted as an integer"),
    (([], "0"), TypeError, "argument 'offset_list': Can't extract `str` to `Vec`"),
    (([], [-1]), OverflowError, "can't convert negative int to unsigned"),
    (([[[-1]]], []), OverflowError, "can't convert negative int to unsigned"),
])
def test_condition_combinations_refusals(args, exc, message):
    with pytest.raises(exc) as info:
        cc(*args)
    assert type(info.value) is exc and str(info.value) == message


@pytest.mark.parametrize("factors", [
    [[[0]] * 65536] * 3,          # 2**48 combinations
    [[[0]] * 65536] * 5,          # more than 2**64
    [[list(range(100000))] * 2] * 20,
])
def test_too_large_product_is_a_memory_error(factors):
    with pytest.raises(MemoryError):
        cc(factors, [])


# ---- update_callable_conditions -------------------------------------------------------

CALLABLE_OPS = {4: op([[1]], True, False), 9: op([[0], [1, 2], []])}


@pytest.mark.parametrize("graph, node, ops, expected", [
    (([("o", 4), ("v", 9, 0), LEAF], [("ov", 0, 1), ("ov", 0, 2)]), 0, CALLABLE_OPS, [[0, 1], [0, 2, 3], [0]]),
    (([("o", 4), ("v", 8, 0), LEAF], [("ov", 0, 1), ("ov", 0, 2)]), 0, CALLABLE_OPS, []),
    (([("o", 4)], []), 0, CALLABLE_OPS, [[1]]),
    (([("o", 4), ("o", 9)], [("ov", 0, 1)]), 0, CALLABLE_OPS, [[1]]),
    (([("o", 4), ("v", 9, 0)], [("ov", 0, 1)]), 0, {**CALLABLE_OPS, 4: op([[1]], True, True)}, [[1]]),
    (([("o", 4), ("v", 9, 0)], [("ov", 0, 1)]), 0, {**CALLABLE_OPS, 4: op([[1]], False, False)}, [[1]]),
    (([("o", 9)], []), 0, CALLABLE_OPS, [[0], [1, 2], []]),
    (([("o", 5)], []), 0, CALLABLE_OPS, []),
    (([("v", 4, 0), ("o", 9)], [("vo", 0, 1)]), 0, CALLABLE_OPS, []),
    (([("o", 4), ("v", 9, 0)], [("ov", 0, 1)]), 0, {**CALLABLE_OPS, 9: op([])}, []),
])
def test_update_callable_conditions(graph, node, ops, expected):
    assert kestrane.update_callable_conditions(make_graph(*graph), node, ops) == expected


# ---- tree_conditions -------------------------------------------------------------


TWO_LEAVES = ([("o", 7), LEAF, LEAF], [("ov", 0, 1), ("ov", 0, 2)])
SAME_LEAF_TWICE = ([("o", 7), LEAF], [("ov", 0, 1), ("ov", 0, 1)])
# operator 7 over [c, d]; c -> operator 8 over [l, l]; d a leaf
REPEATED_BELOW = ([("o", 7), LEAF, LEAF, ("o", 8), LEAF],
                  [("ov", 0, 1), ("ov", 0, 2), ("vo", 1, 3), ("ov", 3, 4), ("ov", 3, 4)])
# operator 7 over [c, d]; c has options 8 (over [l1]) and 9 (over [l2, l3])
TWO_OPTIONS = ([("o", 7), LEAF, LEAF, ("o", 8), LEAF, ("o", 9), LEAF, LEAF],
               [("ov", 0, 1), ("ov", 0, 2), ("vo", 1, 3), ("vo", 1, 5), ("ov", 3, 4), ("ov", 5, 6), ("ov", 5, 7)])


@pytest.mark.parametrize("graph, node, ops, expected", [
    (([LEAF], []), 0, {}, [[]]),
    (TWO_LEAVES, 0, {}, []),
    (TWO_LEAVES, 0, {7: op([])}, []),
    (TWO_LEAVES, 0, {7: op([[0], [1]])}, [[0], [1]]),
    (TWO_LEAVES, 0, {7: op([[0, 1]])}, [[0, 1]]),
    (TWO_LEAVES, 0, {7: op([[]])}, [[]]),
    (TWO_LEAVES, 0, {7: op([[1, 0, 9]])}, [[0, 1]]),
    (SAME_LEAF_TWICE, 0, {7: op([[]])}, []),
    (SAME_LEAF_TWICE, 0, {7: op([[0], [1]])}, [[0], [1]]),
    (SAME_LEAF_TWICE, 0, {7: op([[0, 1]])}, [[0, 1]]),
    (REPEATED_BELOW, 0, {7: op([[0]])}, [[0, 1]]),
    # the selected leaf after c is offset by c's distinct leaf count (1), not 2
    (REPEATED_BELOW, 0, {7: op([[1]]), 8: op([[0, 1]])}, [[0, 1, 1]]),
    (REPEATED_BELOW, 0, {7: op([[1]]), 8: op([[]])}, []),
    (TWO_OPTIONS, 0, {7: op([[0]])}, [[0, 1, 2]]),
    (TWO_OPTIONS, 0, {7: op([[1]]), 8: op([[0]])}, [[0, 3]]),
    (TWO_OPTIONS, 0, {7: op([[1]]), 9: op([[0]])}, []),
    (([("o", 7)], []), 0, {7: op([[0], [5]])}, [[], []]),
    (([LEAF, ("o", 7), LEAF], [("vo", 0, 1), ("ov", 1, 2)]), 0, {7: op([[0]])}, []),
    # a child whose first option is a value node (val_id 8, also an op id): a
    # leaf expands to [[]], one with options carries no operator conditions
    (([("o", 7), LEAF, ("v", 8, 0)], [("ov", 0, 1), ("vo", 1, 2)]), 0, {7: op([[]]), 8: op([[0]])}, [[]]),
    (([("o", 7), LEAF, ("v", 8, 0), ("o", 8)], [("ov", 0, 1), ("vo", 1, 2), ("vo", 2, 3)]), 0,
     {7: op([[]]), 8: op([[]])}, []),
    (([LEAF, ("o", 7), LEAF], [("vo", 0, 1), ("ov", 1, 2)]), 1, {7: op([[0], [0]])}, [[0], [0]]),
    # two unselected children expand into their own conditions: the product
    (([("o", 7), LEAF, LEAF, ("o", 8), ("o", 8)] + [LEAF] * 4,
      [("ov", 0, 1), ("ov", 0, 2), ("vo", 1, 3), ("vo", 2, 4), ("ov", 3, 5), ("ov", 3, 6), ("ov", 4, 7),
       ("ov", 4, 8)]), 0, {7: op([[]]), 8: op([[0], [1]])}, [[0, 2], [0, 3], [1, 2], [1, 3]]),
])
def test_tree_conditions(graph, node, ops, expected):
    g = make_graph(*graph)
    assert kestrane.tree_conditions(g, node, ops, False) == expected


def test_tree_conditions_adopts_callable_conditions_at_every_level():
    # operator 4 (has a callable) over [f, x]; f names operator 9; x -> operator 4 over [f, y]
    graph = ([("o", 4), ("v", 9, 0), LEAF, ("o", 4), LEAF],
             [("ov", 0, 1), ("ov", 0, 2), ("vo", 2, 3), ("ov", 3, 1), ("ov", 3, 4)])
    ops = {4: op([[1]], True), 9: op([[0]])}
    g = make_graph(*graph)
    assert kestrane.tree_conditions(g, 0, ops, False) == [[1, 2]]
    # adopted: [[0, 1]] everywhere; positions are local leaf positions
    assert kestrane.tree_conditions(g, 0, ops, True) == [[0, 1, 2]]


def test_bad_node_id_is_an_index_panic():
    g = make_graph(*TWO_LEAVES)
    for fn in (kestrane.tree_conditions, kestrane.get_conditions):
        with pytest.raises(panic_type()) as info:
            fn(g, 3, {}, False)
        assert str(info.value) == "index out of bounds: the len is 3 but the index is 3"
    with pytest.raises(panic_type()):
        kestrane.update_callable_conditions(g, 3, {})
    assert kestrane.tree_conditions(g, 0, {7: op([[0]])}, False) == [[0]]


# ---- get_conditions ---------------------------------------------------------------


@pytest.mark.parametrize("conditions, n_leaves, expected", [
    ([[0], [1]], 2, [[0], [1]]),
    ([[0, 2], [0], [2, 3]], 4, [[0], [2, 3]]),
    ([[1], [1]], 2, [[1]]),
    ([[], []], 2, [[], []]),
    ([[], [0, 1]], 2, [[]]),
    ([[2, 3], [1], [0, 5], [4]], 6, [[1], [4], [0, 5], [2, 3]]),
    ([[1, 2], [0, 1], [1]], 3, [[1]]),
    ([[0, 1], [0, 2], [1, 2], [0, 1, 2]], 4, [[0, 1], [0, 2], [1, 2]]),
    ([[9]], 2, [[]]),
    # equal in their first two positions, ordered by the third
    ([[0, 1, 3, *range(4, 17)], [0, 1, 2, *range(4, 17)]], 20,
     [[0, 1, 2, *range(4, 17)], [0, 1, 3, *range(4, 17)]]),
])
def test_get_conditions_minimal_and_ordered(conditions, n_leaves, expected):
    g, ops = root_over_leaves(conditions, n_leaves)
    assert kestrane.get_conditions(g, 0, ops, False) == expected


def test_empty_condition_keeps_shorter_ones_below_the_graph_leaf_count():
    # root 0 -> operator over [v, extra]; v -> operator 7 over [a, b]: three graph leaves
    graph = ([LEAF, ("o", 1), LEAF, LEAF, ("o", 7), LEAF, LEAF],
             [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3), ("vo", 2, 4), ("ov", 4, 5), ("ov", 4, 6)])
    g = make_graph(*graph)
    assert kestrane.get_conditions(g, 2, {7: op([[], [0, 1]])}, False) == [[], [0, 1]]
    assert kestrane.get_conditions(g, 2, {7: op([[], [0, 1, 1]])}, False) == [[], [0, 1]]


def test_no_valid_root_means_no_graph_leaves():
    g, ops = root_over_leaves([[], []], 2)
    g.set_root(100)
    assert kestrane.get_conditions(g, 0, ops, False) == [[]]
    assert kestrane.get_conditions(g, 0, {}, False) == [[]]


# root -> operator 7 over [c, d]; c -> operator 8 over [l]; d -> operator 8 over [l, m]
SHARED_LEAF = ([LEAF, ("o", 7), LEAF, LEAF, ("o", 8), ("o", 8), LEAF, LEAF],
               [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3), ("vo", 2, 4), ("vo", 3, 5), ("ov", 4, 6), ("ov", 5, 6),
                ("ov", 5, 7)])


@pytest.mark.parametrize("graph, node, ops, expected", [
    # the worked example and the same with one leaf twice
    (([LEAF, ("o", 7), LEAF, LEAF], [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3)]), 0, {7: op([[0], [1]])}, [[0], [1]]),
    (([LEAF, ("o", 7), LEAF], [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 2)]), 0, {7: op([[0], [1]])}, [[0]]),
    # leaves and operators
    (([LEAF, ("o", 7), LEAF], [("vo", 0, 1), ("ov", 1, 2)]), 2, {}, [[]]),
    (([LEAF, ("o", 7), LEAF], [("vo", 0, 1), ("ov", 1, 2)]), 1, {7: op([[0]])}, [[]]),
    # no record: every leaf of the graph, even below a node that is not the root
    (([LEAF, ("o", 7), LEAF, LEAF, ("o", 8), LEAF],
      [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3), ("vo", 2, 4), ("ov", 4, 5)]), 2, {}, [[0, 1]]),
    # the leaf sequence covers both options: a is met again under the second
    (([LEAF, ("o", 7), ("o", 8), LEAF, LEAF],
      [("vo", 0, 1), ("vo", 0, 2), ("ov", 1, 3), ("ov", 1, 4), ("ov", 2, 3)]), 0, {7: op([[0], [1]])}, [[1]]),
    (([LEAF, ("o", 7), ("o", 8), LEAF, LEAF, LEAF],
      [("vo", 0, 1), ("vo", 0, 2), ("ov", 1, 3), ("ov", 1, 4), ("ov", 2, 5)]), 0, {7: op([[0], [1]])}, [[0], [1]]),
    # a leaf shared by two children: [0, 1] and [0, 1, 2] select it at both its
    # positions; [0, 2] only at the first, a contradiction that leaves nothing
    (SHARED_LEAF, 0, {7: op([[0], [0, 1]]), 8: op([[0]])}, [[0]]),
    (SHARED_LEAF, 0, {7: op([[0]]), 8: op([[1]])}, [[0, 1]]),
    # root -> operator 7 over [c, d]; c -> operator 8 over [l, l]: selecting
    # both children repeats a position (l's second one is d's first)
    (([LEAF, ("o", 7), LEAF, ("o", 8), LEAF, LEAF],
      [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 5), ("vo", 2, 3), ("ov", 3, 4), ("ov", 3, 4)]), 0,
     {7: op([[0, 1]]), 8: op([])}, [[0]]),
])
def test_get_conditions(graph, node, ops, expected):
    assert kestrane.get_conditions(make_graph(*graph), node, ops, False) == expected


# ---- cycles, depth, size -------------------------------------------------------------


def test_cycle_below_the_node_is_a_value_error():
    # 0 -> 1 -> 2 -> 3 -> back to 2
    graph = ([LEAF, ("o", 7), LEAF, ("o", 8), LEAF],
             [("vo", 0, 1), ("ov", 1, 2), ("vo", 2, 3), ("ov", 3, 2), ("ov", 3, 4)])
    g = make_graph(*graph)
    for fn in (kestrane.get_conditions, kestrane.tree_conditions):
        with pytest.raises(ValueError) as info:
            fn(g, 0 if fn is kestrane.get_conditions else 1, {}, False)
        assert str(info.value) == "graph has a cycle through node 2"
    # not reached: a value node's tree conditions never look below its options
    assert kestrane.tree_conditions(g, 2, {8: op([[0]])}, False) == []
    assert kestrane.update_callable_conditions(g, 3, {8: op([[0]])}) == [[0]]


def test_shared_subtrees_are_not_cycles():
    g = diamonds(40)
    ops = {7: op([[]]), 8: op([[]])}
    assert kestrane.tree_conditions(g, 1, ops, False) == [[]]
    # the leaf sequence would hold 2**40 positions
    with pytest.raises(MemoryError):
        kestrane.get_conditions(g, 0, ops, False)
    small = diamonds(3)
    ops = {7: op([[], [1]]), 8: op([[0], []])}
    ref = PyGraph.from_rust(small)
    for node in range(small.num_nodes()):
        assert (kestrane.tree_conditions(small, node, ops, False)
                == py_conditions.tree_conditions(ref, node, ops, False))
    assert kestrane.get_conditions(small, 0, ops, False) == py_conditions.get_conditions(ref, 0, ops, False)


def chain(levels, op_id=1):
    g = kestrane.RustGraph()
    g.add_value_with_payload(0, 0)
    for i in range(levels):
        g.add_op_with_payload(op_id)
        g.add_value_with_payload(0, 0)
        g.connect_value_to_op(2 * i, 2 * i + 1)
        g.connect_op_to_value(2 * i + 1, 2 * i + 2)
    return g


def test_a_million_node_chain():
    g = chain(500_000)
    assert g.num_nodes() == 1_000_001
    ops = {1: op([[]])}
    assert kestrane.tree_conditions(g, 1, ops, False) == [[]]
    assert kestrane.get_conditions(g, 0, ops, False) == [[]]
    assert kestrane.get_conditions(g, 0, {1: op([[0]])}, False) == [[0]]
    g.connect_value_to_op(1_000_000, 1)
    with pytest.raises(ValueError, match="cycle through node 2$"):
        kestrane.get_conditions(g, 0, ops, False)


def test_too_large_tree_product_is_a_memory_error():
    # five unselected children, each with 1000 single conditions: 10**15 combinations
    graph = ([("o", 7)] + [LEAF] * 5 + [("o", 8), LEAF],
             [("ov", 0, i) for i in range(1, 6)] + [("vo", i, 6) for i in range(1, 6)] + [("ov", 6, 7)])
    g = make_graph(*graph)
    with pytest.raises(MemoryError):
        kestrane.tree_conditions(g, 0, {7: op([[]]), 8: op([[0]] * 1000)}, False)
    assert kestrane.tree_conditions(g, 0, {7: op([[]]), 8: op([[0]] * 3)}, False) == [[0, 1, 2, 3, 4]] * 243


# ---- against the plain Python version --------------------------------------------------


def random_case(rng):
    """An acyclic graph (links only go to higher ids) with shared nodes,
    repeated links and several options, plus a random snapshot."""
    n = rng.randint(1, 12)
    nodes, edges = [], []
    for _ in range(n):
        if rng.random() < 0.55:
            nodes.append(("v", rng.randrange(6), 0))
        else:
            nodes.append(("o", rng.randrange(6)))
    for _ in range(rng.randint(0, 3 * n)):
        i, j = sorted(rng.sample(range(n), 2)) if n > 1 else (0, 0)
        if i == j:
            continue
        if nodes[i][0] + nodes[j][0] in ("vo", "ov"):
            edges.append((nodes[i][0] + nodes[j][0], i, j))
    root = rng.randint(0, n)
    g, ref = make_graph(nodes, edges, root), PyGraph(nodes, edges, root)
    ops = {}
    for op_id in rng.sample(range(6), rng.randint(0, 6)):
        conditions = [[rng.randrange(4) for _ in range(rng.randint(0, 3))] for _ in range(rng.randint(0, 3))]
        ops[op_id] = op(conditions, rng.random() < 0.4, rng.random() < 0.3)
    return g, ref, ops


def test_agrees_with_the_python_version_on_random_graphs():
    for seed in range(2000):
        rng = random.Random(seed)
        g, ref, ops = random_case(rng)
        for node in range(g.num_nodes()):
            for adopt in (False, True):
                assert (kestrane.tree_conditions(g, node, ops, adopt)
                        == py_conditions.tree_conditions(ref, node, ops, adopt)), (seed, node, adopt)
                assert (kestrane.get_conditions(g, node, ops, adopt)
                        == py_conditions.get_conditions(ref, node, ops, adopt)), (seed, node, adopt)
            assert (kestrane.update_callable_conditions(g, node, ops)
                    == py_conditions.update_callable_conditions(ref, node, ops)), (seed, node)


def wide_case(rng):
    """Many conditions over few leaves, where the minimality step matters:
    either one operator over leaves (some repeated) with many random
    conditions, or a complete binary tree with random conditions per level."""
    if rng.random() < 0.5:
        n_leaves = rng.randint(1, 9)
        kids = [2 + rng.randrange(n_leaves) if rng.random() < 0.15 else 2 + i for i in range(n_leaves)]
        nodes = [LEAF, ("o", 7)] + [LEAF] * n_leaves
        edges = [("vo", 0, 1)] + [("ov", 1, k) for k in kids]
        conditions = [[rng.randrange(n_leaves + 1) for _ in range(rng.randint(0, 5))]
                      for _ in range(rng.randint(1, 60))]
        return nodes, edges, {7: op(conditions)}
    nodes, edges, level = [LEAF], [], [0]
    for depth in range(rng.randint(1, 4)):
        nxt = []
        for v in level:
            o = len(nodes)
            nodes += [("o", depth), LEAF, LEAF]
            edges += [("vo", v, o), ("ov", o, o + 1), ("ov", o, o + 2)]
            nxt += [o + 1, o + 2]
        level = nxt
    ops = {d: op([rng.choice([[0], [1], [0, 1], [1, 0, 1]]) for _ in range(rng.randint(1, 3))])
           for d in range(4)}
    return nodes, edges, ops


def test_minimality_agrees_with_the_python_version_on_many_candidates():
    for seed in range(400):
        rng = random.Random(seed)
        nodes, edges, ops = wide_case(rng)
        g, ref = make_graph(nodes, edges), PyGraph(nodes, edges)
        assert (kestrane.get_conditions(g, 0, ops, False)
                == py_conditions.get_conditions(ref, 0, ops, False)), seed
