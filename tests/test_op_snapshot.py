"""Reading the operator snapshot, and the arguments and graph access of the
three functions that take one."""

import numpy as np
import pytest

import kestrane
from helpers import Index, Reenter, panic_type


def entry(conditions=(), has_callable=False, cumulative=False, **extra):
    return {"conditions": conditions, "has_callable": has_callable, "cumulative": cumulative, **extra}


def graph():
    """Value 0 -> operator 1 (op_id 5) over leaves 2 and 3; operator 4 (op_id 6)
    over [value 2 (val_id 5), leaf 3]."""
    g = kestrane.RustGraph()
    g.add_value_with_payload(0, 0)
    g.add_op_with_payload(5)
    g.add_value_with_payload(5, 0)
    g.add_value_with_payload(1, 0)
    g.add_op_with_payload(6)
    g.connect_value_to_op(0, 1)
    for op, val in ((1, 2), (1, 3), (4, 2), (4, 3)):
        g.connect_op_to_value(op, val)
    return g


def conditions_of_5(snapshot):
    """The conditions operator 1 gets from `snapshot`."""
    return kestrane.update_callable_conditions(graph(), 1, snapshot)


@pytest.mark.parametrize("snapshot, expected", [
    ({}, []),
    ({5: entry([[0], [1, 2]], extra=1)}, [[0], [1, 2]]),
    ({5: entry(((0,), range(2)))}, [[0], [0, 1]]),
    ({5: entry([b"\x01"])}, [[1]]),
    ({5: entry([[0]], np.False_, np.True_)}, [[0]]),
    # operator 1's first child names operator 5: its own conditions, adopted
    ({5: entry([[0]], np.True_, np.False_)}, [[0, 1]]),
    ({Index(5): entry([[3]])}, [[3]]),
    ({5: entry([[0]]), Index(5): entry([[1]])}, [[1]]),
    ({Index(5): entry([[1]]), 5: entry([[0]])}, [[0]]),
    ({True: entry([[0]])}, []),
    ({4294967295: entry([[0]]), 5: entry([])}, []),
])
def test_snapshot_conversions(snapshot, expected):
    assert conditions_of_5(snapshot) == expected


def test_true_is_operator_one():
    g = kestrane.RustGraph()
    g.add_op_with_payload(1)
    assert kestrane.update_callable_conditions(g, 0, {True: entry([[2]])}) == [[2]]


def test_entries_are_read_from_the_dict_storage():
    class Lenient(dict):
        def __missing__(self, key):
            return False

        def __getitem__(self, key):
            return [[7]]

    assert conditions_of_5({5: Lenient(entry([[0]]))}) == [[0]]
    with pytest.raises(KeyError) as info:
        conditions_of_5({5: Lenient(conditions=[[0]], has_callable=False)})
    assert info.value.args == ("missing 'cumulative'",)
    assert conditions_of_5(type("Snap", (dict,), {})({5: entry([[4]])})) == [[4]]


BAD = "'str' object cannot be interpreted as an integer"
NEG = "can't convert negative int to unsigned"
RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize("snapshot, exc, message", [
    ({"5": entry()}, TypeError, BAD),
    ({-1: entry()}, OverflowError, RANGE),
    ({4294967296: entry()}, OverflowError, RANGE),
    ({2**63: entry()}, OverflowError, None),  # the host's message
    ({5: [1, 2]}, TypeError, "'list' object cannot be cast as 'dict'"),
    ({5: {"has_callable": False, "cumulative": False}}, KeyError, "missing 'conditions'"),
    ({5: {"conditions": [], "cumulative": False}}, KeyError, "missing 'has_callable'"),
    ({5: {"conditions": "01", "has_callable": False}}, KeyError, "missing 'cumulative'"),
    ({5: {"conditions": "01", "has_callable": 1}}, KeyError, "missing 'cumulative'"),
    ({5: entry("01")}, TypeError, "Can't extract `str` to `Vec`"),
    ({5: entry(["01"])}, TypeError, "Can't extract `str` to `Vec`"),
    ({5: entry([["0"]])}, TypeError, BAD),
    ({5: entry([[-1]])}, OverflowError, NEG),
    ({5: entry(5)}, TypeError, "'int' object cannot be cast as 'Sequence'"),
    ({5: entry([{0}])}, TypeError, "'set' object cannot be cast as 'Sequence'"),
    ({5: entry([], 1)}, TypeError, "'int' object cannot be cast as 'bool'"),
    ({5: entry([], False, None)}, TypeError, "'NoneType' object cannot be cast as 'bool'"),
    ({5: entry("01", 1)}, TypeError, "Can't extract `str` to `Vec`"),
    ({5: entry([[0]], 1, "x")}, TypeError, "'int' object cannot be cast as 'bool'"),
    # the first failing entry is reported, in insertion order
    ({5: entry(), 6: entry([], 0), 7: []}, TypeError, "'int' object cannot be cast as 'bool'"),
])
@pytest.mark.parametrize("call", ["tree", "get", "update"])
def test_snapshot_failures_reach_the_caller_unchanged(snapshot, exc, message, call):
    g = graph()
    fn = {
        "tree": lambda: kestrane.tree_conditions(g, 1, snapshot, False),
        "get": lambda: kestrane.get_conditions(g, 0, snapshot, False),
        "update": lambda: kestrane.update_callable_conditions(g, 1, snapshot),
    }[call]
    with pytest.raises(exc) as info:
        fn()
    assert type(info.value) is exc
    text = info.value.args[0] if exc is KeyError else str(info.value)
    assert text == message or message is None


@pytest.mark.parametrize("fn, args", [
    (kestrane.tree_conditions, (1, [], False)),
    (kestrane.get_conditions, (0, [], False)),
    (kestrane.update_callable_conditions, (1, [])),
])
def test_argument_checks_come_before_the_snapshot(fn, args):
    g = graph()
    for bad in ([], None, {5: 1}.items()):
        with pytest.raises(TypeError) as info:
            fn(g, args[0], bad, *args[2:])
        name = type(bad).__qualname__
        assert str(info.value) == f"argument 'op_snapshot': '{name}' object cannot be cast as 'dict'"
    with pytest.raises(TypeError, match="^argument 'graph': 'int' object cannot be cast as 'RustGraph'$"):
        fn(5, args[0], {5: []}, *args[2:])
    with pytest.raises(TypeError, match="^argument 'node_id': "):
        fn(g, "1", {5: []}, *args[2:])
    if len(args) == 3:
        with pytest.raises(TypeError, match="^argument 'adopt_for_callable': 'int' object cannot be cast as 'bool'$"):
            fn(g, args[0], {5: []}, 1)
        # all four by keyword
        assert fn(graph=g, node_id=args[0], op_snapshot={}, adopt_for_callable=False) in ([], [[0, 1]])
    # the snapshot is read before the node id is checked against the graph
    with pytest.raises(TypeError, match="^'list' object cannot be cast as 'dict'$"):
        fn(g, 99, {5: []}, *args[2:])
    with pytest.raises(panic_type(), match="^index out of bounds: the len is 5 but the index is 99$"):
        fn(g, 99, {}, *args[2:])


def test_snapshot_changed_while_read_is_an_internal_failure():
    panic = panic_type()
    snapshot = {}
    snapshot[Reenter(lambda: snapshot.update({9: entry()}), 5)] = entry()
    with pytest.raises(panic, match="^dictionary changed size during iteration$"):
        conditions_of_5(snapshot)

    # a key replaced by another one: same size, one entry too many
    snapshot = {}
    first = Reenter(lambda: (snapshot.pop(first), snapshot.update({7: entry()})), 5)
    snapshot[first] = entry()
    snapshot[6] = entry()
    with pytest.raises(panic, match="^dictionary keys changed during iteration$"):
        conditions_of_5(snapshot)

    class Shrinking(list):
        def __iter__(self):
            snapshot.clear()
            return super().__iter__()

    snapshot = {5: entry(Shrinking([[0]]))}
    with pytest.raises(panic, match="^dictionary changed size during iteration$"):
        conditions_of_5(snapshot)


def test_graph_access_is_taken_after_the_snapshot():
    g = graph()
    # Python code run while the snapshot is read may still change the graph
    snapshot = {Reenter(lambda: g.add_value_with_payload(0, 0), 5): entry([[0]])}
    assert kestrane.update_callable_conditions(g, 1, snapshot) == [[0]]
    assert g.num_nodes() == 6

    # while the graph is held exclusively, the late access is an internal failure
    inner = []

    def reenter():
        for fn, args in ((kestrane.tree_conditions, (1, {}, False)),
                         (kestrane.get_conditions, (0, {}, False)),
                         (kestrane.update_callable_conditions, (1, {}))):
            try:
                fn(g, *args)
            except BaseException as e:  # noqa: BLE001
                inner.append((type(e), str(e)))

    g.add_value_with_payload(Reenter(reenter), 0)
    assert inner == [(panic_type(), "Already mutably borrowed: PyBorrowError")] * 3
    # released on every path: the graph is usable again
    assert kestrane.get_conditions(g, 0, {5: entry([[0], [1]])}, False) == [[0], [1]]
