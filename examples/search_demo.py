"""A small search of the kind kestrane exists for.

The Python side keeps a toy grammar of operators (each produces a value of one
type from argument values of given types) and its own `ValueNode` objects. It
mirrors them into `RustGraph` objects and grows programs breadth-first:

1. graft: hang each operator's element graph under each open leaf of the right
   type (`clone_and_attach`), dropping shapes already seen (`equality_hash`,
   with `connection_hash` as the cheaper first test);
2. glue: fold open leaves onto other value nodes of the same type
   (`glue_leaves`), which turns trees into shared graphs;
3. inspect: ask each candidate for its condition list (`get_conditions`) and
   its cross sections between the root and its open leaves (`cross_sections`).

It prints a short report: graphs explored, results per step, time taken.
"""

from __future__ import annotations

import sys
import time

import kestrane
from kestrane import RustGraph

# Types and operators of the toy grammar: name -> (result type, argument types).
INT, LIST, BOOL = 0, 1, 2
TYPE_NAMES = {INT: "Int", LIST: "List", BOOL: "Bool"}
OPERATORS: dict[int, tuple[str, int, tuple[int, ...]]] = {
    0: ("add", INT, (INT, INT)),
    1: ("len", INT, (LIST,)),
    2: ("range", LIST, (INT,)),
    3: ("less", BOOL, (INT, INT)),
    4: ("filter", LIST, (LIST, BOOL)),
    5: ("one", INT, ()),
}
# Which argument positions of an operator must be bound together.
OP_SNAPSHOT: dict[int, dict[str, object]] = {
    0: {"conditions": [[0, 1]], "has_callable": False, "cumulative": False},
    3: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False},
    4: {"conditions": [[0, 1]], "has_callable": False, "cumulative": False},
}


class ValueNode:
    """The Python side's value node: a needed value of one type, with the
    operators that could produce it as options."""

    _next_id = 0

    def __init__(self, type_id: int) -> None:
        self.type_id = type_id
        self.val_id = ValueNode._next_id
        ValueNode._next_id += 1
        self.options: list[tuple[int, list[ValueNode]]] = []

    def mirror(self) -> RustGraph:
        """Mirrors this tree into a new RustGraph rooted at this node."""
        g = kestrane.RustGraph()
        stack: list[tuple[ValueNode, int | None]] = [(self, None)]
        while stack:
            node, parent_op = stack.pop()
            vid = g.add_value_with_payload(node.val_id, node.type_id)
            if parent_op is not None:
                g.connect_op_to_value(parent_op, vid)
            for op_id, children in node.options:
                oid = g.add_op_with_payload(op_id)
                g.connect_value_to_op(vid, oid)
                stack.extend((c, oid) for c in reversed(children))
        g.set_root(0)
        return g


def element(op_id: int) -> RustGraph:
    """The element graph of one operator: a value of its result type with the
    operator as its only option and one open leaf per argument."""
    _, result, args = OPERATORS[op_id]
    v = ValueNode(result)
    v.options.append((op_id, [ValueNode(t) for t in args]))
    return v.mirror()


def open_leaves(g: RustGraph) -> list[int]:
    """Value nodes without options reached from the root."""
    return g.leaves()


def leaf_type(g: RustGraph, leaf: int) -> int | None:
    payload = g.get_value_payload(leaf)
    return None if payload is None else payload[1]


class Progress:
    """Prints a progress line when a step runs longer than a second."""

    def __init__(self, label: str) -> None:
        self.label = label
        self.start = time.perf_counter()
        self.last = self.start

    def tick(self, done: int, total: int) -> None:
        now = time.perf_counter()
        if now - self.last > 1.0:
            print(f"  ... {self.label}: {done}/{total} ({now - self.start:.1f} s)", file=sys.stderr)
            self.last = now


def graft_step(frontier: list[RustGraph], elements: dict[int, RustGraph],
               seen: set[tuple[int, int]]) -> list[RustGraph]:
    grown: list[RustGraph] = []
    progress = Progress("graft")
    for i, g in enumerate(frontier):
        progress.tick(i, len(frontier))
        for leaf in open_leaves(g):
            want = leaf_type(g, leaf)
            for op_id, elem in elements.items():
                if OPERATORS[op_id][1] != want:
                    continue
                new_graph, _new_leaves, _others = g.clone_and_attach(elem, leaf)
                key = (new_graph.connection_hash(), new_graph.equality_hash())
                if key in seen:
                    continue
                seen.add(key)
                grown.append(new_graph)
    return grown


def glue_step(graphs: list[RustGraph], max_leaves: int) -> list[RustGraph]:
    glued: list[RustGraph] = []
    progress = Progress("glue")
    for i, g in enumerate(graphs):
        progress.tick(i, len(graphs))
        leaves = open_leaves(g)
        if len(leaves) < 2:
            continue
        # graphs beyond the first returned are the ones with leaves glued
        glued.extend(kestrane.glue_leaves(g, leaves, [], False, max_leaves)[1:])
    return glued


def inspect_step(graphs: list[RustGraph]) -> tuple[int, int]:
    conditions = 0
    sections = 0
    for g in graphs:
        conditions += len(kestrane.get_conditions(g, g.get_root(), OP_SNAPSHOT, False))
        sections += len(g.cross_sections(open_leaves(g)))
    return conditions, sections


def describe(g: RustGraph, node: int | None = None, depth: int = 0) -> str:
    """A readable one-line form of a tree-shaped graph."""
    node = g.get_root() if node is None else node
    options = g.get_options(node)
    if not options or depth > 6:
        t = leaf_type(g, node)
        return "?" + (TYPE_NAMES[t] if t is not None else "op")
    op = options[0]
    op_id = g.get_op_id(op)
    name = OPERATORS[op_id][0] if op_id is not None else "?"
    args = ", ".join(describe(g, c, depth + 1) for c in g.get_children(op))
    return f"{name}({args})"


def main(steps: int = 5, goal: int = INT) -> None:
    t0 = time.perf_counter()
    elements = {op_id: element(op_id) for op_id in OPERATORS}
    frontier = [ValueNode(goal).mirror()]
    seen = {(frontier[0].connection_hash(), frontier[0].equality_hash())}
    explored = 1
    print(f"search for a value of type {TYPE_NAMES[goal]}: {len(OPERATORS)} operators, {steps} steps")
    for step in range(1, steps + 1):
        ts = time.perf_counter()
        grown = graft_step(frontier, elements, seen)
        glued = glue_step(grown, max_leaves=4)
        conditions, sections = inspect_step(grown)
        explored += len(grown) + len(glued)
        print(f"step {step}: {len(grown):6d} grafted, {len(glued):6d} glued, "
              f"{conditions:6d} conditions, {sections:7d} cross sections "
              f"({time.perf_counter() - ts:.2f} s)")
        frontier = grown
    closed = [g for g in frontier if not open_leaves(g)]
    print(f"explored {explored} graphs in {time.perf_counter() - t0:.2f} s; "
          f"{len(closed)} complete programs in the last step")
    for g in closed[:5]:
        print("  ", describe(g))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)
