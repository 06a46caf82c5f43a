"""Helpers shared by the fingerprint and clone tests: random graphs, a full
dump of a graph's records, and plain-Python twins of the numbering rules."""

import pickle
import random
import subprocess
import sys

from conftest import make_graph


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
    """Every field of every node, and the root."""
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
    proc = subprocess.run([sys.executable, "-c", _SIPHASH], input=pickle.dumps(list(messages)),
                          capture_output=True, env={"PYTHONHASHSEED": "0"}, timeout=120, check=True)
    return pickle.loads(proc.stdout)
