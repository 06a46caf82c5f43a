"""Cross sections in straightforward Python: the baseline of the cross-section
benchmark and the twin the tests compare kestrane with. Sets of nodes are told
apart by the frozenset itself rather than by a 64-bit fingerprint."""

import itertools

from .py_traces import leaves_with_skip, traces


def cross_sections(g, target_leaves):
    trace_list = [t for x in target_leaves
                  for t in traces(g, x, True, False, True, True, False)]
    seen, result = set(), []
    for combo in itertools.product(*[list(enumerate(t)) for t in trace_list]):
        nodes, score = [], 0
        for v, (w, n) in enumerate(combo):
            tail = trace_list[v][w:]
            if any(c[1] in tail for j, c in enumerate(combo) if j != v):
                continue
            nodes.append(n)
            score += len(tail) - 1
        nodes += leaves_with_skip(g, frozenset(nodes))
        key = frozenset(nodes)
        if key not in seen:
            seen.add(key)
            result.append((nodes, score))
    return result
