"""Reference and memory leak checks: every callable, on success and on each kind
of failure, called many times must leave the interpreter's allocated blocks and
its arguments' reference counts unchanged."""

import gc
import sys

import numpy as np
import pytest

import kestrane
from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, make_graph

ROUNDS = 3000


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Reenter:
    def __init__(self, fn):
        self.fn = fn

    def __index__(self):
        self.fn()
        return 0


class CausedTypeError:
    def __index__(self):
        try:
            raise KeyError("inner")
        except KeyError as e:
            raise TypeError("outer") from e


def graph():
    return make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)


G = graph()
EMPTY = kestrane.RustGraph()
# Arguments whose reference counts are watched.
IDX = Index(3)
BIG = 2**70
NP_TRUE = np.True_
LIST = [0, 1, 2]
TUPLE = (0, 1)
SNAPSHOT = {
    20: {"conditions": [[0], [0, 1]], "has_callable": False, "cumulative": False},
    21: {"conditions": [[0]], "has_callable": True, "cumulative": True},
}


def fresh_calls():
    """(label, call) pairs; each call may raise what its label says."""
    g = G
    calls = [
        ("new", lambda: kestrane.RustGraph()),
        ("new/surplus", lambda: kestrane.RustGraph(1)),
        ("new/keyword", lambda: kestrane.RustGraph(x=1)),
        ("num_nodes", g.num_nodes),
        ("get_root", g.get_root),
        ("leaves", g.leaves),
        ("leaves/extra arg", lambda: g.leaves(1)),
        ("walk", lambda: g.walk(IDX)),
        ("walk/keywords", lambda: g.walk(start_id=3, above=NP_TRUE, below=False)),
        ("walk/missing", lambda: g.walk()),
        ("walk/duplicate", lambda: g.walk(1, start_id=1)),
        ("walk/type error", lambda: g.walk("x")),
        ("walk/caused type error", lambda: g.walk(CausedTypeError())),
        ("walk/overflow", lambda: g.walk(BIG)),
        ("walk/bool cast", lambda: g.walk(0, above=1)),
        ("walk/panic", lambda: g.walk(99)),
        ("walk_from_root", lambda: g.walk_from_root(True, True)),
        ("walk_from_root/value error", lambda: EMPTY.walk_from_root(True, True)),
        ("nodes", lambda: g.nodes(True, NP_TRUE)),
        ("get_children", lambda: g.get_children(1)),
        ("get_parents", lambda: g.get_parents(3)),
        ("get_options", lambda: g.get_options(0)),
        ("get_parent", lambda: g.get_parent(1)),
        ("get_parent/none", lambda: g.get_parent(0)),
        ("is_value_node", lambda: g.is_value_node(0)),
        ("get_value_payload", lambda: g.get_value_payload(0)),
        ("get_value_payload/none", lambda: g.get_value_payload(1)),
        ("get_op_id", lambda: g.get_op_id(1)),
        ("same_spec", lambda: g.same_spec(0, 2)),
        ("same_spec/panic", lambda: g.same_spec(0, 20)),
        ("set_root/access conflict", lambda: g.set_root(Reenter(g.num_nodes))),
        ("get_children/access conflict", lambda: g.get_children(Reenter(lambda: g.set_root(0)))),
        ("add/overflow", lambda: EMPTY.add_op_with_payload(-1)),
        ("connect/panic", lambda: EMPTY.connect_op_to_value(0, 1)),
        ("traces", lambda: g.traces(6)),
        ("traces/panic", lambda: g.traces(60)),
        ("is_below", lambda: g.is_below(6, LIST, skip=TUPLE)),
        ("is_below/str", lambda: g.is_below(6, "01")),
        ("is_below/set", lambda: g.is_below(6, {1})),
        ("cross_sections", lambda: g.cross_sections([2, 6])),
        ("cross_sections/panic", lambda: g.cross_sections([70])),
        ("glue_leaves", lambda: kestrane.glue_leaves(g, [2, 6], [3], False)),
        ("glue_leaves/max_leaves", lambda: kestrane.glue_leaves(g, [2, 6], [], True, 1)),
        ("glue_leaves/panic", lambda: kestrane.glue_leaves(EMPTY, [], [], False)),
        ("glue_leaves/bad max", lambda: kestrane.glue_leaves(g, [], [], False, "x")),
        ("condition_combinations", lambda: kestrane.condition_combinations([[[0], [1]], [[0]]], [0, 2])),
        ("condition_combinations/str", lambda: kestrane.condition_combinations("x", [])),
        ("get_conditions", lambda: kestrane.get_conditions(g, 0, SNAPSHOT, False)),
        ("tree_conditions", lambda: kestrane.tree_conditions(g, 0, SNAPSHOT, True)),
        ("update_callable_conditions", lambda: kestrane.update_callable_conditions(g, 1, SNAPSHOT)),
        ("get_conditions/key error", lambda: kestrane.get_conditions(g, 0, {20: {"conditions": []}}, False)),
        ("get_conditions/not a dict", lambda: kestrane.get_conditions(g, 0, [], False)),
        ("get_conditions/index key", lambda: kestrane.get_conditions(
            g, 0, {Index(20): SNAPSHOT[20]}, False)),
        ("get_conditions/late access refused", lambda: g.set_root(
            Reenter(lambda: kestrane.get_conditions(g, 0, SNAPSHOT, False)))),
        ("tree_conditions/panic", lambda: kestrane.tree_conditions(g, 50, SNAPSHOT, False)),
    ]
    return calls


def run_quietly(call):
    try:
        call()
    except (Exception, kestrane_panic()):  # noqa: BLE001
        pass


_PANIC = []


def kestrane_panic():
    if not _PANIC:
        try:
            EMPTY.get_children(0)
        except BaseException as e:  # noqa: BLE001
            _PANIC.append(type(e))
    return _PANIC[0]


def blocks_after(call, rounds):
    for _ in range(50):
        run_quietly(call)
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(rounds):
        run_quietly(call)
    gc.collect()
    return sys.getallocatedblocks() - before


@pytest.mark.parametrize("label, call", fresh_calls(), ids=[c[0] for c in fresh_calls()])
def test_no_leak(label, call):
    watched = [IDX, BIG, NP_TRUE, LIST, TUPLE, G, SNAPSHOT, SNAPSHOT[20]]
    refs = [sys.getrefcount(o) for o in watched]
    grown = blocks_after(call, ROUNDS)
    # A leak of even one object per call would show as ROUNDS blocks.
    assert grown < ROUNDS // 10, f"{label}: {grown} blocks more after {ROUNDS} calls"
    assert [sys.getrefcount(o) for o in watched] == refs


def test_building_and_dropping_graphs_frees_everything():
    def build():
        g = make_graph(EXAMPLE_NODES * 20, EXAMPLE_EDGES)
        g.walk_from_root(True, True)

    assert blocks_after(build, 300) < 30
