"""Benchmark cases for the enumerations (cross sections, gluing leaves): results
per second against a straightforward pure-Python version of the same steps
(tests/twins: py_cross_sections, py_glue), on inputs with at least 10,000 results,
and the time per cross section as a chain grows.

Runs as part of run.py, or alone: python bench/bench_enumerations.py [--quick]
(--all: every input, as results per second; the Python versions take minutes)
"""

import kestrane

import harness
from graphs import build_kestrane, chain
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
        t, out = harness.best(lambda: g.cross_sections(targets), repeat)
        p = PyGraph(nodes, edges)
        tp, ref = harness.best(lambda: py_cross_sections.cross_sections(p, targets), py_repeat)
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
        t, out = harness.best(lambda: kestrane.glue_leaves(g, leaves, cands, False, max_leaves), repeat)
        p = PyGraph(nodes, edges)
        tp, ref = harness.best(lambda: py_glue.glue_leaves(p, leaves, cands, False, max_leaves), py_repeat)
        assert [x.connections() for x in out] == [list(py_glue.connections(x)) for x in ref], label
        rows.append((f"glue_leaves: {label}", len(out), t, tp))
    return rows


def bench_enumerations(_n, repeat):
    for case, count, t, tp in cross_rows(repeat, True) + glue_rows(repeat, True):
        harness.report(f"{case} ({count} results), per result", t, [("pure Python, same steps", tp)],
                       per=count, target=harness.faster(50))


def bench_chain_cross_sections(_n, repeat, lengths=(1000, 2000, 4000, 8000)):
    """cross_sections on a chain, per result, as the chain grows: one result
    per value node on the trace, so a flat per-result time means each result
    costs the same however long the chain."""
    per_result = {}
    for values in lengths:
        nodes, edges = chain(values)
        g = build_kestrane(kestrane, nodes, edges)
        bottom = len(nodes) - 1
        results = len(g.cross_sections([bottom]))
        assert results == values
        per_result[values] = harness.median_time(lambda: g.cross_sections([bottom]), repeat) / results
    first, last = lengths[0], lengths[-1]
    for values in lengths[1:]:
        harness.row(f"cross_sections, chain of {values} value nodes, per result", per_result[values],
                    f"same on a chain of {first}", per_result[first],
                    target=harness.at_most(1.5) if values == last else None)


CASES = [
    ("enumerations", bench_enumerations),
    ("chain cross sections", bench_chain_cross_sections),
]


def per_second_table():
    print(f"{'case':60} {'results':>8} {'kestrane/s':>12} {'Python/s':>10} {'ratio':>7}")
    for rows in (cross_rows, glue_rows):
        for case, count, t, tp in rows(5, quick=False):
            print(f"{case:60} {count:8} {count / t:12.0f} {count / tp:10.0f} {tp / t:7.1f}", flush=True)


if __name__ == "__main__":
    ap = harness.arg_parser(__doc__)
    ap.add_argument("--all", action="store_true", help="every input, as results per second")
    args = ap.parse_args()
    if args.all:
        per_second_table()
    else:
        harness.main(CASES, __doc__, args)
