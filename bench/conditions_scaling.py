"""How get_conditions scales on complete binary trees, native against the
plain Python version in py_conditions.py.

Tree of depth d: every value node above the bottom has one operator with two
value children, so there are 2**d leaves. The top operator (op 1) has the
conditions [[0], [1]] and every other operator (op 2) the condition [[]], so
each call expands the whole tree and returns two conditions of 2**(d-1)
leaves each.

    python bench/conditions_scaling.py [max_depth]
"""

import sys
import time

import kestrane

import py_conditions

SNAPSHOT = {
    1: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False},
    2: {"conditions": [[]], "has_callable": False, "cumulative": False},
}


def build(depth):
    g, ref = kestrane.RustGraph(), py_conditions.PyGraph()
    g.add_value_with_payload(0, 0)
    ref.add_value(0)
    level = [0]
    for d in range(depth):
        nxt = []
        for v in level:
            op = g.add_op_with_payload(1 if d == 0 else 2)
            ref.add_op(1 if d == 0 else 2)
            g.connect_value_to_op(v, op)
            ref.connect_value_to_op(v, op)
            for _ in range(2):
                c = g.add_value_with_payload(0, 0)
                ref.add_value(0)
                g.connect_op_to_value(op, c)
                ref.connect_op_to_value(op, c)
                nxt.append(c)
        level = nxt
    return g, ref


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t)
    return min(times), result


def main():
    max_depth = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    print(f"{'depth':>5} {'nodes':>9} {'native s':>10} {'python s':>10} {'ratio':>8}")
    for depth in range(10, max_depth + 1, 2):
        g, ref = build(depth)
        native_s, native = best(lambda: kestrane.get_conditions(g, 0, SNAPSHOT, False), 5)
        python_s, python = best(lambda: py_conditions.get_conditions(ref, 0, SNAPSHOT, False),
                                1 if depth >= 16 else 3)
        assert native == python
        print(f"{depth:>5} {g.num_nodes():>9} {native_s:>10.4f} {python_s:>10.3f} {python_s / native_s:>8.0f}")


if __name__ == "__main__":
    main()
