"""Reference and memory leak checks: every callable, on success and on each kind
of failure, called many times must leave the interpreter's allocated blocks and
its arguments' reference counts unchanged."""

import gc
import sys

import numpy as np
import pytest

import kestrane
from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, Index, Reenter, make_graph, panic_type

ROUNDS = 300
# Ints up to 256 are cached by the interpreter: a leaked reference to one
# allocates nothing. So every id, payload and position the calls below take or
# return lies above that: the example graph sits at ids 300..306 with payloads
# above 1000 and type ids above 256, and 300 more leaves (ids 0..299) hang from
# its operator 301, so that clones and leaf indices count past 256 too.
B = 300


def graph():
    nodes = [("v", 1000 + i, 300) for i in range(B)]
    nodes += [("v", n[1] + 1000, n[2] + 300) if n[0] == "v" else ("o", n[1] + 1000) for n in EXAMPLE_NODES]
    edges = [(k, a + B, b + B) for k, a, b in EXAMPLE_EDGES] + [("ov", B + 1, i) for i in range(B)]
    return make_graph(nodes, edges, root=B)


class CausedTypeError:
    def __index__(self):
        try:
            raise KeyError("inner")
        except KeyError as e:
            raise TypeError("outer") from e


G = graph()
ELEM = graph()
EMPTY = kestrane.RustGraph()
# Arguments whose reference counts are watched.
IDX = Index(303)
BIG = 2**70
NP_TRUE = np.True_
LIST = [300, 301, 302]
TUPLE = (300, 301)
# Operators 301, 304 and 305 (op ids 1020, 1021, 1022); 301 has 302 children.
SNAPSHOT = {
    1020: {"conditions": [[0], [0, 1], list(range(2, 302))], "has_callable": False, "cumulative": False},
    1021: {"conditions": [[0]], "has_callable": True, "cumulative": True},
    1022: {"conditions": [[0]], "has_callable": False, "cumulative": False},
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
        ("walk/keywords", lambda: g.walk(start_id=303, above=NP_TRUE, below=False)),
        ("walk/missing", lambda: g.walk()),
        ("walk/duplicate", lambda: g.walk(301, start_id=301)),
        ("walk/type error", lambda: g.walk("x")),
        ("walk/caused type error", lambda: g.walk(CausedTypeError())),
        ("walk/overflow", lambda: g.walk(BIG)),
        ("walk/bool cast", lambda: g.walk(300, above=1)),
        ("walk/panic", lambda: g.walk(999)),
        ("walk_from_root", lambda: g.walk_from_root(True, True)),
        ("walk_from_root/value error", lambda: EMPTY.walk_from_root(True, True)),
        ("nodes", lambda: g.nodes(True, NP_TRUE)),
        ("get_children", lambda: g.get_children(301)),
        ("get_parents", lambda: g.get_parents(303)),
        ("get_options", lambda: g.get_options(300)),
        ("get_parent", lambda: g.get_parent(301)),
        ("get_parent/none", lambda: g.get_parent(300)),
        ("is_value_node", lambda: g.is_value_node(300)),
        ("get_value_payload", lambda: g.get_value_payload(300)),
        ("get_value_payload/none", lambda: g.get_value_payload(301)),
        ("get_op_id", lambda: g.get_op_id(301)),
        ("same_spec", lambda: g.same_spec(300, 302)),
        ("same_spec/panic", lambda: g.same_spec(300, 999)),
        ("set_root/access conflict", lambda: g.set_root(Reenter(g.num_nodes, B))),
        ("get_children/access conflict", lambda: g.get_children(Reenter(lambda: g.set_root(B), B))),
        ("add/overflow", lambda: EMPTY.add_op_with_payload(-1)),
        ("connect/panic", lambda: EMPTY.connect_op_to_value(300, 301)),
        ("traces", lambda: g.traces(306)),
        ("traces/panic", lambda: g.traces(999)),
        ("is_below", lambda: g.is_below(306, LIST, skip=TUPLE)),
        ("is_below/str", lambda: g.is_below(306, "01")),
        ("is_below/set", lambda: g.is_below(306, {301})),
        ("cross_sections", lambda: g.cross_sections([302, 306])),
        ("cross_sections/panic", lambda: g.cross_sections([999])),
        ("neighbors", lambda: g.neighbors(301)),
        ("connections", g.connections),
        ("connections/panic", EMPTY.connections),
        ("hashes", lambda: g.connection_hash() + g.equality_hash()),
        ("clone", g.clone_subgraph),
        ("clone/panic", EMPTY.clone_subgraph),
        ("attach", lambda: g.clone_and_attach(ELEM, 302)),
        ("attach/self", lambda: g.clone_and_attach(g, 306)),
        ("attach/panic", lambda: g.clone_and_attach(ELEM, 999)),
        ("attach/type error", lambda: g.clone_and_attach(None, 302)),
        ("merge/panic", lambda: g.merge_value_nodes(999, 302, True, True)),
        ("merge/same", lambda: g.merge_value_nodes(302, 302, True, True)),
        ("glue_leaves", lambda: kestrane.glue_leaves(g, [302, 306], [303], False)),
        ("glue_leaves/max_leaves", lambda: kestrane.glue_leaves(g, [302, 306], [], True, 1)),
        ("glue_leaves/panic", lambda: kestrane.glue_leaves(EMPTY, [], [], False)),
        ("glue_leaves/bad max", lambda: kestrane.glue_leaves(g, [], [], False, "x")),
        # one list of shared ints (400 combinations of 2), one of ints made per element
        ("condition_combinations", lambda: kestrane.condition_combinations(
            [[[i] for i in range(20)], [[i] for i in range(20)]], [300, 400])),
        ("condition_combinations/few", lambda: kestrane.condition_combinations([[[0]], [[0]]], [300, 600])),
        ("condition_combinations/str", lambda: kestrane.condition_combinations("x", [])),
        ("get_conditions", lambda: kestrane.get_conditions(g, 300, SNAPSHOT, False)),
        ("tree_conditions", lambda: kestrane.tree_conditions(g, 301, SNAPSHOT, True)),
        ("update_callable_conditions", lambda: kestrane.update_callable_conditions(g, 301, SNAPSHOT)),
        ("get_conditions/key error", lambda: kestrane.get_conditions(g, 300, {1020: {"conditions": []}}, False)),
        ("get_conditions/not a dict", lambda: kestrane.get_conditions(g, 300, [], False)),
        ("get_conditions/index key", lambda: kestrane.get_conditions(
            g, 300, {Index(1020): SNAPSHOT[1020]}, False)),
        ("get_conditions/late access refused", lambda: g.set_root(
            Reenter(lambda: kestrane.get_conditions(g, 300, SNAPSHOT, False), B))),
        ("tree_conditions/panic", lambda: kestrane.tree_conditions(g, 999, SNAPSHOT, False)),
    ]
    return calls


PANIC = panic_type()


def run_quietly(call):
    try:
        call()
    except (Exception, PANIC):  # noqa: BLE001
        pass


def blocks_after(call, rounds):
    """Blocks left allocated by `rounds` calls: the fewer of two runs in a row.
    A leak grows in both; a cache filled once (free lists, objects made on
    first use) shows in one."""
    for _ in range(50):
        run_quietly(call)
    gc.collect()
    gc.freeze()  # the collections below then scan only what the calls made
    try:
        grown = []
        for _ in range(2):
            gc.collect()
            before = sys.getallocatedblocks()
            for _ in range(rounds):
                run_quietly(call)
            gc.collect()
            grown.append(sys.getallocatedblocks() - before)
    finally:
        gc.unfreeze()
    return min(grown)


@pytest.mark.parametrize("label, call", fresh_calls(), ids=[c[0] for c in fresh_calls()])
def test_no_leak(label, call):
    watched = [IDX, BIG, NP_TRUE, LIST, TUPLE, G, ELEM, SNAPSHOT, SNAPSHOT[1020]]
    gc.collect()  # an earlier failure's traceback may still hold some of them
    refs = [sys.getrefcount(o) for o in watched]
    grown = blocks_after(call, ROUNDS)
    # A leak of one object per call shows as ROUNDS blocks; the host's caches
    # (of attribute names, for one: the numpy flag probe) can keep a few dozen.
    assert grown < ROUNDS // 2, f"{label}: {grown} blocks more after {ROUNDS} calls"
    assert [sys.getrefcount(o) for o in watched] == refs


def test_building_and_dropping_graphs_frees_everything():
    def build():
        g = make_graph(EXAMPLE_NODES * 20, EXAMPLE_EDGES)
        g.walk_from_root(True, True)

    assert blocks_after(build, 300) < 30
