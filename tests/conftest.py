import pytest

import kestrane


def make_graph(nodes, edges=(), root=0):
    """nodes: list of ("v", val_id, type_id) / ("o", op_id) in id order.
    edges: ("vo", val, op) for connect_value_to_op, ("ov", op, val) for
    connect_op_to_value, applied in order."""
    g = kestrane.RustGraph()
    for n in nodes:
        if n[0] == "v":
            g.add_value_with_payload(n[1], n[2])
        else:
            g.add_op_with_payload(n[1])
    for kind, a, b in edges:
        if kind == "vo":
            g.connect_value_to_op(a, b)
        else:
            g.connect_op_to_value(a, b)
    g.set_root(root)
    return g


# The seven-node graph used by many examples: value 0 (options [1, 4]),
# op 1 (children [2, 3]), values 2 and 3, op 4 (children [3]), op 5 under 3
# (children [6]), value 6. Payloads: val_ids 10..13, op_ids 20..22.
EXAMPLE_NODES = [
    ("v", 10, 0),
    ("o", 20),
    ("v", 11, 0),
    ("v", 12, 0),
    ("o", 21),
    ("o", 22),
    ("v", 13, 0),
]
EXAMPLE_EDGES = [
    ("vo", 0, 1),
    ("ov", 1, 2),
    ("ov", 1, 3),
    ("vo", 0, 4),
    ("ov", 4, 3),
    ("vo", 3, 5),
    ("ov", 5, 6),
]


@pytest.fixture
def example():
    return make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)


def panic_type():
    """PanicException is not a module attribute; provoke one to get the class."""
    try:
        kestrane.RustGraph().get_children(0)
    except BaseException as e:  # noqa: B036
        return type(e)
    raise AssertionError("no failure")
