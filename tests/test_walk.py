"""Walks and leaves: the fixed depth-first order, directions, root checks."""

import pytest

import kestrane
from helpers import make_graph, panic_type, run_python


@pytest.mark.parametrize("args, expected", [
    ((3,), [3, 1, 2, 0, 4, 5, 6]),
    ((3, False), [3, 5, 6]),
    ((3, True, False), [3, 1, 0, 4]),
    ((3, False, True), [3, 5, 6]),
    ((3, False, False), [3]),
    ((0,), [0, 1, 2, 3, 4, 5, 6]),
    ((6, True, False), [6, 5, 3, 1, 0, 4]),
    ((1, True, False), [1, 0]),
    ((1, False, True), [1, 2, 3, 5, 6]),
])
def test_walk_orders(example, args, expected):
    assert example.walk(*args) == expected


def test_walk_keywords(example):
    assert example.walk(3, above=False) == [3, 5, 6]
    assert example.walk(3, below=False) == [3, 1, 0, 4]


def test_walk_from_root(example):
    assert example.walk_from_root(True, True) == [0, 1, 2, 3, 4, 5, 6]
    assert example.walk_from_root(False, True) == [0, 1, 2, 3, 5, 6, 4]
    assert example.walk_from_root(True, False) == [0]
    example.set_root(6)
    assert example.walk_from_root(True, False) == [6, 5, 3, 1, 0, 4]


def test_leaves(example):
    assert example.leaves() == [2, 6]
    example.set_root(3)
    assert example.leaves() == [6]


@pytest.mark.parametrize("root", [0, 7, 100])
def test_invalid_root(example, root):
    g = kestrane.RustGraph() if root == 0 else example
    g.set_root(root)
    assert g.leaves() == []
    with pytest.raises(ValueError) as info:
        g.walk_from_root(True, True)
    assert str(info.value) == "Graph has no valid root_id set"


def test_walk_from_root_converts_before_root_check():
    g = kestrane.RustGraph()
    with pytest.raises(TypeError, match="^argument 'below': "):
        g.walk_from_root(True, 1)


def test_walk_start_out_of_range(example):
    with pytest.raises(panic_type()) as info:
        example.walk(7)
    assert str(info.value) == "index out of bounds: the len is 7 but the index is 7"


def test_leaf_cases():
    one = make_graph([("v", 0, 0)])
    assert one.leaves() == [0]
    # an operator without children is never a leaf; duplicates list once
    g = make_graph([("v", 0, 0), ("o", 1), ("o", 2), ("v", 3, 0)],
                   [("vo", 0, 1), ("vo", 0, 2), ("ov", 2, 3), ("ov", 2, 3), ("vo", 0, 2)])
    assert g.walk(0) == [0, 1, 2, 3]
    assert g.leaves() == [3]


def test_cycles_end():
    # value 0 -> op 1 -> value 2 -> op 3 -> value 0
    g = make_graph([("v", 0, 0), ("o", 1), ("v", 2, 0), ("o", 3)],
                   [("vo", 0, 1), ("ov", 1, 2), ("vo", 2, 3), ("ov", 3, 0)])
    assert g.walk(0, False, True) == [0, 1, 2, 3]
    assert g.walk(2) == [2, 1, 0, 3]
    assert g.leaves() == []


def test_first_visit_position_in_preorder():
    # value 0 has options [1, 2]; both ops take value 3; op 2 also takes value 4
    g = make_graph([("v", 0, 0), ("o", 1), ("o", 2), ("v", 3, 0), ("v", 4, 0)],
                   [("vo", 0, 1), ("vo", 0, 2), ("ov", 2, 4), ("ov", 2, 3), ("ov", 1, 3)])
    assert g.walk(0, False, True) == [0, 1, 3, 2, 4]
    assert g.walk(3, True, False) == [3, 2, 0, 1]


def test_million_node_chain_in_subprocess():
    proc = run_python("""
        import kestrane
        n = 1_000_001  # ends with a value node
        g = kestrane.RustGraph()
        g.add_value_with_payload(0, 0)
        for i in range(1, n):
            g.add_op_with_payload(i) if i % 2 else g.add_value_with_payload(i, 0)
            if i % 2:
                g.connect_value_to_op(i - 1, i)
            else:
                g.connect_op_to_value(i - 1, i)
        w = g.walk_from_root(True, True)
        assert w == list(range(n)), w[:10]
        assert g.leaves() == [n - 1]
        assert g.walk(n - 1, True, False) == list(range(n - 1, -1, -1))
        print("ok")
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == "ok"
