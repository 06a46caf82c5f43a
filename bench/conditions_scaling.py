"""How get_conditions scales on complete binary trees, native against the
plain Python version in tests/twins/py_conditions.py.

Tree of depth d: every value node above the bottom has one operator with two
value children, so there are 2**d leaves. The top operator (op 1) has the
conditions [[0], [1]] and every other operator (op 2) the condition [[]], so
each call expands the whole tree and returns two conditions of 2**(d-1)
leaves each.

    python bench/conditions_scaling.py [max_depth]
"""

import sys

import kestrane

import harness
from graphs import binary_tree, build_kestrane
from twins import py_conditions
from twins.py_traces import PyGraph

SNAPSHOT = {
    1: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False},
    2: {"conditions": [[]], "has_callable": False, "cumulative": False},
}


def build(depth):
    nodes, edges = binary_tree(depth, lambda level: 1 if level == 0 else 2)
    return build_kestrane(kestrane, nodes, edges), PyGraph(nodes, edges)


def main():
    max_depth = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    print(f"{'depth':>5} {'nodes':>9} {'native s':>10} {'python s':>10} {'ratio':>8}")
    for depth in range(10, max_depth + 1, 2):
        g, ref = build(depth)
        native_s, native = harness.best(lambda: kestrane.get_conditions(g, 0, SNAPSHOT, False), 5)
        python_s, python = harness.best(lambda: py_conditions.get_conditions(ref, 0, SNAPSHOT, False),
                                1 if depth >= 16 else 3)
        assert native == python
        print(f"{depth:>5} {g.num_nodes():>9} {native_s:>10.4f} {python_s:>10.3f} {python_s / native_s:>8.0f}")


if __name__ == "__main__":
    main()
