"""Cloning the part connected to the root, grafting under a leaf, merging value nodes."""

import pytest

import kestrane
from helpers import Reenter, dump, expected_clone, make_graph, panic_type, random_graph

NO_ROOT = "Cannot clone_subgraph: Graph has no valid root_id set"
UNWRAP = "called `Option::unwrap()` on a `None` value"


def index_message(n, i):
    return f"index out of bounds: the len is {n} but the index is {i}"


def node(kind, payload, parent=None, parents=(), options=(), children=()):
    """An entry of dump(): kind "v" or "o"; payload (val_id, type_id) or op_id."""
    is_val = kind == "v"
    return (is_val, payload if is_val else None, None if is_val else payload, parent,
            list(parents), list(options), list(children))


# ---- clone_subgraph ------------------------------------------------------------------


# value 0 (root), value 1, op 2 under 0 with children [3, 1], value 3, op 4 under
# value 5 with children [3], value 6 unconnected.
CLONE_NODES = [("v", 0, 0), ("v", 1, 0), ("o", 2), ("v", 3, 0), ("o", 4), ("v", 5, 0), ("v", 6, 0)]
CLONE_EDGES = [("vo", 0, 2), ("ov", 2, 3), ("ov", 2, 1), ("ov", 4, 3), ("vo", 5, 4)]


def test_clone_worked_example():
    g = make_graph(CLONE_NODES, CLONE_EDGES)
    before = dump(g)
    clone, corr = g.clone_subgraph()
    assert corr == {0: 0, 2: 1, 3: 2, 4: 3, 5: 4, 1: 5}
    assert dump(clone) == (0, [
        node("v", (0, 0), options=[1]),
        node("o", 2, parent=0, children=[2, 5]),
        node("v", (3, 0), parents=[1, 3]),
        node("o", 4, parent=4, children=[2]),
        node("v", (5, 0), options=[3]),
        node("v", (1, 0), parents=[1]),
    ])
    assert dump(g) == before


@pytest.mark.parametrize("seed", range(60))
def test_clone_numbering_and_links(seed):
    g = random_graph(seed)
    expected, expected_corr = expected_clone(g)
    clone, corr = g.clone_subgraph()
    assert corr == expected_corr
    assert dump(clone) == expected
    # A clone is already numbered in walk order: cloning it again changes nothing.
    again, corr2 = clone.clone_subgraph()
    assert dump(again) == dump(clone)
    assert corr2 == {i: i for i in range(clone.num_nodes())}


def test_clone_follows_parents_parent_options_children():
    # Operator 0 holds all four kinds of link, each to its own value node
    # (wrong-kind connects give it parents and options).
    g = make_graph([("o", 0), ("v", 1, 0), ("v", 2, 0), ("v", 3, 0), ("v", 4, 0)],
                   [("ov", 0, 1), ("vo", 0, 2), ("vo", 3, 0), ("ov", 4, 0)])
    assert (g.get_parents(0), g.get_parent(0), g.get_options(0), g.get_children(0)) == ([4], 3, [2], [1])
    clone, corr = g.clone_subgraph()
    assert corr == {0: 0, 4: 1, 3: 2, 2: 3, 1: 4}
    assert dump(clone)[1][0] == node("o", 0, parent=2, parents=[1], options=[3], children=[4])


def test_clone_root_elsewhere_and_alone():
    g = make_graph(CLONE_NODES, CLONE_EDGES, root=5)
    clone, corr = g.clone_subgraph()
    assert corr[5] == 0 and clone.get_root() == 0 and 6 not in corr
    g.set_root(6)
    clone, corr = g.clone_subgraph()
    assert corr == {6: 0} and dump(clone) == (0, [node("v", (6, 0))])


def test_clone_duplicates_and_last_parent():
    # op 2 is an option of value 0 twice and of value 1 once (connected last).
    g = make_graph([("v", 0, 0), ("v", 1, 0), ("o", 2)], [("vo", 0, 2), ("vo", 0, 2), ("vo", 1, 2)])
    clone, corr = g.clone_subgraph()
    assert corr == {0: 0, 2: 1, 1: 2}
    assert dump(clone) == (0, [
        node("v", (0, 0), options=[1, 1]),
        node("o", 2, parent=2),
        node("v", (1, 0), options=[1]),
    ])


@pytest.mark.parametrize("root", [None, 3, 99])
def test_clone_invalid_root(root):
    g = kestrane.RustGraph() if root is None else make_graph(CLONE_NODES[:3], [], root)
    with pytest.raises(panic_type()) as info:
        g.clone_subgraph()
    assert str(info.value) == NO_ROOT
    assert g.num_nodes() == (0 if root is None else 3)


def test_clone_is_independent():
    g = make_graph(CLONE_NODES, CLONE_EDGES)
    clone, _ = g.clone_subgraph()
    before = dump(g)
    clone.connect_op_to_value(1, 0)
    clone.add_op_with_payload(9)
    assert dump(g) == before


# ---- clone_and_attach --------------------------------------------------------------


# Host: value 0 (root) with op 1 over values 2 and 3.
HOST_NODES = [("v", 0, 0), ("o", 1), ("v", 2, 0), ("v", 3, 0)]
HOST_EDGES = [("vo", 0, 1), ("ov", 1, 2), ("ov", 1, 3)]
# Element rooted at value 2, whose op 1 takes value 0.
ELEM_NODES = [("v", 10, 0), ("o", 11), ("v", 12, 0)]
ELEM_EDGES = [("vo", 2, 1), ("ov", 1, 0)]


def host():
    return make_graph(HOST_NODES, HOST_EDGES)


def elem():
    return make_graph(ELEM_NODES, ELEM_EDGES, root=2)


HOST_DUMP = [
    node("v", (0, 0), options=[1]),
    node("o", 1, parent=0, children=[2, 3]),
    node("v", (2, 0), parents=[1]),
    node("v", (3, 0), parents=[1]),
]


def test_attach_worked_example():
    h, e = host(), elem()
    before = dump(h), dump(e)
    g, new_leaves, old = h.clone_and_attach(e, 3)
    assert dump(g) == (0, HOST_DUMP[:3] + [
        node("v", (3, 0), parents=[1], options=[4]),
        node("o", 11, parent=3, children=[5]),
        node("v", (10, 0), parents=[4]),
    ])
    assert (new_leaves, old) == ([5], [2])
    assert (dump(h), dump(e)) == before


def test_attach_root_only_element():
    g, new_leaves, old = host().clone_and_attach(make_graph([("v", 9, 9)]), 2)
    assert dump(g) == (0, HOST_DUMP) and new_leaves == [] and old == [3]


def test_attach_after_existing_options_in_element_root_order():
    h = make_graph(HOST_NODES + [("o", 4)], HOST_EDGES + [("vo", 3, 4)])
    e = make_graph([("v", 0, 0), ("o", 1), ("o", 2), ("v", 3, 0)], [("vo", 0, 2), ("vo", 0, 1), ("ov", 2, 3)])
    g, new_leaves, old = h.clone_and_attach(e, 3)
    # Element clone: 0 root, 1 = op 2, 2 = value 3, 3 = op 1 (no children).
    assert g.get_options(3) == [4, 5, 7]
    assert [g.get_parent(i) for i in (4, 5, 7)] == [3, 3, 3]
    assert new_leaves == [6, 7]  # the childless operator counts too
    assert old == [2]  # host value 3 has an option, so it is no leaf


@pytest.mark.parametrize("leaf, options, old", [
    (0, [1, 4], [2, 3]),  # the host root
    (1, [4], [2, 3]),     # an operator node
])
def test_attach_under_non_leaves(leaf, options, old):
    g, new_leaves, got_old = host().clone_and_attach(elem(), leaf)
    assert g.get_options(leaf) == options and g.get_parent(4) == leaf
    assert (new_leaves, got_old) == ([5], old)


def test_attach_to_itself():
    h = host()
    g, new_leaves, old = h.clone_and_attach(h, 2)
    assert g.num_nodes() == 4 + 3
    assert dump(g)[1][4:] == [
        node("o", 1, parent=2, children=[5, 6]),
        node("v", (2, 0), parents=[4]),
        node("v", (3, 0), parents=[4]),
    ]
    assert g.get_options(2) == [4]
    assert (new_leaves, old) == ([5, 6], [3])


@pytest.mark.parametrize("own_option", [[], [("vo", 0, 0)]])
def test_attach_element_root_with_parents(own_option):
    # Element root 0 has option op 1 (over value 2) and is a child of op 3;
    # listed as its own option too, it has no image to attach and is skipped.
    e = make_graph([("v", 0, 0), ("o", 1), ("v", 2, 0), ("o", 3)],
                   own_option + [("vo", 0, 1), ("ov", 1, 2), ("ov", 3, 0), ("ov", 3, 2)])
    g, new_leaves, old = host().clone_and_attach(e, 3)
    # Element clone: 0 root, 1 = op 3, 2 = value 2, 3 = op 1.
    assert dump(g)[1][4:] == [
        node("o", 3, children=[5]),
        node("v", (2, 0), parents=[6, 4]),
        node("o", 1, parent=3, children=[5]),
    ]
    assert g.get_parents(3) == [1] and g.get_options(3) == [6]
    assert (new_leaves, old) == ([5], [2])


@pytest.mark.parametrize("host_graph, leaf, elem_graph, message", [
    (kestrane.RustGraph(), 0, elem(), "clone_and_attach: self has no valid root"),
    (make_graph(HOST_NODES, HOST_EDGES, root=4), 0, kestrane.RustGraph(), "clone_and_attach: self has no valid root"),
    (make_graph(HOST_NODES + [("v", 4, 0)], HOST_EDGES), 4, elem(), UNWRAP),
    (host(), 4, kestrane.RustGraph(), UNWRAP),
    (host(), 2, kestrane.RustGraph(), NO_ROOT),
    (host(), 2, make_graph(ELEM_NODES, ELEM_EDGES, root=3), NO_ROOT),
])
def test_attach_failures(host_graph, leaf, elem_graph, message):
    before = dump(host_graph)
    with pytest.raises(panic_type()) as info:
        host_graph.clone_and_attach(elem_graph, leaf)
    assert str(info.value) == message
    assert dump(host_graph) == before


def test_attach_arguments():
    h = host()
    with pytest.raises(TypeError, match="^argument 'elem': 'int' object cannot be cast as 'RustGraph'$"):
        h.clone_and_attach(3, 2)
    g, _, _ = h.clone_and_attach(root_leaf_id=2, elem=elem())
    assert g.num_nodes() == 6


def test_attach_takes_shared_access_on_both():
    h, e = host(), elem()
    # Shared access allows reads of either graph during conversion ...
    g, _, _ = h.clone_and_attach(e, Reenter(lambda: (h.num_nodes(), e.num_nodes()), 3))
    assert g.num_nodes() == 6
    # ... and refuses changes to either.
    for target in (h, e):
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            h.clone_and_attach(e, Reenter(lambda: target.add_op_with_payload(0), 3))
    assert (h.num_nodes(), e.num_nodes()) == (4, 3)


# ---- merge_value_nodes ------------------------------------------------------------


# value 0 (A) with option op 5 (Q); value 1 (B) with options ops 4 (P) and 5 (Q);
# op 2 (X) takes B and value 3 (C).
MERGE_NODES = [("v", 0, 0), ("v", 1, 0), ("o", 2), ("v", 3, 0), ("o", 4), ("o", 5)]
MERGE_EDGES = [("ov", 2, 1), ("ov", 2, 3), ("vo", 1, 4), ("vo", 1, 5), ("vo", 0, 5)]


def merge_graph(extra=()):
    return make_graph(MERGE_NODES, MERGE_EDGES + list(extra))


@pytest.mark.parametrize("upper, lower, changes", [
    (True, False, {0: dict(parents=[2]), 1: dict(parents=[]), 2: dict(children=[0, 3])}),
    (False, True, {0: dict(options=[5, 4]), 1: dict(options=[]), 4: dict(parent=0), 5: dict(parent=0)}),
    (True, True, {0: dict(parents=[2], options=[5, 4]), 1: dict(parents=[], options=[]),
                  2: dict(children=[0, 3]), 4: dict(parent=0), 5: dict(parent=0)}),
    (False, False, {}),
])
def test_merge(upper, lower, changes):
    g = merge_graph()
    expected = dump(g)[1]
    fields = {"parent": 3, "parents": 4, "options": 5, "children": 6}
    for i, fix in changes.items():
        entry = list(expected[i])
        for name, value in fix.items():
            entry[fields[name]] = value
        expected[i] = tuple(entry)
    assert g.merge_value_nodes(0, 1, upper, lower) is None
    assert dump(g) == (0, expected) and g.num_nodes() == 6


def test_merge_operator_over_both():
    g = merge_graph([("ov", 2, 0)])  # X: children [B, C, A]; A: parents [X]
    g.merge_value_nodes(0, 1, True, False)
    assert g.get_children(2) == [0, 3, 0]
    assert g.get_parents(0) == [2]


@pytest.mark.parametrize("keep, other, upper, lower", [
    (9, 9, True, True),
    (0, 9, False, False),
    (9, 0, False, False),
    (9, 4, True, True),   # other has neither parents nor options: keep is never needed
])
def test_merge_without_effect(keep, other, upper, lower):
    g = merge_graph()
    before = dump(g)
    assert g.merge_value_nodes(keep, other, upper, lower) is None
    assert dump(g) == before


@pytest.mark.parametrize("keep, other, upper, lower, index", [
    (0, 6, True, False, 6),
    (0, 7, False, True, 7),
    (8, 1, True, True, 8),
    (8, 1, True, False, 8),
    (8, 1, False, True, 8),
])
def test_merge_failure_changes_nothing(keep, other, upper, lower, index):
    g = merge_graph()
    before = dump(g)
    with pytest.raises(panic_type()) as info:
        g.merge_value_nodes(keep, other, upper, lower)
    assert str(info.value) == index_message(6, index)
    assert dump(g) == before
    g.merge_value_nodes(0, 1, True, True)  # still usable


def test_merge_upper_moves_nothing_then_lower_fails():
    # other has no parents, so the upper step does not need keep; the lower step does.
    g = make_graph([("v", 0, 0), ("o", 1)], [("vo", 0, 1)])
    before = dump(g)
    with pytest.raises(panic_type()) as info:
        g.merge_value_nodes(5, 0, True, True)
    assert str(info.value) == index_message(2, 5)
    assert dump(g) == before


def test_merge_arguments_and_access():
    g = merge_graph()
    with pytest.raises(TypeError, match="^argument 'upper': 'int' object cannot be cast as 'bool'$"):
        g.merge_value_nodes(0, 1, 1, True)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        g.merge_value_nodes(Reenter(g.num_nodes), 1, True, True)
    assert g.get_parents(1) == [2]
