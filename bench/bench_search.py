"""Benchmark cases on the graphs a search meets: the candidates of steps 5 and
6 of the demo search (examples/search_demo.py), grafted and deduplicated the
way the demo does it. glue_leaves is timed per returned graph against one
clone_subgraph() of the same graphs, cross_sections per distinct result
against one leaves() call of the same graphs, each with the demo's arguments.
Times are CPU times of this thread (see cpu_time).

Runs as part of run.py, or alone: python bench/bench_search.py
"""

import os
import sys
import time

import harness
import kestrane

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")
if EXAMPLES not in sys.path:
    sys.path.insert(0, EXAMPLES)

import search_demo as demo  # noqa: E402


def demo_graphs(steps):
    """The candidates of each step of the demo search, as RustGraphs: every
    element grafted onto every open leaf of the right type, shapes seen before
    dropped, in the demo's order."""
    elements = {op_id: demo.describe_graph(demo.element(op_id)) for op_id in demo.OPERATORS}
    start = demo.ValueNode(demo.INT).mirror()
    frontier = [demo.describe_graph(start)]
    seen = {(start.connection_hash(), start.equality_hash())}
    out = []
    for step in range(1, steps + 1):
        grown = []
        for key, desc in demo.graft_batch(step, elements, 0, frontier):
            if key not in seen:
                seen.add(key)
                grown.append(desc)
        out.append([demo.rebuild(d) for d in grown])
        frontier = grown
    return out


def glue_all(graphs):
    for g, leaves in graphs:
        kestrane.glue_leaves(g, leaves, [], False, demo.MAX_GLUED_LEAVES)


def clone_all(graphs):
    for g, _ in graphs:
        g.clone_subgraph()


def cross_all(graphs):
    for g, leaves in graphs:
        g.cross_sections(leaves)


def leaves_all(graphs):
    for g, _ in graphs:
        g.leaves()


# (step, targets held there)
STEPS = [(5, True), (6, True)]


def cpu_time(fn, repeat):
    """The median CPU time of this thread: a loop over thousands of calls
    outlasts a time slice, and on a shared machine its wall time then counts
    other processes' slices, which a short baseline loop mostly escapes."""
    return harness.median_time(fn, repeat, clock=time.thread_time)


def bench_search(_n, repeat):
    by_step = demo_graphs(max(s for s, _ in STEPS))
    for step, with_target in STEPS:
        graphs = [(g, g.leaves()) for g in by_step[step - 1]]
        count = len(graphs)
        glued = sum(len(kestrane.glue_leaves(g, l, [], False, demo.MAX_GLUED_LEAVES)) for g, l in graphs)
        sections = sum(len(g.cross_sections(l)) for g, l in graphs)
        for name, fn, results, label, base_fn, target in [
            ("glue_leaves", glue_all, glued, "one clone_subgraph(), same graphs", clone_all, harness.at_most(1.5)),
            ("cross_sections", cross_all, sections, "one leaves(), same graphs", leaves_all, harness.at_most(3)),
        ]:
            t = cpu_time(lambda fn=fn: fn(graphs), repeat) / results
            base = cpu_time(lambda base_fn=base_fn: base_fn(graphs), repeat) / count
            harness.row(f"{name}, demo step-{step} graphs ({count} graphs, {results} results), per result",
                    t, label, base, target=target if with_target else None)


CASES = [("search", bench_search)]


if __name__ == "__main__":
    harness.main(CASES, __doc__)
