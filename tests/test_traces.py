"""Traces and upward reachability: worked examples, edge cases, agreement with
the plain-Python twins on random graphs, and a path of a million nodes."""

import itertools
import random

import pytest

import kestrane
from helpers import make_graph, panic_type, random_graph
from twins import py_traces


@pytest.mark.parametrize("kwargs, expected", [
    (dict(start_id=6), [[6, 5, 3, 1, 0], [6, 5, 3, 4, 0]]),
    (dict(start_id=6, op_nodes=False), [[6, 3, 0], [6, 3, 0]]),
    (dict(start_id=0, above=False, below=True), [[0, 1, 2], [0, 1, 3, 5, 6], [0, 4, 3, 5, 6]]),
    (dict(start_id=6, me_too=False), [[], []]),
    (dict(start_id=2, above=True, below=True), []),
    (dict(start_id=0), [[0]]),  # no eligible neighbour: one trace
    (dict(start_id=0, val_nodes=False), [[]]),
    (dict(start_id=6, op_nodes=False, val_nodes=False), [[], []]),
    (dict(start_id=3, above=False, below=False), [[3]]),
])
def test_traces_examples(example, kwargs, expected):
    assert example.traces(**kwargs) == expected


@pytest.mark.parametrize("args, kwargs, expected", [
    ((6, [0]), {}, True),
    ((6, [0]), dict(include_self=False), False),
    ((6, [4]), dict(include_self=False), True),
    ((6, [0]), dict(skip=[3]), False),
    ((2, [3]), {}, False),
    ((3, [3]), {}, True),                         # value node itself
    ((3, [3]), dict(include_self=False), False),
    ((5, [5]), dict(include_self=False), True),   # operators are always compared
    ((3, [3]), dict(skip=[3]), False),
    ((6, []), {}, False),
    ((6, (0,)), dict(skip=range(0)), True),
    ((6, [100]), {}, False),                       # names no node: never matches
    ((100, [0]), dict(skip=[100]), False),         # skipped before the bounds check
])
def test_is_below_examples(example, args, kwargs, expected):
    assert example.is_below(*args, **kwargs) is expected


def test_duplicate_link_doubles_traces():
    g = make_graph([("v", 0, 0), ("o", 1), ("v", 2, 0)], [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 2)])
    assert g.traces(0, above=False, below=True) == [[0, 1, 2], [0, 1, 2]]
    assert g.traces(2) == [[2, 1, 0], [2, 1, 0]]


def test_operator_without_parent_ends_climb():
    g = make_graph([("v", 0, 0), ("o", 1)], [("ov", 1, 0)])
    assert g.is_below(0, [5]) is False
    assert g.is_below(0, [1]) is True
    assert g.traces(0) == [[0, 1]]


@pytest.mark.parametrize("length", [2, 100])
def test_cycles_end(length):
    # value 0 -> op 1 -> value 2 -> ... -> op -> value 0: the upward links form a cycle
    n = 2 * length
    nodes = [("v", i, 0) if i % 2 == 0 else ("o", i) for i in range(n)]
    edges = [("ov", i + 1, i) if i % 2 == 0 else ("vo", (i + 1) % n, i) for i in range(n)]
    g = make_graph(nodes, edges)
    assert g.is_below(0, [n + 1]) is False
    assert g.is_below(0, [n - 2]) is True
    assert g.is_below(0, [n - 1], include_self=False) is True
    assert g.traces(0) == []  # every path runs back into itself


@pytest.mark.parametrize("length", [2, 100])
def test_operator_parent_cycle_ends(length):
    # Wrong-kind links make operators 1..length a cycle of parent links; the
    # climb from value 0 through them must end.
    nodes = [("v", 0, 0)] + [("o", i) for i in range(1, length + 1)]
    edges = [("ov", 1, 0)] + [("vo", i % length + 1, i) for i in range(1, length + 1)]
    g = make_graph(nodes, edges)
    assert g.is_below(0, [length + 7]) is False
    assert g.is_below(0, [length]) is True
    assert g.is_below(0, [length], skip=[2 if length > 2 else 1]) is False


def test_failures(example):
    panic = panic_type()
    with pytest.raises(panic, match="^index out of bounds: the len is 7 but the index is 7$"):
        example.traces(7)
    with pytest.raises(panic, match="^index out of bounds: the len is 7 but the index is 9$"):
        example.is_below(9, [0])
    with pytest.raises(TypeError, match="^argument 'skip': Can't extract `str` to `Vec`$"):
        example.is_below(0, [0], skip="0")
    with pytest.raises(TypeError, match="^argument 'below': 'int' object cannot be cast as 'bool'$"):
        example.traces(0, below=0)


FLAGS = list(itertools.product([True, False], repeat=5))


def wide_graph(seed):
    """Value 0 under operators 1..20, six of them and four others also its
    options; operator 1 over values 21..40, five of them also its options
    (wrong-kind links): link lists past the length where a trace looks
    membership up in a sorted copy."""
    rng = random.Random(seed)
    nodes = [("v", 0, 0)] + [("o", i) for i in range(1, 21)] + [("v", i, 0) for i in range(21, 41)]
    nodes += [("o", i) for i in range(41, 45)]
    edges = [("ov", o, 0) for o in rng.sample(range(1, 21), 20)]
    edges += [("vo", 0, o) for o in rng.sample(range(1, 21), 6) + list(range(41, 45))]
    edges += [("ov", 1, v) for v in rng.sample(range(21, 41), 20)]
    edges += [("vo", 1, v) for v in rng.sample(range(21, 41), 5)]
    return make_graph(nodes, edges)


@pytest.mark.parametrize("build, seed", [(random_graph, s) for s in range(60)] + [(wide_graph, s) for s in range(2)])
def test_agree_with_python_twins(build, seed):
    g = build(seed)
    p = py_traces.PyGraph.from_rust(g)
    n = g.num_nodes()
    for x in range(n):
        for flags in FLAGS:
            assert g.traces(x, *flags) == py_traces.traces(p, x, *flags)
        for targets in ([], [x], [(x * 7 + seed) % n], list(range(0, n, 3))):
            for inc in (True, False):
                skip = [(x + seed) % n] if seed % 2 else []
                assert g.is_below(x, targets, inc, skip) == py_traces.is_below(p, x, targets, inc, skip)


N = 10**6


@pytest.fixture(scope="module")
def chain():
    """Value nodes at even ids, operators at odd ids, each below the previous."""
    g = kestrane.RustGraph()
    g.add_value_with_payload(0, 0)
    for i in range(1, N):
        if i % 2:
            g.add_op_with_payload(i)
            g.connect_value_to_op(i - 1, i)
        else:
            g.add_value_with_payload(i, 0)
            g.connect_op_to_value(i - 1, i)
    return g


def test_long_chain(chain):
    bottom = N - 2 if N % 2 else N - 1
    bottom -= bottom % 2
    assert chain.traces(bottom, op_nodes=False) == [list(range(bottom, -1, -2))]
    assert chain.traces(0, above=False, below=True) == [list(range(N))]
    assert chain.is_below(bottom, [0]) is True
    assert chain.is_below(bottom, [0], skip=[N // 2]) is False
    assert chain.is_below(bottom, [N + 5]) is False
