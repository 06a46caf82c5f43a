"""Benchmark cases for building a graph and walking it: per call against
builtin calls of the same shape, per walk against the interpreter's floor and
the peers' depth-first walks.

Runs as part of run.py, or alone: python bench/bench_construction.py [--quick]
"""

import kestrane

import harness
from graphs import build_kestrane, layered
from peers import PEER_BUILDERS, PEER_WALK_NAMES, PEERS, peer_rows, peer_walk


def bench_add_value(_n, repeat):
    """add_value_with_payload per call on a fresh graph, against builtin
    calls of the same shape."""
    calls = 200_000
    r = range(calls)

    def subject():
        add = kestrane.RustGraph().add_value_with_payload
        for i in r:
            add(i, 3)

    def extend_floor():
        ext, chunk = bytearray().extend, bytes(64)
        for _ in r:
            ext(chunk)

    def get_floor():
        get = {}.get
        for i in r:
            get(i, 3)

    t = harness.median_time(subject, repeat)
    harness.report(f"add_value_with_payload ({calls} calls, per call)", t,
                   [("floor: bytearray.extend(bytes(64))", harness.median_time(extend_floor, repeat)),
                    ("dict.get(i, 3)", harness.median_time(get_floor, repeat))], per=calls,
                   target=harness.at_most(1.1))


def bench_construction(n, repeat):
    nodes, edges = layered(n)
    calls = len(nodes) + len(edges) + 1
    t = harness.median_time(lambda: build_kestrane(kestrane, nodes, edges), repeat)

    # The same loop shape calling a trivial builtin method of the same arity.
    d = {}

    def floor():
        get = d.get
        for nd in nodes:
            if nd[0] == "v":
                get(nd[1], nd[2])
            else:
                get(nd[1])
        for kind, a, b in edges:
            if kind == "vo":
                get(a, b)
            else:
                get(a, b)
        get(0)

    baselines = [("floor: dict.get, same arity", harness.median_time(floor, repeat))]
    baselines += peer_rows([(f"{lib} graph", lambda lib=lib: PEER_BUILDERS[lib](nodes, edges))
                            for lib in PEER_BUILDERS], repeat)
    harness.report(f"construction ({len(nodes)} nodes, per call)", t, baselines, per=calls)


def bench_traversal(n, repeat):
    nodes, edges = layered(n)
    g = build_kestrane(kestrane, nodes, edges)
    count = len(nodes)
    floor = harness.median_time(lambda: list(range(count)), repeat)
    peers = []
    for lib, build in PEER_BUILDERS.items():
        label = f"{lib} {PEER_WALK_NAMES[lib]}"
        peers.append((label, harness.median_time(peer_walk(lib, build(nodes, edges)), repeat)
                      if PEERS[lib] else None))
    for name, fn, target in [("walk_from_root(True, True)", lambda: g.walk_from_root(True, True),
                              harness.at_most(1.5)),
                             ("leaves()", g.leaves, harness.at_most(1.2))]:
        harness.report(f"{name} ({count} nodes)", harness.median_time(fn, repeat),
                       [("floor: list(range(n))", floor)] + peers, target=target)


CASES = [
    ("add_value", bench_add_value),
    ("construction", bench_construction),
    ("traversal", bench_traversal),
]

if __name__ == "__main__":
    harness.main(CASES, __doc__)
