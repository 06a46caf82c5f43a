"""A plain Python version of the condition functions, step for step, used as
the baseline that the native module is measured against (and as a reference
in tests).

Graphs are `py_traces.PyGraph` objects: parallel lists indexed by node id.
"""

from itertools import product

from .py_traces import leaves_with_skip


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
    info = ops.get(g.payload[n][0])
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
        info = ops.get(g.payload[n][0])
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
    num_leaves = len(leaves_with_skip(g))
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
