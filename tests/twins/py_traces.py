"""Straightforward pure-Python versions of the graph record and of the
traversals the enumerations build on (walk, leaves, traces, is_below).

They are the baselines of the enumeration benchmarks and the twins that the
tests compare kestrane with. A PyGraph holds the same fields as a RustGraph,
one Python list per field.
"""


class PyGraph:
    def __init__(self, nodes=(), edges=(), root=0):
        """nodes: ("v", val_id, type_id) / ("o", op_id) in id order; edges:
        ("vo", val, op) / ("ov", op, val) in creation order (as the tests'
        make_graph takes them)."""
        self.is_value = [n[0] == "v" for n in nodes]
        self.payload = [tuple(n[1:]) for n in nodes]
        self.parent = [None] * len(nodes)
        self.parents = [[] for _ in nodes]
        self.options = [[] for _ in nodes]
        self.children = [[] for _ in nodes]
        self.root = root
        for kind, a, b in edges:
            if kind == "vo":
                self.options[a].append(b)
                self.parent[b] = a
            else:
                self.children[a].append(b)
                self.parents[b].append(a)

    @classmethod
    def from_rust(cls, g):
        """A snapshot of a RustGraph's records."""
        p = cls()
        n = g.num_nodes()
        p.is_value = [g.is_value_node(i) for i in range(n)]
        p.payload = [g.get_value_payload(i) or (g.get_op_id(i),) for i in range(n)]
        p.parent = [g.get_parent(i) for i in range(n)]
        p.parents = [g.get_parents(i) for i in range(n)]
        p.options = [g.get_options(i) for i in range(n)]
        p.children = [g.get_children(i) for i in range(n)]
        p.root = g.get_root()
        return p

    def __len__(self):
        return len(self.is_value)

    def copy(self):
        c = PyGraph()
        c.is_value = list(self.is_value)
        c.payload = list(self.payload)
        c.parent = list(self.parent)
        c.parents = [list(x) for x in self.parents]
        c.options = [list(x) for x in self.options]
        c.children = [list(x) for x in self.children]
        c.root = self.root
        return c

    def neighbors(self, x):
        p = self.parent[x]
        return self.options[x] + self.parents[x] + ([] if p is None else [p]) + self.children[x]


def walk(g, start, above=True, below=True, skip=frozenset()):
    out, seen, stack = [], set(), [start]
    while stack:
        x = stack.pop()
        if x in skip or x in seen:
            continue
        seen.add(x)
        out.append(x)
        if g.is_value[x]:
            if below:
                stack.extend(reversed(g.options[x]))
            if above:
                stack.extend(reversed(g.parents[x]))
        else:
            if above and g.parent[x] is not None:
                stack.append(g.parent[x])
            if below:
                stack.extend(reversed(g.children[x]))
    return out


def leaves_with_skip(g, skip=frozenset()):
    if not 0 <= g.root < len(g):
        return []
    return [x for x in walk(g, g.root, False, True, skip) if g.is_value[x] and not g.options[x]]


def traces(g, start, me_too=True, op_nodes=True, val_nodes=True, above=True, below=False):
    result, path, on_path = [], [], set()

    def eligible(x):
        if g.is_value[x]:
            return [n for n in g.neighbors(x)
                    if (below and n in g.options[x]) or (above and n in g.parents[x])]
        p = g.parent[x]
        return [n for n in g.neighbors(x)
                if (above and p is not None and n == p) or (below and n in g.children[x])]

    def rec(x):
        if x in on_path:
            return
        recorded = me_too and (val_nodes if g.is_value[x] else op_nodes)
        if recorded:
            path.append(x)
        on_path.add(x)
        nxt = eligible(x)
        if not nxt:
            result.append(list(path))
        for n in nxt:
            rec(n)
        on_path.discard(x)
        if recorded and path:
            path.pop()

    rec(start)
    return result


def is_below(g, start, nodes, include_self=True, skip=()):
    targets, skip = set(nodes), set(skip)
    value_path = []

    def rec(x):
        climbed = set()
        while True:
            if x in skip:
                return False
            if g.is_value[x]:
                break
            if x in climbed:  # a cycle of operator parent links
                return False
            climbed.add(x)
            if x in targets:
                return True
            if g.parent[x] is None:
                return False
            x = g.parent[x]
        if x in value_path:
            return False
        if include_self and x in targets:
            return True
        value_path.append(x)
        found = any(rec(p) for p in g.parents[x])
        value_path.pop()
        return found

    return rec(start)
