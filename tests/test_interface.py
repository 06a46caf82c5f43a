"""The calling convention shared by every callable: matching, conversions, the
argument rule, the access flag, failures and the module itself."""

import ast
import collections.abc
import importlib
import importlib.util
import inspect
import sys
from pathlib import Path

import numpy as np
import pytest

import kestrane
from helpers import Index, Reenter, panic_type, run_python

ROOT = Path(__file__).resolve().parent.parent


def raises(exc_type, message, fn, *args, **kwargs):
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


# ---- the module ------------------------------------------------------------------


def test_all_lists_registered_names_in_order():
    assert kestrane.__all__ == ["RustGraph", "condition_combinations", "tree_conditions",
                                "get_conditions", "update_callable_conditions", "glue_leaves"]


def test_reimport_gives_the_same_module():
    first = sys.modules.pop("kestrane")
    try:
        again = importlib.import_module("kestrane")
        assert again is first
        assert again.RustGraph is first.RustGraph
    finally:
        sys.modules["kestrane"] = first


def test_panic_exception_is_base_exception_only():
    panic = panic_type()
    assert panic.__name__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert not hasattr(kestrane, "PanicException")
    assert "BaseException" in panic.__doc__


def test_subinterpreter_is_refused():
    proc = run_python("""
        import kestrane
        try:
            import _interpreters as interp
        except ImportError:
            try:
                import _xxsubinterpreters as interp
            except ImportError:
                raise SystemExit(77)
        iid = interp.create()
        try:
            out = interp.run_string(iid, "import kestrane")
        except Exception as e:
            print("refused", type(e).__name__, e)
        else:
            print("refused" if out is not None else "imported", out)
    """)
    if proc.returncode == 77:
        pytest.skip("no sub-interpreter support module")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.startswith("refused"), proc.stdout


# ---- the class -------------------------------------------------------------------


def test_class_shape():
    cls = kestrane.RustGraph
    assert cls.__name__ == "RustGraph" and cls.__qualname__ == "RustGraph"
    assert cls.__bases__ == (object,)
    g = cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        g.__dict__
    with pytest.raises(AttributeError):
        g.anything = 1
    import weakref
    with pytest.raises(TypeError):
        weakref.ref(g)
    assert cls.__text_signature__ == "()"
    assert str(inspect.signature(cls)) == "()"
    for hook in ("__repr__", "__hash__", "__eq__", "__reduce__", "__copy__"):
        assert getattr(cls, hook, None) is getattr(object, hook, None)


def stub_signatures():
    """The text signature each def in the stubs gives its callable: methods as
    "RustGraph.name", the class's __new__ as "RustGraph". The stubs of the
    source tree, else (an installed wheel tested on its own) those installed
    beside the module."""
    path = ROOT / "stubs" / "kestrane-stubs" / "__init__.pyi"
    if not path.exists():
        path = Path(importlib.util.find_spec("kestrane").origin).parent / "kestrane-stubs" / "__init__.pyi"

    def text(fn):
        args = fn.args
        defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
        params = [a.arg if d is None else f"{a.arg}={ast.unparse(d)}" for a, d in zip(args.args, defaults)]
        if fn.name == "__new__":
            params = params[1:]
        elif params[:1] == ["self"]:
            params[0] = "$self"
        return f"({', '.join(params)})"

    out = {}
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, ast.FunctionDef):
            out[node.name] = text(node)
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            for fn in node.body:
                if isinstance(fn, ast.FunctionDef):
                    out[node.name if fn.name == "__new__" else f"{node.name}.{fn.name}"] = text(fn)
    return out


def test_stubs_state_every_signature():
    cls = kestrane.RustGraph
    native = {"RustGraph": cls.__text_signature__}
    native.update({f"RustGraph.{n}": getattr(cls, n).__text_signature__ for n in vars(cls) if not n.startswith("_")})
    native.update({n: getattr(kestrane, n).__text_signature__ for n in kestrane.__all__[1:]})
    assert stub_signatures() == native


DOCS = {
    "set_root": "Set the root node of this graph.",
    "get_root": "Return the root node id.\nNote: the graph must have at least one node for this id to be valid.",
    "walk_from_root": "Convenience: walk from root directly (fails if not set)",
    "is_value_node": "Return true if the node at `node_id` is a value node.",
    "same_spec": "Helper: check if two value nodes have the same spec (type_id).",
    "nodes": "Return the indices of nodes filtered by type.\n\nIf `val_nodes` is true, include value "
             "nodes. If `op_nodes` is true,\ninclude operator nodes. The returned vector preserves "
             "the graph's\ninternal node ordering (0..n).",
    "traces": "Compute traces starting from a node, like the Python ValueNode.traces().",
    "clone_subgraph": (
        "Clone the entire subgraph reachable from the current graph's root.\n\n"
        "The function:\n"
        "  - Uses `self.root_id` as the starting point.\n"
        "  - Traverses all reachable nodes (both up and down connections).\n"
        "  - Rebuilds a new `Graph` with cloned nodes and adjusted edge indices.\n"
        "  - Returns the cloned graph and the mapping `old_id -> new_id`.\n\n"
        "The cloned graph will have its own `root_id` set to the mapped clone\n"
        "of the original root node."),
    "clone_and_attach": (
        "Clone the current graph and attach `elem` beneath `root_leaf_id`,\n"
        "merging the leaf value with the element's root value node.\n\n"
        "The element\u2019s *operator under its root* becomes a new outgoing option\n"
        "of the given leaf. The element root value itself is not duplicated.\n\n"
        "Returns:\n"
        "  (new_graph, new_elem_leaves, old_candidates)"),
    "merge_value_nodes": (
        "Merge two value nodes by redirecting all connections from `other` to `keep`.\n"
        "Equivalent to Python ValueNode.merge(upper=True, lower=True)."),
}


METHOD_ORDER = [
    "set_root", "get_root", "walk_from_root", "add_value_with_payload", "add_op_with_payload",
    "connect_value_to_op", "connect_op_to_value", "get_children", "get_parents", "get_options",
    "neighbors", "leaves", "get_parent", "is_value_node", "get_value_payload", "get_op_id", "num_nodes",
    "nodes", "walk", "clone_subgraph", "merge_value_nodes", "connection_hash", "connections",
    "equality_hash", "same_spec", "clone_and_attach", "traces", "is_below", "cross_sections",
]


@pytest.mark.parametrize("name", METHOD_ORDER)
def test_method_doc(name):
    assert getattr(kestrane.RustGraph, name).__doc__ == DOCS.get(name)


@pytest.mark.parametrize("name", kestrane.__all__[1:])
def test_function_doc_and_module(name):
    fn = getattr(kestrane, name)
    assert fn.__doc__ is None
    assert fn.__module__ == "kestrane"


def test_methods_are_listed_in_table_order():
    names = [n for n in vars(kestrane.RustGraph) if not n.startswith("__")]
    assert names == METHOD_ORDER


# ---- argument matching ----------------------------------------------------------


@pytest.mark.parametrize("call, message", [
    (lambda g: kestrane.RustGraph(1), "RustGraph.__new__() takes 0 positional arguments but 1 was given"),
    (lambda g: kestrane.RustGraph(1, 2), "RustGraph.__new__() takes 0 positional arguments but 2 were given"),
    (lambda g: kestrane.RustGraph(x=1), "RustGraph.__new__() got an unexpected keyword argument 'x'"),
    (lambda g: g.walk(), "RustGraph.walk() missing 1 required positional argument: 'start_id'"),
    (lambda g: g.walk(0, True, True, True),
     "RustGraph.walk() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda g: g.set_root(1, 2), "RustGraph.set_root() takes 1 positional arguments but 2 were given"),
    (lambda g: g.connect_op_to_value(1, op=2), "RustGraph.connect_op_to_value() got multiple values for argument 'op'"),
    (lambda g: g.connect_op_to_value(val=1, val2=2),
     "RustGraph.connect_op_to_value() got an unexpected keyword argument 'val2'"),
    (lambda g: g.connect_op_to_value(), "RustGraph.connect_op_to_value() missing 2 required positional arguments: "
                                        "'op' and 'val'"),
    (lambda g: g.connect_op_to_value(val=3), "RustGraph.connect_op_to_value() missing 1 required positional "
                                             "argument: 'op'"),
    (lambda g: kestrane.condition_combinations(), "condition_combinations() missing 2 required positional "
                                                  "arguments: 'conditions_by_child' and 'offset_list'"),
    (lambda g: kestrane.update_callable_conditions(), "update_callable_conditions() missing 3 required positional "
                                                      "arguments: 'graph', 'node_id', and 'op_snapshot'"),
    (lambda g: g.walk(above=True, start_id="x", below=1, above2=0),
     "RustGraph.walk() got an unexpected keyword argument 'above2'"),
])
def test_matching_messages(call, message):
    raises(TypeError, message, call, kestrane.RustGraph())


def test_matching_precedes_conversion_and_keywords_work():
    g = kestrane.RustGraph()
    g.add_value_with_payload(val_id=1, type_id=2)
    g.add_op_with_payload(op_id=3)
    g.connect_value_to_op(op=1, val=0)
    assert g.walk(start_id=0, below=False) == [0]
    assert g.walk(0, below=True, above=False) == [0, 1]
    # A surplus positional is reported before a bad value is converted.
    raises(TypeError, "RustGraph.walk() takes from 1 to 3 positional arguments but 4 were given",
           g.walk, "x", "y", "z", "w")


def test_noargs_methods_use_host_message():
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        kestrane.RustGraph().num_nodes(1)


def test_wrong_receiver():
    with pytest.raises(TypeError):
        kestrane.RustGraph.num_nodes(5)
    with pytest.raises(TypeError):
        kestrane.RustGraph.walk(5, 0)


# ---- conversions and the argument rule -------------------------------------------


def one_node_graph():
    g = kestrane.RustGraph()
    g.add_value_with_payload(0, 0)
    g.add_value_with_payload(0, 0)
    return g


@pytest.mark.parametrize("value, expected", [(0, 0), (1, 1), (True, 1), (False, 0), (Index(1), 1),
                                             (np.int64(1), 1)])
def test_node_id_accepts_integers(value, expected):
    g = one_node_graph()
    g.connect_op_to_value(value, 0)
    assert g.get_parents(0) == [expected]


def test_node_id_failures():
    g = one_node_graph()
    e = raises(TypeError, "argument 'node_id': 'str' object cannot be interpreted as an integer",
               g.get_children, "3")
    assert e.__cause__ is None
    with pytest.raises(TypeError, match=r"^argument 'node_id': "):
        g.get_children(1.0)
    with pytest.raises(OverflowError) as info:
        g.get_children(-1)
    assert "argument" not in str(info.value)
    with pytest.raises(OverflowError) as info:
        g.get_children(2**64)
    assert "argument" not in str(info.value)
    assert g.get_children(True) == g.get_children(1)


@pytest.mark.parametrize("value", [-1, 4294967296, Index(-5)])
def test_u32_range(value):
    g = kestrane.RustGraph()
    raises(OverflowError, "out of range integral type conversion attempted", g.add_op_with_payload, value)
    assert g.num_nodes() == 0


def test_u32_beyond_i64_uses_host_overflow_and_type_errors_name_the_argument():
    g = kestrane.RustGraph()
    with pytest.raises(OverflowError) as info:
        g.add_op_with_payload(2**64)
    assert str(info.value) != "out of range integral type conversion attempted"
    with pytest.raises(TypeError, match=r"^argument 'type_id': "):
        g.add_value_with_payload(1, "2")
    assert g.num_nodes() == 0
    assert g.add_op_with_payload(Index(4294967295)) == 0
    assert g.get_op_id(0) == 4294967295


@pytest.mark.parametrize("value, ok", [
    (True, True), (False, True), (np.True_, True), (np.bool_(False), True),
    (1, False), (0, False), (None, False), (np.int64(1), False), ("True", False),
])
def test_bool_conversion(value, ok):
    g = one_node_graph()
    if ok:
        assert g.walk(0, above=value, below=value) == [0]
    else:
        name = type(value).__qualname__
        raises(TypeError, f"argument 'above': '{name}' object cannot be cast as 'bool'", g.walk, 0, above=value)


class SeqABC(collections.abc.Sequence):
    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        return len(self.items)


class IterOnlyAbc(collections.abc.Sequence):
    """Registered as a Sequence, iterated through __iter__."""

    def __getitem__(self, i):
        raise IndexError

    def __len__(self):
        return 0

    def __iter__(self):
        return iter([2, 1])


# The list-of-ids conversion is checked through is_below(x, nodes), which is
# true for a value node x exactly when x is in `nodes`.
@pytest.mark.parametrize("value, expected", [
    ([0, 1], [0, 1]), ((0, 1), [0, 1]), (range(2), [0, 1]), (b"\x00\x01", [0, 1]),
    (SeqABC([1, 0]), [1, 0]), (IterOnlyAbc(), [2, 1]), ([], []),
])
def test_id_list_accepts_sequences(value, expected):
    g = kestrane.RustGraph()
    for _ in range(3):
        g.add_value_with_payload(0, 0)
    # x is a target of itself exactly when it is in the converted list
    assert [g.is_below(x, value) for x in range(3)] == [x in expected for x in range(3)]


@pytest.mark.parametrize("value, message", [
    ("01", "argument 'nodes': Can't extract `str` to `Vec`"),
    ({1, 2}, "argument 'nodes': 'set' object cannot be cast as 'Sequence'"),
    ({1: 2}, "argument 'nodes': 'dict' object cannot be cast as 'Sequence'"),
    ((x for x in [1]), "argument 'nodes': 'generator' object cannot be cast as 'Sequence'"),
    (5, "argument 'nodes': 'int' object cannot be cast as 'Sequence'"),
    (["1"], "argument 'nodes': 'str' object cannot be interpreted as an integer"),
])
def test_id_list_refusals(value, message):
    g = one_node_graph()
    raises(TypeError, message, g.is_below, 0, value)


def test_argument_rule_keeps_the_cause():
    class Bad:
        def __index__(self):
            try:
                raise KeyError("inner")
            except KeyError as e:
                raise TypeError("boom") from e

    g = one_node_graph()
    e = raises(TypeError, "argument 'node_id': boom", g.get_children, Bad())
    assert isinstance(e.__cause__, KeyError)


def test_argument_rule_passes_other_errors_unchanged():
    class Sub(TypeError):
        pass

    class Bad:
        def __init__(self, exc):
            self.exc = exc

        def __index__(self):
            raise self.exc

    g = one_node_graph()
    raises(Sub, "sub", g.get_children, Bad(Sub("sub")))
    raises(ValueError, "v", g.get_children, Bad(ValueError("v")))


# ---- access -----------------------------------------------------------------------


def test_exclusive_call_refuses_shared_reentry():
    g = one_node_graph()
    r = Reenter(g.num_nodes)
    raises(RuntimeError, "Already mutably borrowed", g.set_root, r)
    assert g.get_root() == 0
    g.set_root(1)  # released after the failure
    assert g.get_root() == 1


def test_shared_call_refuses_exclusive_reentry():
    g = one_node_graph()
    r = Reenter(lambda: g.add_op_with_payload(1))
    raises(RuntimeError, "Already borrowed", g.get_children, r)
    assert g.num_nodes() == 2


def test_shared_calls_nest():
    g = one_node_graph()
    r = Reenter(lambda: g.walk(1))
    assert g.get_children(r) == []
    assert r.result == [1]


def test_exclusive_calls_on_other_graphs_are_independent():
    g, h = one_node_graph(), one_node_graph()
    r = Reenter(lambda: h.add_op_with_payload(7), value=1)
    g.connect_op_to_value(r, 0)
    assert r.result == 2 and g.get_parents(0) == [1]


def test_panic_leaves_graph_usable():
    panic = panic_type()
    g = one_node_graph()
    with pytest.raises(panic) as info:
        g.connect_op_to_value(0, 5)
    assert str(info.value) == "index out of bounds: the len is 2 but the index is 5"
    assert info.value.args == ("index out of bounds: the len is 2 but the index is 5",)
    g.connect_op_to_value(0, 1)
    assert g.get_children(0) == [1]
    with pytest.raises(panic):
        g.set_root(0) or g.walk(9)
    assert g.add_op_with_payload(1) == 2  # exclusive access is free again


def test_panic_is_not_caught_by_except_exception():
    g = kestrane.RustGraph()
    caught = None
    try:
        try:
            g.get_options(3)
        except Exception:  # noqa: BLE001
            caught = "exception"
    except BaseException:  # noqa: BLE001
        caught = "base"
    assert caught == "base"


def test_results_are_fresh():
    g = one_node_graph()
    g.connect_op_to_value(0, 1)
    children = g.get_children(0)
    children.append(99)
    assert g.get_children(0) == [1]
    assert g.get_children(0) is not g.get_children(0)


@pytest.mark.parametrize("enabled", [True, False])
def test_gc_state_is_restored(example, enabled):
    import gc
    (gc.enable if enabled else gc.disable)()
    try:
        example.traces(6)
        example.connections()
        example.cross_sections([2, 6])
        assert gc.isenabled() is enabled
    finally:
        gc.enable()


class CallbackSequence(collections.abc.Sequence):
    """A sequence whose iteration calls back into a graph."""

    def __init__(self, fn):
        self.fn = fn

    def __getitem__(self, i):
        raise IndexError

    def __len__(self):
        return 1

    def __iter__(self):
        self.fn()
        return iter([0])


def test_iteration_calling_back_meets_the_access_rule():
    g = one_node_graph()
    raises(RuntimeError, "Already borrowed", g.is_below, 0, CallbackSequence(lambda: g.add_op_with_payload(1)))
    assert g.num_nodes() == 2
    seen = []
    assert g.is_below(0, CallbackSequence(lambda: seen.append(g.walk(1)))) is True
    assert seen == [[1]]
    # glue_leaves holds shared access while it converts its lists
    raises(RuntimeError, "Already borrowed", kestrane.glue_leaves, g,
           CallbackSequence(lambda: g.set_root(1)), [], False)
    assert g.get_root() == 0
    # the condition functions take their access only after reading the snapshot
    key = Reenter(lambda: g.set_root(1))
    snapshot = {key: {"conditions": [], "has_callable": False, "cumulative": False}}
    assert isinstance(kestrane.get_conditions(g, 0, snapshot, False), list)
    assert g.get_root() == 1
