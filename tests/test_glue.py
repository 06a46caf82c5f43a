"""glue_leaves: the worked example graph by graph, limits, failure messages,
agreement with the plain-Python twin, a deep gluing chain and Ctrl-C."""

import random

import pytest

import kestrane
from helpers import dump, make_graph, panic_type, run_interrupt
from twins import py_glue, py_traces

# Root 0 (type 1) -> op 1 -> X 2, Y 3, C 4 (all type 5); C -> op 5 -> value 6 (type 7).
NODES = [("v", 100, 1), ("o", 10), ("v", 1, 5), ("v", 2, 5), ("v", 3, 5), ("o", 11), ("v", 6, 7)]
EDGES = [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3), ("ov", 1, 4), ("vo", 4, 5), ("ov", 5, 6)]

R, OP1, X, Y, C, OP5, V6 = (100, 1), 10, (1, 5), (2, 5), (3, 5), 11, (6, 7)
UNGLUED = ([(0, 1), (1, 0), (1, 2), (1, 3), (1, 4), (2, 1), (3, 1), (4, 5), (4, 1), (5, 4), (5, 6), (6, 5)],
           [R, OP1, X, Y, C, OP5, V6])
X_ON_Y = ([(0, 1), (1, 0), (1, 2), (1, 2), (1, 3), (2, 1), (3, 4), (3, 1), (4, 3), (4, 5), (5, 4)],
          [R, OP1, Y, C, OP5, V6])
ALL_ON_C = ([(0, 1), (1, 0), (1, 2), (1, 2), (1, 2), (2, 3), (2, 1), (3, 2), (3, 4), (4, 3)],
            [R, OP1, C, OP5, V6])
X_ON_C = ([(0, 1), (1, 0), (1, 2), (1, 5), (1, 2), (2, 3), (2, 1), (3, 2), (3, 4), (4, 3), (5, 1)],
          [R, OP1, C, OP5, V6, Y])


def payloads(g):
    return [g.get_value_payload(i) or g.get_op_id(i) for i in range(g.num_nodes())]


def shapes(graphs):
    assert all(g.get_root() == 0 for g in graphs)
    return [(g.connections(), payloads(g)) for g in graphs]


@pytest.fixture
def graph():
    return make_graph(NODES, EDGES)


@pytest.mark.parametrize("args, expected", [
    (([2, 3], [4], False), [UNGLUED, X_ON_Y, ALL_ON_C, X_ON_C]),
    (([2, 3], [4], True), [UNGLUED]),
    (([2, 3], [4], False, 1), [X_ON_Y, ALL_ON_C, X_ON_C]),
    (([2, 3], [4], False, 0), [ALL_ON_C]),
    (([2, 3], [4], False, None), [UNGLUED, X_ON_Y, ALL_ON_C, X_ON_C]),
    (([2, 3], [4], True, 1), []),
    (([], [4], False), [UNGLUED]),
    (([], [], False, 0), [UNGLUED]),
    (([1, 6, 2, 3], [4], False), [UNGLUED, X_ON_Y, ALL_ON_C, X_ON_C]),  # unmatched leaves are skipped
    (([2], [2], False), [UNGLUED]),         # glued onto itself: the same shape again
    (([2], [2], False, 0), [UNGLUED]),      # ... emitted by the branch when the limit kept the top out
])
def test_worked_example(graph, args, expected):
    before = dump(graph)
    assert shapes(kestrane.glue_leaves(graph, *args)) == expected
    assert dump(graph) == before


def test_first_gluable_leaf_is_glued_in_every_branch():
    # leaves A (type 5), B (type 6); candidates CA (type 5), CB (type 6)
    g = make_graph([("v", 0, 0), ("o", 0), ("v", 1, 5), ("v", 2, 6), ("v", 3, 5), ("v", 4, 6)],
                   [("vo", 0, 1)] + [("ov", 1, i) for i in range(2, 6)])
    got = [[g2.get_value_payload(c)[0] for c in g2.get_children(1)]
           for g2 in kestrane.glue_leaves(g, [2, 3], [4, 5], False)]
    assert got == [[1, 2, 3, 4], [3, 2, 3, 4], [3, 4, 3, 4]]


def test_compacts_and_drops_unconnected_nodes(graph):
    graph.add_value_with_payload(9, 5)  # node 7, not connected
    (only,) = kestrane.glue_leaves(graph, [], [], False)
    assert only.num_nodes() == 7


PANIC_CASES = [
    # leaf also a candidate: glued away, then the partner of a deeper branch
    (([2, 3], [2]), "candidate missing in corr map"),
    # ... or translated into the next clone
    (([2, 3, 4], [2]), "candidate id missing in corr"),
    (([7, 2], []), "first missing in corr map"),        # 7: type 5, not connected
    (([2, 8, 3], []), "rest id missing in corr"),       # 8: type 9, not connected
    (([2, 3], [8]), "candidate id missing in corr"),
    (([20, 2], []), "index out of bounds: the len is 9 but the index is 20"),
    (([2, 20], []), "index out of bounds: the len is 9 but the index is 20"),
    (([2], [20, 3]), "index out of bounds: the len is 9 but the index is 20"),
    (([2], [3, 20]), "candidate id missing in corr"),  # the branch on 3 comes first
]


@pytest.mark.parametrize("args, message", PANIC_CASES)
def test_internal_failures(graph, args, message):
    graph.add_value_with_payload(7, 5)
    graph.add_value_with_payload(8, 9)
    before = dump(graph)
    with pytest.raises(panic_type()) as exc:
        kestrane.glue_leaves(graph, *args, False)
    assert str(exc.value) == message
    assert dump(graph) == before


def test_out_of_range_leaf_without_pool_is_not_checked(graph):
    assert shapes(kestrane.glue_leaves(graph, [50], [], False)) == [UNGLUED]


def test_invalid_root(graph):
    graph.set_root(50)
    with pytest.raises(panic_type(), match="^Cannot clone_subgraph: Graph has no valid root_id set$"):
        kestrane.glue_leaves(graph, [2, 3], [], True)
    with pytest.raises(panic_type(), match="^index out of bounds: the len is 7 but the index is 50$"):
        kestrane.glue_leaves(graph, [2, 3], [], False)
    # nothing to clone or hash: the limit keeps the top out and nothing matches
    assert kestrane.glue_leaves(graph, [2, 3], [], True, 1) == []
    assert kestrane.glue_leaves(graph, [2, 6], [], False, 1) == []


def test_max_leaves_conversion(graph):
    with pytest.raises(OverflowError):
        kestrane.glue_leaves(graph, [2], [4], False, -1)
    with pytest.raises(TypeError, match="^argument 'max_leaves': "):
        kestrane.glue_leaves(graph, [2], [4], False, "1")
    assert len(kestrane.glue_leaves(graph, [2, 3], [4], False, True)) == 3  # True is 1


def random_case(seed):
    """A root operator over value leaves of a few types, some with a small
    subtree below them; leaves and candidates drawn from the value nodes."""
    rng = random.Random(seed)
    nodes, edges = [("v", 0, 9), ("o", 0)], [("vo", 0, 1)]
    values = []
    for _ in range(rng.randrange(2, 8)):
        v = len(nodes)
        nodes.append(("v", rng.randrange(50), rng.randrange(3)))
        edges.append(("ov", 1, v))
        values.append(v)
        if rng.random() < 0.3:
            nodes += [("o", 1), ("v", rng.randrange(50), rng.randrange(3))]
            edges += [("vo", v, v + 1), ("ov", v + 1, v + 2)]
            values.append(v + 2)
            if rng.random() < 0.5:
                edges.append(("ov", v + 1, rng.choice(values)))  # shared child
    rng.shuffle(values)
    k = rng.randrange(0, len(values) + 1)
    leaves, cands = values[:k], values[k:]
    return make_graph(nodes, edges), leaves, cands, rng.choice([None, None, 0, 1, 2, 3])


@pytest.mark.parametrize("seed", range(150))
def test_agree_with_python_twin(seed):
    g, leaves, cands, max_leaves = random_case(seed)
    p = py_traces.PyGraph.from_rust(g)
    expected = py_glue.glue_leaves(p, leaves, cands, False, max_leaves)
    got = kestrane.glue_leaves(g, leaves, cands, False, max_leaves)
    assert [dump(x) for x in got] == [dump(e) for e in expected]


def test_deep_gluing_chain():
    # k leaves of distinct types, each with one candidate: k + 1 graphs, each
    # one further leaf glued, k branches deep.
    k = 400
    nodes, edges = [("v", 0, 10**6), ("o", 0)], [("vo", 0, 1)]
    for i in range(k):
        nodes += [("v", i, i), ("v", k + i, i)]
        edges += [("ov", 1, 2 + 2 * i), ("ov", 1, 3 + 2 * i)]
    g = make_graph(nodes, edges)
    leaves, cands = list(range(2, 2 + 2 * k, 2)), list(range(3, 3 + 2 * k, 2))
    out = kestrane.glue_leaves(g, leaves, cands, False)
    assert [x.num_nodes() for x in out] == [2 + 2 * k - i for i in range(k + 1)]
    assert sorted(x[0] for x in map(out[-1].get_value_payload, out[-1].get_children(1))) == \
        sorted(list(range(k, 2 * k)) * 2)


def test_interrupt():
    setup = """
        g = kestrane.RustGraph()
        g.connect_value_to_op(g.add_value_with_payload(0, 1), g.add_op_with_payload(0))
        for i in range(18):  # 18 leaves of one type: far too many gluings to finish
            g.connect_op_to_value(1, g.add_value_with_payload(i, 5))
    """
    assert run_interrupt(setup, "kestrane.glue_leaves(g, list(range(2, 20)), [], False)") == "usable 20"

