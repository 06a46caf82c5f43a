"""Helpers shared by the test modules: the one graph builder (`make_graph`)
and the example graph, random graphs, a full dump of a graph's records,
plain-Python twins of the numbering rules, the class of internal failures,
ids that convert through `__index__` (and call back while they do), the one
way to run code in a fresh interpreter, and a harness that interrupts a long
call with Ctrl-C."""

import os
import pickle
import random
import subprocess
import sys
import textwrap

import kestrane
from twins.py_traces import PyGraph

TESTS = os.path.dirname(os.path.abspath(__file__))


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


def panic_type():
    """PanicException is not a module attribute; provoke one to get the class."""
    try:
        kestrane.RustGraph().get_children(0)
    except BaseException as e:  # noqa: BLE001
        return type(e)
    raise AssertionError("no failure")


class Index:
    """An id that is an integer only through `__index__`."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Reenter(Index):
    """An id whose conversion first calls `fn` (usually back into a graph) and
    keeps what it returned."""

    def __init__(self, fn, value=0):
        super().__init__(value)
        self.fn = fn
        self.result = None

    def __index__(self):
        self.result = self.fn()
        return self.value


def run_python(code, *args, env=None, input=None, timeout=300):
    """Runs a fresh interpreter on `code` (a program's text, dedented, or the
    path of a script) with `args`; tests/ is on its import path and `env` is
    added to this process's environment. Returns the CompletedProcess, with
    text output unless `input` is bytes."""
    program = [str(code)] if isinstance(code, os.PathLike) else ["-c", textwrap.dedent(code)]
    path = os.pathsep.join(filter(None, [TESTS, os.environ.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, *program, *map(str, args)], input=input, capture_output=True,
                          text=not isinstance(input, bytes), timeout=timeout,
                          env={**os.environ, "PYTHONPATH": path, **(env or {})})


def random_spec(seed, n=None):
    """(nodes, edges, root) for make_graph: a random mix of value and operator
    nodes with random links, duplicates and the odd wrong-kind link."""
    rng = random.Random(seed)
    n = n or rng.randrange(2, 14)
    nodes = [("v", rng.randrange(40), rng.randrange(3)) if rng.random() < 0.55 else ("o", rng.randrange(40))
             for _ in range(n)]
    nodes[0] = ("v", rng.randrange(40), rng.randrange(3))
    if all(k[0] == "v" for k in nodes):
        nodes[-1] = ("o", rng.randrange(40))
    vals = [i for i, k in enumerate(nodes) if k[0] == "v"]
    ops = [i for i, k in enumerate(nodes) if k[0] == "o"]
    edges = []
    for _ in range(rng.randrange(0, 2 * n)):
        r = rng.random()
        if r < 0.45:
            edges.append(("vo", rng.choice(vals), rng.choice(ops)))
        elif r < 0.9:
            edges.append(("ov", rng.choice(ops), rng.choice(vals)))
        elif r < 0.95:
            edges.append(("vo", rng.choice(ops), rng.choice(vals)))
        else:
            edges.append(("ov", rng.choice(vals), rng.choice(ops)))
    return nodes, edges, rng.randrange(n)


def random_graph(seed, n=None):
    nodes, edges, root = random_spec(seed, n)
    return make_graph(nodes, edges, root)


def permuted(spec, seed):
    """The same graph with its node ids shuffled; link lists keep their order
    because the connect calls are replayed in the same order."""
    nodes, edges, root = spec
    perm = list(range(len(nodes)))
    random.Random(seed).shuffle(perm)  # old id -> new id
    new_nodes = [None] * len(nodes)
    for old, new in enumerate(perm):
        new_nodes[new] = nodes[old]
    return make_graph(new_nodes, [(k, perm[a], perm[b]) for k, a, b in edges], perm[root])


def dump(g):
    """Every field of every node, and the root, of a RustGraph or of a twin's
    PyGraph."""
    if isinstance(g, PyGraph):
        return g.root, [(v, p if v else None, None if v else p[0], parent, parents, options, children)
                        for v, p, parent, parents, options, children
                        in zip(g.is_value, g.payload, g.parent, g.parents, g.options, g.children)]
    return g.get_root(), [
        (g.is_value_node(i), g.get_value_payload(i), g.get_op_id(i), g.get_parent(i),
         g.get_parents(i), g.get_options(i), g.get_children(i))
        for i in range(g.num_nodes())
    ]


def neighbour_list(g, x):
    p = g.get_parent(x)
    return g.get_options(x) + g.get_parents(x) + ([] if p is None else [p]) + g.get_children(x)


def clone_order(g):
    """Source ids in clone numbering, by the recursive formulation: number a
    node, then visit its parents, parent, options and children in that order."""
    order, seen = [], set()

    def visit(x):
        if x in seen:
            return
        seen.add(x)
        order.append(x)
        p = g.get_parent(x)
        for y in g.get_parents(x) + ([] if p is None else [p]) + g.get_options(x) + g.get_children(x):
            visit(y)

    visit(g.get_root())
    return order


def expected_clone(g):
    """dump() of the clone that clone_subgraph should build, and its corr."""
    order = clone_order(g)
    corr = {old: new for new, old in enumerate(order)}
    nodes = []
    for old in order:
        is_val, vp, op, parent, parents, options, children = dump(g)[1][old]
        nodes.append((is_val, vp, op, None if parent is None else corr[parent],
                      [corr[x] for x in parents], [corr[x] for x in options], [corr[x] for x in children]))
    return (0, nodes), corr


_SIPHASH = (
    "import pickle, sys\n"
    "data = pickle.load(sys.stdin.buffer)\n"
    "pickle.dump([hash(d) % 2**64 for d in data], sys.stdout.buffer)\n"
)


def siphash13(messages):
    """SipHash-1-3 with the all-zero key of each non-empty bytes message,
    computed by CPython's own bytes hash in an interpreter whose hash key is
    all zero (PYTHONHASHSEED=0)."""
    assert all(messages)
    proc = run_python(_SIPHASH, input=pickle.dumps(list(messages)), env={"PYTHONHASHSEED": "0"})
    assert proc.returncode == 0, proc.stderr
    return pickle.loads(proc.stdout)


def ladder(depth):
    """Value node i has two options, both with value node i + 1 as their only
    child: the leaf at the bottom has 2**depth upward traces."""
    nodes, edges = [("v", 0, 0)], []
    for i in range(depth):
        v = len(nodes)
        nodes += [("o", 0), ("o", 1), ("v", i + 1, 0)]
        edges += [("vo", v - 1, v), ("ov", v, v + 2), ("vo", v - 1, v + 1), ("ov", v + 1, v + 2)]
    return make_graph(nodes, edges), len(nodes) - 1


def chain(n):
    """n nodes, value and operator in turn, each the only link of the one
    before: one long path from the root (0) to the open end."""
    g = kestrane.RustGraph()
    for i in range(n // 2):
        v, o = g.add_value_with_payload(i, 0), g.add_op_with_payload(i)
        g.connect_value_to_op(v, o)
        if i:
            g.connect_op_to_value(o - 2, v)
    g.set_root(0)
    return g


def op(conditions, has_callable=False, cumulative=False):
    """One operator's entry of an op snapshot."""
    return {"conditions": conditions, "has_callable": has_callable, "cumulative": cumulative}


def diamonds(levels, start=None, end=None, g=None):
    """Value c0 -> operator 7 over [a, b]; a and b -> operator 8 over [c1]; and
    so on down to a leaf: 2**levels paths from the top to the one leaf. With
    `g`, the ladder is added to that graph, from value node `start` down to
    value node `end` (new nodes where either is None)."""
    g = kestrane.RustGraph() if g is None else g
    c = g.add_value_with_payload(0, 0) if start is None else start
    for i in range(levels):
        p = g.add_op_with_payload(7)
        g.connect_value_to_op(c, p)
        nxt = end if end is not None and i == levels - 1 else g.add_value_with_payload(0, 0)
        for _ in range(2):
            v = g.add_value_with_payload(0, 0)
            g.connect_op_to_value(p, v)
            q = g.add_op_with_payload(8)
            g.connect_value_to_op(v, q)
            g.connect_op_to_value(q, nxt)
        c = nxt
    return g


INTERRUPT_SCRIPT = """
import signal, time
from helpers import ladder
import kestrane

{setup}

def handler(signum, frame):
    raise {exc}("from the handler")

signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.3)
t0 = time.perf_counter()
try:
    {call}
except {exc} as e:
    assert e.args == ("from the handler",), e.args
    print("interrupted after", time.perf_counter() - t0)
print("usable", g.num_nodes())
"""


def run_interrupt(setup, call, exc="KeyboardInterrupt"):
    """Runs `setup`, then `call` with a timer whose handler raises `exc` (the
    name of an exception class) after 0.3 s; the call must end with that very
    exception. Returns the line the script prints after."""
    proc = run_python(INTERRUPT_SCRIPT.format(setup=textwrap.dedent(setup), call=call, exc=exc))
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert lines[0].startswith("interrupted after"), proc.stdout
    assert float(lines[0].split()[-1]) < 5
    return lines[1]
