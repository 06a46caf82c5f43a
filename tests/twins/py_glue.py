"""Gluing leaves in straightforward Python: the baseline of the gluing
benchmark and the twin the tests compare kestrane with. Shapes are told apart
by the connection list itself rather than by its 64-bit hash."""

from .py_traces import PyGraph, walk


def clone_subgraph(g):
    """The compact clone of the part connected to the root, numbered in
    depth-first pre-order (parents, parent, options, children), and corr."""
    corr, order, stack = {}, [], [g.root]
    while stack:
        x = stack.pop()
        if x in corr:
            continue
        corr[x] = len(order)
        order.append(x)
        stack.extend(reversed(g.children[x]))
        stack.extend(reversed(g.options[x]))
        if g.parent[x] is not None:
            stack.append(g.parent[x])
        stack.extend(reversed(g.parents[x]))
    c = PyGraph()
    c.is_value = [g.is_value[x] for x in order]
    c.payload = [g.payload[x] for x in order]
    c.parent = [None if g.parent[x] is None else corr.get(g.parent[x]) for x in order]
    c.parents = [[corr[y] for y in g.parents[x]] for x in order]
    c.options = [[corr[y] for y in g.options[x]] for x in order]
    c.children = [[corr[y] for y in g.children[x]] for x in order]
    c.root = 0
    return c, corr


def connections(g):
    w = walk(g, g.root, True, True)
    pos = {x: i for i, x in enumerate(w)}
    return tuple((i, pos[n]) for i, x in enumerate(w) for n in g.neighbors(x) if n in pos)


def merge_value_nodes(g, keep, other, upper=True, lower=True):
    """The operators above (`upper`) and below (`lower`) `other` move to `keep`."""
    if keep == other:
        return
    if upper:
        for p in g.parents[other]:
            if p not in g.parents[keep]:
                g.parents[keep].append(p)
            g.children[p] = [keep if c == other else c for c in g.children[p]]
        g.parents[other] = []
    if lower:
        for o in g.options[other]:
            if o not in g.options[keep]:
                g.options[keep].append(o)
            g.parent[o] = keep
        g.options[other] = []


def glue_leaves(g, leaves, candidates, trees_only, max_leaves=None):
    seen, result = set(), []

    def within(ls):
        return max_leaves is None or len(ls) <= max_leaves

    def rec(g, leaves, candidates, flag):
        if flag:
            if within(leaves):
                result.append(clone_subgraph(g)[0])
            return
        if within(leaves):
            key = connections(g)
            if key not in seen:
                seen.add(key)
                result.append(clone_subgraph(g)[0])
        while leaves:
            first, rest = leaves[0], leaves[1:]
            matched = False
            for c in rest + candidates:
                kinds = g.is_value[first], g.is_value[c]  # both ids are checked
                if kinds == (True, True) and g.payload[first][1] == g.payload[c][1]:
                    matched = True
                    g2, corr = clone_subgraph(g)
                    merge_value_nodes(g2, corr[c], corr[first])
                    rec(g2, [corr[x] for x in rest], [corr[x] for x in candidates], False)
            leaves = rest
            if matched:
                break

    rec(g, list(leaves), list(candidates), trees_only)
    return result
