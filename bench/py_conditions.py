"""A plain Python version of the condition functions, step for step, used as
the baseline that the native module is measured against (and as a reference
in tests).

Graphs are `PyGraph` objects: parallel lists indexed by node id. `from_rust`
mirrors a `kestrane.RustGraph` through its query methods.
"""

from itertools import product


class PyGraph:
    def __init__(self):
        self.is_value = []
        self.payload = []  # (val_id, type_id) for a value node, op_id for an operator
        self.parent = []
        self.options = []
        self.children = []
        self.root_id = 0

    def _add(self, is_value, payload):
        self.is_value.append(is_value)
        self.payload.append(payload)
        self.parent.append(None)
        self.options.append([])
        self.children.append([])
        return len(self.is_value) - 1

    def add_value(self, val_id, type_id=0):
        return self._add(True, (val_id, type_id))

    def add_op(self, op_id):
        return self._add(False, op_id)

    def connect_value_to_op(self, val, op):
        self.options[val].append(op)
        self.parent[op] = val

    def connect_op_to_value(self, op, val):
        self.children[op].append(val)

    def num_nodes(self):
        return len(self.is_value)

    def leaves(self):
        if self.root_id >= self.num_nodes():
            return []
        out, seen, stack = [], set(), [self.root_id]
        while stack:
            x = stack.pop()
            if x in seen:
                continue
            seen.add(x)
            if self.is_value[x]:
                if not self.options[x]:
                    out.append(x)
                stack.extend(reversed(self.options[x]))
            else:
                stack.extend(reversed(self.children[x]))
        return out


def from_rust(g):
    p = PyGraph()
    for i in range(g.num_nodes()):
        if g.is_value_node(i):
            p._add(True, g.get_value_payload(i))
        else:
            p._add(False, g.get_op_id(i))
        p.options[i] = g.get_options(i)
        p.children[i] = g.get_children(i)
        p.parent[i] = g.get_parent(i)
    p.root_id = g.get_root()
    return p


def condition_combinations(conditions_by_child, offset_list):
    out = []
    for combo in product(*conditions_by_child):
        cond = []
        if len(offset_list) == 1:
            for c in combo:
                cond.extend((x + offset_list[0]) % 2**64 for x in c)
        elif not offset_list:
            for c in combo:
                cond.extend(c)
        else:
            for c, off in zip(combo, offset_list):
                cond.extend((x + off) % 2**64 for x in c)
        out.append(cond)
    return out


def update_callable_conditions(g, n, ops):
    if g.is_value[n]:
        return []
    info = ops.get(g.payload[n])
    if info is None:
        return []
    if not info["has_callable"] or info["cumulative"]:
        return [list(c) for c in info["conditions"]]
    if not g.children[n]:
        return [list(c) for c in info["conditions"]]
    a = g.children[n][0]
    if not g.is_value[a]:
        return [list(c) for c in info["conditions"]]
    callable_info = ops.get(g.payload[a][0])
    if callable_info is None:
        return []
    return [[0] + [x + 1 for x in c] for c in callable_info["conditions"]]


def count_repeated_leaves(g, v):
    if not g.options[v]:
        return 1
    return sum(count_repeated_leaves(g, c) for o in g.options[v] for c in g.children[o])


def count_unique_leaves(g, v, seen):
    if not g.options[v]:
        seen.add(v)
        return
    for o in g.options[v]:
        for c in g.children[o]:
            count_unique_leaves(g, c, seen)


def tree_conditions(g, n, ops, adopt):
    if g.is_value[n] and not g.options[n]:
        return [[]]
    if adopt:
        base = update_callable_conditions(g, n, ops)
    elif not g.is_value[n]:
        info = ops.get(g.payload[n])
        base = [list(c) for c in info["conditions"]] if info else []
    else:
        base = []
    k = list(g.children[n])
    reps = [count_repeated_leaves(g, c) for c in k]
    uniq = []
    for c in k:
        seen = set()
        count_unique_leaves(g, c, seen)
        uniq.append(len(seen))
    off = []
    for i in range(len(k)):
        off.append(0 if i == 0 else off[-1] + uniq[i - 1])
    result = []
    for c in base:
        selected = set(c)
        factors, used = [], set()
        for i in range(len(k)):
            if i in selected:
                factors.append([list(range(reps[i]))])
            elif k[i] in used:
                break
            else:
                used.add(k[i])
                if not g.options[k[i]]:
                    factors.append([[]])
                else:
                    factors.append(tree_conditions(g, g.options[k[i]][0], ops, adopt))
        else:
            result.extend(condition_combinations(factors, off))
    return result


def get_conditions(g, v, ops, adopt):
    num_leaves = len(g.leaves())
    if not g.options[v]:
        return [[]]
    f = g.options[v][0]
    tree = tree_conditions(g, f, ops, adopt)
    start = g.parent[f] if g.parent[f] is not None else f
    seq, stack = [], [start]
    while stack:
        x = stack.pop()
        if g.options[x]:
            for o in reversed(g.options[x]):
                stack.extend(reversed(g.children[o]))
        else:
            seq.append(x)
    survivors = []
    for c in tree:
        selected = set(c)
        flags, picked, nxt = {}, [], 0
        for i, x in enumerate(seq):
            sel = i in selected
            if x not in flags:
                flags[x] = sel
                if sel:
                    picked.append(nxt)
                nxt += 1
            elif flags[x] != sel:
                break
        else:
            survivors.append(picked)
    if not survivors:
        survivors = [list(range(num_leaves))]
    cands = sorted(survivors, key=len)
    kept = []
    for j in range(len(cands) - 1, -1, -1):
        c = cands[j]
        members = set(c)
        if j > 0 and any((q and all(x in members for x in q)) or (not q and len(c) >= num_leaves)
                         for q in cands[:j]):
            continue
        kept.append(c)
    return sorted(sorted(kept), key=len)
