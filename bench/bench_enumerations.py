"""Benchmark cases for the enumerations (cross sections, gluing leaves): results
per second against a straightforward pure-Python version of the same steps
(tests/twins: py_cross_sections, py_glue), on inputs with at least 10,000 results.

Runs as part of run.py, or alone: python bench/bench_enumerations.py
"""

import time

import kestrane

from graphs import build_kestrane
from twins import py_cross_sections, py_glue
from twins.py_traces import PyGraph


def chains(m, length):
    """Root value node over one operator with m chains of `length` value
    nodes each (value, operator, value, ...); returns the nodes, the edges and the
    bottom of each chain. Choices on different chains never cover each other,
    so almost every combination is a new cross section."""
    nodes, edges = [("v", 0, 0), ("o", 0)], [("vo", 0, 1)]
    bottoms = []
    for c in range(m):
        top = len(nodes)
        nodes.append(("v", c, 0))
        edges.append(("ov", 1, top))
        v = top
        for i in range(1, length):
            nodes += [("o", i), ("v", 100 * c + i, 0)]
            edges += [("vo", v, v + 1), ("ov", v + 1, v + 2)]
            v += 2
        bottoms.append(v)
    return nodes, edges, bottoms


def fan(k, types=1, candidates=0):
    """Root value node over one operator with k leaves of `types` types (in
    turn), then `candidates` further value nodes to glue onto."""
    nodes, edges = [("v", 0, 99), ("o", 0)], [("vo", 0, 1)]
    for i in range(k + candidates):
        nodes.append(("v", i + 1, i % types))
        edges.append(("ov", 1, len(nodes) - 1))
    ids = list(range(2, 2 + k + candidates))
    return nodes, edges, ids[:k], ids[k:]


def timed(fn):
    t0 = time.perf_counter()
    out = fn()
    return time.perf_counter() - t0, out


def best(fn, repeat):
    times, out = [], None
    for _ in range(repeat):
        t, out = timed(fn)
        times.append(t)
    return min(times), out


# (label, builder of (nodes, edges, targets), in the quick set run.py uses)
CROSS_CASES = [
    ("4 chains of 12 value nodes", lambda: chains(4, 12), True),
    # 3**14 combinations for 2**14 + 1 cross sections: the Python version takes minutes
    ("14 chains of 2 value nodes", lambda: chains(14, 2), False),
    ("12 chains of 2 value nodes", lambda: chains(12, 2), True),
]

# (label, builder of (nodes, edges, leaves, candidates), max_leaves, in the quick set)
GLUE_CASES = [
    ("10 leaves of one type", lambda: fan(10), None, True),
    ("12 leaves of two types, 2 candidates", lambda: fan(12, types=2, candidates=2), None, False),
]


def cross_rows(repeat, quick, py_repeat=1):
    rows = []
    for label, build, in_quick in CROSS_CASES:
        if quick and not in_quick:
            continue
        nodes, edges, targets = build()
        g = build_kestrane(kestrane, nodes, edges)
        t, out = best(lambda: g.cross_sections(targets), repeat)
        p = PyGraph(nodes, edges)
        tp, ref = best(lambda: py_cross_sections.cross_sections(p, targets), py_repeat)
        assert out == ref, label
        rows.append((f"cross_sections: {label}", len(out), t, tp))
    return rows


def glue_rows(repeat, quick, py_repeat=1):
    rows = []
    for label, build, max_leaves, in_quick in GLUE_CASES:
        if quick and not in_quick:
            continue
        nodes, edges, leaves, cands = build()
        g = build_kestrane(kestrane, nodes, edges)
        t, out = best(lambda: kestrane.glue_leaves(g, leaves, cands, False, max_leaves), repeat)
        p = PyGraph(nodes, edges)
        tp, ref = best(lambda: py_glue.glue_leaves(p, leaves, cands, False, max_leaves), py_repeat)
        assert [x.connections() for x in out] == [list(py_glue.connections(x)) for x in ref], label
        rows.append((f"glue_leaves: {label}", len(out), t, tp))
    return rows


def bench_enumerations(_n, repeat):
    import run

    for case, count, t, tp in cross_rows(repeat, True) + glue_rows(repeat, True):
        run.report(f"{case} ({count} results), per result", t, [("pure Python, same steps", tp)],
                   per=count, target=run.faster(50))


CASES = [("enumerations", bench_enumerations)]


def main():
    print(f"{'case':60} {'results':>8} {'kestrane/s':>12} {'Python/s':>10} {'ratio':>7}")
    for rows in (cross_rows, glue_rows):
        for case, count, t, tp in rows(5, quick=False):
            print(f"{case:60} {count:8} {count / t:12.0f} {count / tp:10.0f} {tp / t:7.1f}", flush=True)


if __name__ == "__main__":
    main()
