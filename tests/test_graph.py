"""Graph records: construction, the root, and single-node queries."""

import pytest

import kestrane
from helpers import make_graph, panic_type


def links(g, i):
    return (g.get_parent(i), g.get_parents(i), g.get_options(i), g.get_children(i))


def all_links(g):
    return [links(g, i) for i in range(g.num_nodes())]


def test_new_graph():
    g = kestrane.RustGraph()
    assert (g.num_nodes(), g.get_root(), g.nodes(True, True)) == (0, 0, [])


def test_ids_are_dense_in_creation_order():
    g = kestrane.RustGraph()
    assert g.add_value_with_payload(0, 0) == 0
    assert g.add_op_with_payload(4294967295) == 1
    assert g.add_value_with_payload(4294967295, 4294967295) == 2
    assert g.num_nodes() == 3
    assert g.get_value_payload(2) == (4294967295, 4294967295)


def test_connect_fills_both_directions_without_checks():
    g = make_graph([("v", 0, 0), ("o", 1), ("v", 2, 0)])
    g.connect_value_to_op(0, 1)
    assert all_links(g) == [(None, [], [1], []), (0, [], [], []), (None, [], [], [])]
    g.connect_value_to_op(0, 1)
    assert g.get_options(0) == [1, 1]
    g.connect_op_to_value(1, 2)
    assert (g.get_children(1), g.get_parents(2)) == ([2], [1])
    # wrong kinds are accepted and fill the same fields
    g.connect_value_to_op(1, 0)
    assert (g.get_options(1), g.get_parent(0)) == ([0], 1)
    g.connect_value_to_op(2, 1)
    assert g.get_parent(1) == 2  # overwritten by the last connect


@pytest.mark.parametrize("method, args, index", [
    ("connect_op_to_value", (0, 5), 5),
    ("connect_op_to_value", (5, 0), 5),
    ("connect_op_to_value", (7, 5), 7),
    ("connect_value_to_op", (3, 1), 3),
    ("connect_value_to_op", (0, 3), 3),
    ("connect_value_to_op", (4, 6), 4),
])
def test_connect_out_of_range_changes_nothing(method, args, index):
    g = make_graph([("v", 0, 0), ("o", 1), ("v", 2, 0)], [("vo", 0, 1), ("ov", 1, 2)])
    before = all_links(g)
    with pytest.raises(panic_type()) as info:
        getattr(g, method)(*args)
    assert str(info.value) == f"index out of bounds: the len is 3 but the index is {index}"
    assert all_links(g) == before


def test_root_is_stored_unchecked():
    g = make_graph([("v", 0, 0)] * 3)
    g.set_root(100)
    assert g.get_root() == 100
    with pytest.raises(OverflowError):
        g.set_root(-1)
    assert g.get_root() == 100
    g.set_root(2**64 - 1)
    assert g.get_root() == 2**64 - 1


@pytest.fixture
def small():
    return make_graph([("v", 7, 3), ("o", 9), ("v", 8, 3)])


@pytest.mark.parametrize("val, op, expected", [
    (True, False, [0, 2]), (False, True, [1]), (True, True, [0, 1, 2]), (False, False, []),
])
def test_nodes_by_kind(small, val, op, expected):
    assert small.nodes(val, op) == expected


def test_payload_queries(small):
    assert [small.get_op_id(i) for i in range(3)] == [None, 9, None]
    assert [small.get_value_payload(i) for i in range(3)] == [(7, 3), None, (8, 3)]
    assert [small.is_value_node(i) for i in range(3)] == [True, False, True]


@pytest.mark.parametrize("a, b, expected", [(0, 2, True), (2, 0, True), (0, 0, True), (0, 1, False),
                                            (1, 0, False), (1, 1, False)])
def test_same_spec(small, a, b, expected):
    assert small.same_spec(a, b) is expected


def test_same_spec_type_ids_differ():
    g = make_graph([("v", 7, 3), ("v", 7, 4)])
    assert g.same_spec(0, 1) is False


@pytest.mark.parametrize("method, args, index", [
    ("same_spec", (0, 5), 5), ("same_spec", (6, 1), 6), ("same_spec", (1, 5), 5),
    ("get_children", (3,), 3), ("get_parents", (3,), 3), ("get_options", (4,), 4),
    ("get_parent", (3,), 3), ("is_value_node", (3,), 3), ("get_value_payload", (3,), 3),
    ("get_op_id", (10,), 10),
])
def test_queries_check_bounds(small, method, args, index):
    with pytest.raises(panic_type()) as info:
        getattr(small, method)(*args)
    assert str(info.value) == f"index out of bounds: the len is 3 but the index is {index}"


def test_link_queries_follow_connects(small):
    assert small.get_parent(1) is None
    small.connect_value_to_op(0, 1)
    assert (small.get_parent(1), small.get_options(0)) == (0, [1])
    small.connect_op_to_value(1, 2)
    assert (small.get_children(1), small.get_parents(2)) == ([2], [1])
    small.get_children(1).append(0)
    assert small.get_children(1) == [2]


def test_empty_graph_query_fails():
    with pytest.raises(panic_type()) as info:
        kestrane.RustGraph().get_children(0)
    assert str(info.value) == "index out of bounds: the len is 0 but the index is 0"
