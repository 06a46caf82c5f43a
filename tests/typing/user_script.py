"""A typed caller of kestrane: numpy integers and booleans as ids and flags, and
a TypedDict op snapshot. `make typecheck` runs it and checks it with mypy
--strict and pyright against the installed stubs."""

from typing import TypedDict

import numpy as np

import kestrane
from kestrane import RustGraph


class OpInfo(TypedDict):
    conditions: list[list[int]]
    has_callable: bool
    cumulative: bool


class NumpyOpInfo(TypedDict):
    conditions: tuple[tuple[np.int64, ...], ...]
    has_callable: np.bool_
    cumulative: bool
    name: str  # ignored by the module


def build() -> tuple[RustGraph, list[np.int64]]:
    g = RustGraph()
    root = g.add_value_with_payload(np.uint32(10), np.int8(1))
    op = g.add_op_with_payload(np.int64(7))
    kids = [np.int64(g.add_value_with_payload(11 + i, 2)) for i in range(2)]
    g.connect_value_to_op(np.intp(root), op)
    for k in kids:
        g.connect_op_to_value(op, k)
    g.set_root(np.uint64(root))
    return g, kids


g, kids = build()
assert g.walk(np.int64(0), np.bool_(True), below=np.True_) == [0, 1, 2, 3]
assert g.nodes(np.array([1, 0]).any(), False) == [0, 2, 3]
assert g.is_below(kids[0], kids + [np.int64(1)], include_self=np.False_, skip=range(0))
assert g.traces(kids[1], op_nodes=False) == [[3, 0]]
assert g.cross_sections(np.array([2, 3], dtype=np.int64)) == g.cross_sections((2, 3))
assert g.is_below(kids[0], np.arange(2), skip=np.array([], dtype=np.uint32))

snapshot: dict[int, OpInfo] = {7: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False}}
assert kestrane.tree_conditions(g, np.int32(1), snapshot, False) == [[0], [1]]
assert kestrane.get_conditions(g, 0, snapshot, np.bool_(False)) == [[0], [1]]
assert kestrane.update_callable_conditions(g, 1, snapshot) == [[0], [1]]

numpy_snapshot: dict[np.uint32, NumpyOpInfo] = {
    np.uint32(7): {"conditions": ((np.int64(0), np.int64(1)),), "has_callable": np.False_,
                   "cumulative": True, "name": "pair"},
}
assert kestrane.get_conditions(g, 0, numpy_snapshot, False) == [[0, 1]]

# an unannotated snapshot is still a dict of dicts
loose = {7: {"conditions": [[1]], "has_callable": False, "cumulative": False}}
assert kestrane.tree_conditions(g, 1, loose, False) == [[1]]
assert kestrane.tree_conditions(g, 1, {}, adopt_for_callable=False) == []

pairs = kestrane.condition_combinations([[[np.int64(0)]], [[0], [1]]], [np.uint8(0), 5])
assert pairs == [[0, 5], [0, 6]]
assert kestrane.condition_combinations([[np.array([0])], [np.arange(2)]], np.array([0, 5])) == [[0, 5, 6]]
from_arrays = kestrane.glue_leaves(g, np.array(kids), np.array([], dtype=np.int64), False)
assert [h.num_nodes() for h in from_arrays] == [h.num_nodes() for h in kestrane.glue_leaves(g, kids, [], False)]
glued = kestrane.glue_leaves(g, kids, [], np.False_, max_leaves=np.int64(2))
assert [h.num_nodes() for h in glued] == [4, 3]
grown, new_leaves, others = g.clone_and_attach(glued[1], kids[0])
assert (grown.num_nodes(), new_leaves, others) == (6, [5], [3])
print("typed usage ok")
